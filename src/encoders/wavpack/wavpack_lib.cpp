// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoders/wavpack/wavpack_lib.h"

#include <fmt/printf.h>

#include <cstring>
#include <stdexcept>

TWAVPACK_Coder::~TWAVPACK_Coder() {
  if (Context) WavpackCloseFile(Context);
}

int TWAVPACK_Coder::WriteBlock(void *Id, void *Data, int32_t Count) {
  auto *out = static_cast<TBlockOutput *>(Id);
  if (Count < 1) return 1;
  if (!out->Stream) {
    out->Memory->insert(out->Memory->end(), static_cast<uint8_t *>(Data), static_cast<uint8_t *>(Data) + Count);
    return 1;
  }
  try {
    out->Stream->Write(Data, size_t(Count));
  } catch (const std::exception &e) {
    if (out->Error.empty()) out->Error = e.what();
    return 0;
  }
  if (out->FirstBlock.empty()) out->FirstBlock.assign(static_cast<uint8_t *>(Data), static_cast<uint8_t *>(Data) + Count);
  return 1;
}

void TWAVPACK_Coder::Fail(const char *Where) {
  std::string text = std::string(Where) + " : " + (Context ? WavpackGetErrorMessage(Context) : "");
  for (const TBlockOutput *out : {&Blocks, &Corrections})
    if (!out->Error.empty()) text += ". " + out->Error;
  throw std::runtime_error(text);
}

void TWAVPACK_Coder::Start() {
  const TAudioInfoRec &s = AudioInfo.Streams.at(size_t(AudioInfo.Index));
  Failed = false;
  Blocks = {Output, Memory, {}, {}};
  Corrections = {Correction, nullptr, {}, {}};
  Config = {};
  Config.bitrate = Hybrid ? float(Bitrate) : 0;
  Config.bits_per_sample = s.BitsPerSample;
  Config.bytes_per_sample = s.BitsPerSample / 8;
  const int levels[] = {CONFIG_FAST_FLAG, CONFIG_HIGH_FLAG, CONFIG_VERY_HIGH_FLAG};
  Config.flags = levels[Compression < 2 ? Compression : 2];
  if (Hybrid) Config.flags |= CONFIG_HYBRID_FLAG | CONFIG_BITRATE_KBPS | CONFIG_OPTIMIZE_WVC;
  if (Hybrid && Correction) Config.flags |= CONFIG_CREATE_WVC;
  Config.num_channels = s.Channels;
  Config.float_norm_exp = Config.bytes_per_sample == 4 ? 127 : 0;  // floats of nominal range +-1.0
  Config.sample_rate = s.SampleRate;
  // Mono is the centre; more channels are the WAV layouts of their count (a
  // mask naming fewer speakers than channels makes files FFmpeg refuses).
  const int32_t masks[] = {4, 4, 0x3, 0x7, 0x33, 0x37, 0x3F, 0x70F, 0x63F};
  Config.channel_mask = s.Channels >= 0 && s.Channels <= 8 ? masks[s.Channels] : 0;
  Context = WavpackOpenFileOutput(&WriteBlock, &Blocks, Config.flags & CONFIG_CREATE_WVC ? &Corrections : nullptr);
  if (!Context) throw std::runtime_error("WavpackOpenFileOutput : context is nul");
  // The length is unknown (this library refuses 0) until Finish writes it.
  if (WavpackSetConfiguration(Context, &Config, uint32_t(-1)) != 1) Fail("WavpackSetConfiguration");
  // An empty wrapper is the library's way to store none.
  if (!WavHeader && WavpackAddWrapper(Context, nullptr, 0) != 1) Fail("WavpackAddWrapper");
  if (WavpackPackInit(Context) != 1) Fail("WavpackPackInit");
  FrameBytes = s.Channels * Config.bytes_per_sample;
}

void TWAVPACK_Coder::Pack(const uint8_t *Buffer, int Size) {
  const int frames = Size / FrameBytes;
  if (Failed || frames == 0) return;
  const size_t count = size_t(frames) * size_t(Config.num_channels);
  if (Samples.size() < count) Samples.resize(count);
  int32_t *out = Samples.data();
  switch (Config.bytes_per_sample) {
    case 1:
      for (size_t i = 0; i < count; ++i) out[i] = int32_t(Buffer[i]) - 128;
      break;
    case 2: {
      const auto *in = reinterpret_cast<const int16_t *>(Buffer);
      for (size_t i = 0; i < count; ++i) out[i] = in[i];
      break;
    }
    case 3:
      for (size_t i = 0; i < count; ++i, Buffer += 3)
        out[i] = int32_t(uint32_t(Buffer[0]) << 8 | uint32_t(Buffer[1]) << 16 | uint32_t(Buffer[2]) << 24) >> 8;
      break;
    default:  // float bit patterns, as they are
      std::memcpy(out, Buffer, count * 4);
  }
  if (WavpackPackSamples(Context, out, uint32_t(frames)) != 1) Fail("WavpackPackSamples");
  if (WavpackFlushSamples(Context) != 1) {
    Failed = true;
    Fail("WavpackFlushSamples");
  }
}

void TWAVPACK_Coder::Finish() {
  Samples = {};
  if (!Context) return;
  // The first blocks were written before the length was known.
  for (TBlockOutput *out : {&Blocks, &Corrections}) {
    if (Failed || out->FirstBlock.empty() || !out->Stream) continue;
    WavpackUpdateNumSamples(Context, out->FirstBlock.data());
    try {
      out->Stream->Seek(0);
      out->Stream->Write(out->FirstBlock.data(), out->FirstBlock.size());
    } catch (const std::exception &e) {
      WavpackCloseFile(Context);
      Context = nullptr;
      throw std::runtime_error(std::string("WavpackUpdateNumSamples : Write Error. ") + e.what());
    }
  }
  WavpackCloseFile(Context);
  Context = nullptr;
}

TCoderVersionRec TWAVPACK_Coder::Version() {
  const uint32_t v = WavpackGetLibraryVersion();
  return {fmt::sprintf("%d.%d.%d (%s)", v >> 16 & 0xFF, v >> 8 & 0xFF, v & 0xFF, WavpackGetLibraryVersionString()),
          int32_t(v >> 16 & 0xFF), int32_t(v >> 8 & 0xFF), "libwavpack.so.1"};
}
