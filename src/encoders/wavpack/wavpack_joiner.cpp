// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoders/wavpack/wavpack_joiner.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <stdexcept>
#include <vector>

#include "encoders/file_stream.h"
#include "encoders/wavpack/wavpack_coder.h"

namespace {

// The block header: "wvpk", ckSize, version, block_index_u8, total_samples_u8,
// total_samples, block_index, block_samples, flags, crc; little-endian.
constexpr size_t kHeaderBytes = 32;
constexpr size_t kCkSize = 4, kIndexHigh = 10, kTotalHigh = 11, kTotal = 12, kIndex = 16, kFlags = 24;
constexpr uint32_t kHasChecksum = 0x10000000;
// Metadata ids.
constexpr uint8_t kIdUnique = 0x3f, kIdOddSize = 0x40, kIdLarge = 0x80;
constexpr uint8_t kIdRiffHeader = 0x21, kIdBlockChecksum = 0x2f;

uint32_t Get32(const uint8_t *p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }
void Put32(uint8_t *p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> 8 * i);
}

// The block's length, checked against what is left of Bytes.
size_t BlockBytes(std::span<const uint8_t> Bytes) {
  if (Bytes.size() < kHeaderBytes || std::memcmp(Bytes.data(), "wvpk", 4) != 0)
    throw std::runtime_error("WavPack joiner : not a WavPack block");
  const size_t bytes = size_t(Get32(Bytes.data() + kCkSize)) + 8;
  if (bytes < kHeaderBytes || bytes > Bytes.size()) throw std::runtime_error("WavPack joiner : block cut short");
  return bytes;
}

// Calls Visit(id, where the item starts, its data) for each metadata item of
// a whole block, until it returns true.
template <class F>
void ForEachItem(std::span<uint8_t> Block, F Visit) {
  size_t at = kHeaderBytes;
  while (at + 2 <= Block.size()) {
    const uint8_t id = Block[at];
    size_t bytes = size_t(Block[at + 1]) << 1, head = 2;
    if (id & kIdLarge) {
      if (at + 4 > Block.size()) return;
      bytes += size_t(Block[at + 2]) << 9 | size_t(Block[at + 3]) << 17;
      head = 4;
    }
    if (at + head + bytes > Block.size() || (bytes == 0 && (id & kIdOddSize))) return;
    if (Visit(uint8_t(id & kIdUnique), at, Block.subspan(at + head, bytes - (id & kIdOddSize ? 1 : 0)))) return;
    at += head + bytes;
  }
}

// The block checksum of WavPack 5 covers everything before it, in 16-bit
// words; a 2-byte one is the 4-byte sum folded.
void UpdateChecksum(std::span<uint8_t> Block) {
  if (!(Get32(Block.data() + kFlags) & kHasChecksum)) return;
  ForEachItem(Block, [&](uint8_t id, size_t at, std::span<uint8_t> data) {
    if (id != kIdBlockChecksum) return false;
    if (data.size() != 2 && data.size() != 4) return true;
    uint32_t sum = uint32_t(-1);
    for (size_t i = 0; i + 1 < at; i += 2) sum = sum * 3 + Block[i] + (uint32_t(Block[i + 1]) << 8);
    if (data.size() == 4) {
      Put32(data.data(), sum);
    } else {
      sum ^= sum >> 16;
      data[0] = uint8_t(sum);
      data[1] = uint8_t(sum >> 8);
    }
    return true;
  });
}

// The 40-bit index of the block's first sample in the file.
void SetBlockIndex(std::span<uint8_t> Block, int64_t Index) {
  Put32(Block.data() + kIndex, uint32_t(Index));
  Block[kIndexHigh] = uint8_t(Index >> 32);
}

// The WAV header the library stores was made for an unknown length; it gets
// the real one as libwavpack's own update gives it (unless the file needs
// RF64, a header of another size, which it leaves too).
void SetWavHeaderLength(std::span<uint8_t> Block, int64_t Total, int FrameBytes) {
  ForEachItem(Block, [&](uint8_t id, size_t, std::span<uint8_t> riff) {
    if (id != kIdRiffHeader) return false;
    const int64_t dataBytes = Total * FrameBytes;
    const size_t n = riff.size();
    if (n < 20 || std::memcmp(riff.data(), "RIFF", 4) != 0 || std::memcmp(riff.data() + n - 8, "data", 4) != 0 ||
        dataBytes > 0xff000000LL)
      return true;
    const uint32_t oldData = Get32(riff.data() + n - 4);
    Put32(riff.data() + 4, uint32_t(Get32(riff.data() + 4) - oldData + uint32_t(dataBytes)));
    Put32(riff.data() + n - 4, uint32_t(dataBytes));
    return true;
  });
}

// The 40-bit total, whose low 32 bits all set mean "unknown": counts past
// that skip it.
void SetTotalSamples(std::span<uint8_t> Block, int64_t Total) {
  const int64_t stored = Total + Total / 0xffffffffLL;
  Put32(Block.data() + kTotal, uint32_t(stored));
  Block[kTotalHigh] = uint8_t(stored >> 32);
}

struct TWavPackSpan : TEncodedSpan {
  std::vector<uint8_t> Blocks;  // each at its place in the file
  size_t FirstBlockBytes = 0;
};

class TWavPackJoiner final : public TSpanJoiner {
 public:
  TWavPackJoiner(const std::string &FileName, const TAudioInfo &AudioInfo, const TWavPackOptions &Options)
      : FileName(FileName), AudioInfo(AudioInfo), Options(Options) {
    const TAudioInfoRec &s = AudioInfo.Streams.at(size_t(AudioInfo.Index));
    FrameBytes = std::max(1, s.Channels * s.BitsPerSample / 8);
  }
  const char *ClassName() const override { return "TWAVPACKCoder"; }
  int BufferSize() const override { return TWAVPACK_Coder::BufferBytes; }
  // Spans of whole buffers, so their blocks end where one context's would;
  // four at least, as each span's filters start afresh and relearn (about a
  // tenth more work at six seconds a span, a few hundredths at twelve).
  int64_t Quantum() const override { return 4 * (TWAVPACK_Coder::BufferBytes / FrameBytes); }

  void Start() override {
    Output = CreateFileStream(FileName);
    std::vector<uint8_t> none;
    Configure(none, true)->Start();  // the library's word on the settings, before any span
  }

  std::unique_ptr<TEncodedSpan> Encode(int64_t FirstFrame, const uint8_t *Samples, size_t Bytes,
                                       const TSpanAround &) const override {
    auto span = std::make_unique<TWavPackSpan>();
    const std::unique_ptr<TWAVPACK_Coder> coder = Configure(span->Blocks, FirstFrame == 0);
    coder->Start();
    const size_t chunk = size_t(TWAVPACK_Coder::BufferBytes / FrameBytes * FrameBytes);  // whole frames
    for (size_t at = 0; at < Bytes; at += chunk) coder->Pack(Samples + at, int(std::min(Bytes - at, chunk)));
    // Each block moves to its place in the file here, on the span's thread,
    // so appending only writes.
    std::span<uint8_t> rest(span->Blocks);
    while (!rest.empty()) {
      const std::span<uint8_t> block = rest.first(BlockBytes(rest));
      rest = rest.subspan(block.size());
      const int64_t index = int64_t(Get32(block.data() + kIndex)) + (int64_t(block[kIndexHigh]) << 32);
      SetBlockIndex(block, FirstFrame + index);
      UpdateChecksum(block);
      if (span->FirstBlockBytes == 0) span->FirstBlockBytes = block.size();
    }
    return span;
  }

  void Append(TEncodedSpan &Encoded, const uint8_t *, size_t Bytes) override {
    const auto &span = static_cast<const TWavPackSpan &>(Encoded);
    if (FirstBlock.empty() && span.FirstBlockBytes > 0) {
      FirstBlockAt = Output->Position();
      FirstBlock.assign(span.Blocks.begin(), span.Blocks.begin() + std::ptrdiff_t(span.FirstBlockBytes));
    }
    Output->Write(span.Blocks.data(), span.Blocks.size());
    Frames += int64_t(Bytes) / FrameBytes;
  }

  // A stopped job gets its sample count too, as in one piece.
  void Finish() override {
    if (!Output) return;
    const std::unique_ptr<TFileStream> output = std::move(Output);
    if (!FirstBlock.empty()) {
      SetTotalSamples(FirstBlock, Frames);
      SetWavHeaderLength(FirstBlock, Frames, FrameBytes);
      UpdateChecksum(FirstBlock);
      output->Seek(FirstBlockAt);
      output->Write(FirstBlock.data(), FirstBlock.size());
    }
    output->Close();
  }

 private:
  // A context set up as the one-piece coder sets up its own, writing to Blocks.
  std::unique_ptr<TWAVPACK_Coder> Configure(std::vector<uint8_t> &Blocks, bool WavHeader) const {
    auto coder = std::make_unique<TWAVPACK_Coder>();
    ConfigureWavPack(*coder, Options, AudioInfo);
    coder->Memory = &Blocks;
    coder->WavHeader = WavHeader;
    return coder;
  }

  const std::string FileName;
  const TAudioInfo AudioInfo;
  const TWavPackOptions Options;
  int FrameBytes = 4;
  std::unique_ptr<TFileStream> Output;
  std::vector<uint8_t> FirstBlock;  // as written, for the final count
  int64_t FirstBlockAt = 0;
  int64_t Frames = 0;  // appended so far
};

}  // namespace

std::unique_ptr<TSpanJoiner> CreateWavPackJoiner(const std::string &FileName, const TTagRec &,
                                                 const TAudioInfo &AudioInfo, const void *Options) {
  const auto &o = *static_cast<const TWavPackOptions *>(Options);
  if (o.Hybrid) return nullptr;
  return std::make_unique<TWavPackJoiner>(FileName, AudioInfo, o);
}
