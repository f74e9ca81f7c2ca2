// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/output_verifier.h"

#include <fmt/format.h>

#include <cstring>
#include <stdexcept>
#include <vector>

#include "encoders/format.h"
#include "engine/sample_converter.h"

namespace {

constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;

inline uint64_t Mix(uint64_t state, uint64_t word) {
  state = (state ^ word) * kMultiplier;
  return state ^ (state >> 29);
}

constexpr DWORD kReadBytes = 1 << 16;

struct TStream {
  HSTREAM Handle;
  ~TStream() { BASS_StreamFree(Handle); }
};

}  // namespace

void TSampleHash::Add(const void *Data, size_t Size) {
  const uint8_t *p = static_cast<const uint8_t *>(Data);
  // Complete the word a previous block left open, byte by byte.
  while (Size > 0 && Count % 8 != 0) {
    Tail |= uint64_t(*p++) << (8 * (Count % 8));
    --Size;
    if (++Count % 8 == 0) {
      State = Mix(State, Tail);
      Tail = 0;
    }
  }
  for (; Size >= 8; Size -= 8, p += 8, Count += 8) {
    uint64_t word;
    std::memcpy(&word, p, 8);
    State = Mix(State, word);
  }
  for (; Size > 0; --Size, ++Count) Tail |= uint64_t(*p++) << (8 * (Count % 8));
}

uint64_t TSampleHash::Value() const {
  // The open word and the length close the hash: a stream and the same one
  // with zero bytes added differ.
  return Mix(Mix(State, Tail), Count);
}

bool IsVerifiable(TDestinationFormat Format, const void *Options) {
  const TFormatRow *row = FormatRow(Format);
  return row && row->Lossless && row->Lossless(Options);
}

TSampleHash HashOutputSamples(const std::string &File, TDestinationFormat Format, int32_t Bits,
                              const std::function<bool()> &Stopped) {
  const TFormatRow *row = FormatRow(Format);
  if (!row) throw std::runtime_error("No format of code " + std::to_string(Format));
  // By the format's own type, not the file's name: outputs are checked under
  // their hidden names.
  const TBASSStreamCreateFunc create = GetBASSStreamFunc(row->Extension);
  const DWORD flags = BASS_STREAM_DECODE | BASS_UNICODE | (Bits > 16 ? BASS_SAMPLE_FLOAT : 0);
  const HSTREAM stream = create ? create(false, File.c_str(), 0, 0, flags) : 0;
  if (stream == 0) throw std::runtime_error(fmt::format("it cannot be opened (BASS error {})", BASS_ErrorGetCode()));
  const TStream closer{stream};

  std::vector<uint8_t> block(kReadBytes);
  TSampleConverter samples(row->Samples.Wide, Bits, block.size());
  TSampleHash hash;
  while (!(Stopped && Stopped())) {
    const DWORD got = BASS_ChannelGetData(stream, block.data(), kReadBytes);
    if (got == DWORD(-1)) {
      if (BASS_ErrorGetCode() == BASS_ERROR_ENDED) break;
      throw std::runtime_error(fmt::format("decoding it stopped (BASS error {})", BASS_ErrorGetCode()));
    }
    int size = int(got);
    const void *converted = samples.Convert(block.data(), size);
    hash.Add(converted, size_t(size));
  }
  BASS_DECODE_REPORT report;
  if (BASS_ChannelGetDecodeReport(stream, &report) && report.damaged > 0)
    throw std::runtime_error(fmt::format("{} damaged block{} passed over in decoding it", report.damaged,
                                         report.damaged == 1 ? "" : "s"));
  return hash;
}

void VerifyOutput(const std::string &File, const std::string &Shown, TDestinationFormat Format, int32_t Bits,
                  const TSampleHash &Given, const std::function<bool()> &Stopped) {
  const std::string failed = "Verification failed: \"" + Shown + "\" ";
  TSampleHash decoded;
  try {
    decoded = HashOutputSamples(File, Format, Bits, Stopped);
  } catch (const std::exception &e) {
    throw std::runtime_error(failed + "cannot be read back: " + e.what());
  }
  if (decoded.Bytes() != Given.Bytes())
    throw std::runtime_error(failed + fmt::format("decodes to {} bytes of samples; it was given {}",
                                                  decoded.Bytes(), Given.Bytes()));
  if (!(decoded == Given))
    throw std::runtime_error(failed + "does not decode to the samples it was given");
}
