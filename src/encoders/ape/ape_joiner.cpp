// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoders/ape/ape_joiner.h"

#include <vector>

#include "encoders/ape/ape_coder.h"
#include "encoders/ape/compressor.h"
#include "encoders/ape/frame_encoder.h"

namespace {

struct TAPESpan : TEncodedSpan {
  std::vector<uint8_t> Bytes;  // the frames' logical bytes, one after another
  std::vector<size_t> Ends;    // where each frame ends in Bytes
  std::vector<int64_t> Blocks;
};

class TAPEJoiner final : public TSpanJoiner {
 public:
  TAPEJoiner(const std::string &FileName, const TAudioInfo &AudioInfo, const TAPEOptions &Options)
      : Stream(AudioInfo.Streams.at(size_t(AudioInfo.Index))) {
    Coder.FileName = FileName;
    Coder.AudioInfo = AudioInfo;
    Coder.CompressionLevel = APELibraryLevel(Options.Compression);
    Level = Coder.CompressionLevel;
  }
  const char *ClassName() const override { return "TAPECoder"; }
  int BufferSize() const override { return 65536; }
  int64_t Quantum() const override { return ape::BlocksPerFrame(Level); }

  void Start() override {
    Coder.MaxAudioBytes = APEMaxAudioBytes(Stream);
    Coder.Start();
  }

  std::unique_ptr<TEncodedSpan> Encode(int64_t, const uint8_t *Samples, size_t Bytes,
                                       const TSpanAround &) const override {
    auto span = std::make_unique<TAPESpan>();
    ape::TFrameEncoder encoder(Level, Stream.Channels, Stream.BitsPerSample);
    const size_t blockBytes = size_t(Stream.Channels * Stream.BitsPerSample / 8);
    const size_t frameBytes = size_t(Quantum()) * blockBytes;
    for (size_t at = 0; at < Bytes; at += frameBytes) {
      const int64_t blocks = int64_t(std::min(frameBytes, Bytes - at) / blockBytes);
      encoder.Encode(Samples + at, blocks, span->Bytes);
      span->Ends.push_back(span->Bytes.size());
      span->Blocks.push_back(blocks);
    }
    return span;
  }

  void Append(TEncodedSpan &Encoded, const uint8_t *, size_t) override {
    const auto &span = static_cast<const TAPESpan &>(Encoded);
    size_t begin = 0;
    for (size_t i = 0; i < span.Ends.size(); ++i) {
      Coder.AppendFrame(span.Bytes.data() + begin, span.Ends[i] - begin, span.Blocks[i]);
      begin = span.Ends[i];
    }
  }

  void Finish() override { FinishAPECoder(Coder); }

 private:
  const TAudioInfoRec Stream;
  int Level = 2000;
  TAPE_Coder Coder;
};

}  // namespace

std::unique_ptr<TSpanJoiner> CreateAPEJoiner(const std::string &FileName, const TTagRec &,
                                             const TAudioInfo &AudioInfo, const void *Options) {
  return std::make_unique<TAPEJoiner>(FileName, AudioInfo, *static_cast<const TAPEOptions *>(Options));
}
