// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoders/mp3/mp3_joiner.h"

#include <algorithm>
#include <stdexcept>

#include "encoders/custom_coder.h"
#include "encoders/mp3/mp3_coder.h"
#include "encoders/mp3/mp3_frames.h"

namespace {

constexpr int64_t kFrame = 1152;  // samples of an MPEG-1 layer III frame

struct TMP3Span : TEncodedSpan {
  std::vector<TMP3Frame> Frames;
};

class TMP3Joiner final : public TSpanJoiner {
 public:
  TMP3Joiner(const std::string &FileName, const TTagRec &Tags, const TAudioInfo &AudioInfo,
             const TMP3Options &Options)
      : FileName(FileName), Tags(Tags), Options(Options), Stream(AudioInfo.Streams.at(size_t(AudioInfo.Index))),
        FrameBytes(std::max(1, Stream.Channels * Stream.BitsPerSample / 8)),
        Layout([this](const uint8_t *Data, size_t Size) { File->Write(Data, Size); }) {}

  const char *ClassName() const override { return "TMP3Coder"; }
  int BufferSize() const override { return int(kFrame) * FrameBytes; }
  int64_t Quantum() const override { return kFrame; }
  // Eight frames settle the encoder; three after the span cover its delay
  // and the look-ahead of its last frame.
  int64_t LeadFrames() const override { return 8 * kFrame; }
  int64_t TrailFrames() const override { return 3 * kFrame; }

  void Start() override {
    File = CreateFileStream(FileName);
    TLameCoder probe;
    ConfigureLame(probe, Options, Stream);
    const int result = StartLameStream(probe, Options);
    if (result != 0)
      throw std::runtime_error("The MP3 encoder refuses these settings (code " + std::to_string(result) + ")");
    Delay = probe.EncoderDelay();
    if (probe.WriteVBRHeader) {
      // The tag of a moment of silence holds what these settings put in
      // it; the rest is filled in at the end. Its frame begins the file.
      const std::vector<uint8_t> silence(size_t(BufferSize()), 0);
      Feed(probe, silence.data(), silence.size(), nullptr);
      uint32_t bytes = 0;
      if (probe.DeinitStream(bytes) != 0) throw std::runtime_error("TLameCoder.beDeinitStream failed");
      Tag = probe.LameTagFrame();
      File->Write(Tag.data(), Tag.size());
    }
  }

  std::unique_ptr<TEncodedSpan> Encode(int64_t, const uint8_t *Samples, size_t Bytes,
                                       const TSpanAround &Around) const override {
    TLameCoder coder;
    ConfigureLame(coder, Options, Stream);
    coder.WriteVBRHeader = false;  // one tag, for the whole file
    const int result = StartLameStream(coder, Options);
    if (result != 0)
      throw std::runtime_error("The MP3 encoder refuses these settings (code " + std::to_string(result) + ")");
    // The lead in whole frames: the span's frames then lie on the file's grid.
    const size_t lead = Around.BeforeBytes / size_t(FrameBytes) / kFrame * kFrame;
    std::vector<uint8_t> encoded;
    Feed(coder, Around.Before + Around.BeforeBytes - lead * size_t(FrameBytes), lead * size_t(FrameBytes), &encoded);
    Feed(coder, Samples, Bytes, &encoded);
    Feed(coder, Around.After, Around.AfterBytes, &encoded);
    uint32_t bytes = 0;
    if (coder.DeinitStream(bytes) != 0) throw std::runtime_error("TLameCoder.beDeinitStream failed");
    encoded.insert(encoded.end(), coder.OutputBuffer.begin(), coder.OutputBuffer.begin() + bytes);
    std::vector<TMP3Frame> frames = SplitMP3Frames(encoded.data(), encoded.size());
    // Frame k of this stream starts k frames into its input, less the
    // encoder's delay, as frame k of a stream of the whole file does.
    const size_t first = lead / kFrame;
    const size_t count = Around.Last ? frames.size() - std::min(first, frames.size())
                                     : Bytes / size_t(FrameBytes) / kFrame;
    if (first + count > frames.size()) throw std::runtime_error("The MP3 encoder gave fewer frames than expected");
    auto span = std::make_unique<TMP3Span>();
    span->Frames.assign(std::make_move_iterator(frames.begin() + ptrdiff_t(first)),
                        std::make_move_iterator(frames.begin() + ptrdiff_t(first + count)));
    return span;
  }

  void Append(TEncodedSpan &Encoded, const uint8_t *, size_t Bytes) override {
    for (const TMP3Frame &frame : static_cast<const TMP3Span &>(Encoded).Frames) Layout.Add(frame);
    TotalSamples += int64_t(Bytes) / FrameBytes;
  }

  void Finish() override {
    if (!File) return;
    Layout.Flush();
    std::unique_ptr<TFileStream> file = std::move(File);
    if (!Tag.empty()) {  // also for no frames: the silence's figures must go
      const int64_t padding = std::max<int64_t>(0, Layout.Frames * kFrame - Delay - TotalSamples);
      CompleteLameTag(Tag, Layout, Delay, int(padding));
      file->Seek(0);
      file->Write(Tag.data(), Tag.size());
    }
    file->Close();
    if (!Aborted) AppendID3v1(FileName, Tags);  // as one piece: not on a stopped output
  }

  void Abort(bool) override { Aborted = true; }

 private:
  // Encodes Bytes of samples a frame's worth at a time, as the one-piece
  // coder is given them, adding the output to Out.
  void Feed(TLameCoder &Coder, const uint8_t *Samples, size_t Bytes, std::vector<uint8_t> *Out) const {
    for (size_t at = 0; at < Bytes;) {
      const size_t take = std::min(Bytes - at, size_t(BufferSize()));
      const uint32_t bytes = EncodeMP3Samples(Coder, Samples + at, int(take), Stream.BitsPerSample);
      if (Out) Out->insert(Out->end(), Coder.OutputBuffer.begin(), Coder.OutputBuffer.begin() + bytes);
      at += take;
    }
  }

  const std::string FileName;
  const TTagRec Tags;
  const TMP3Options Options;
  const TAudioInfoRec Stream;
  const int FrameBytes;
  std::unique_ptr<TFileStream> File;
  TMP3Layout Layout;
  std::vector<uint8_t> Tag;  // the LAME tag frame, when the settings have one
  int Delay = 0;
  int64_t TotalSamples = 0;
  bool Aborted = false;
};

}  // namespace

std::unique_ptr<TSpanJoiner> CreateMP3Joiner(const std::string &FileName, const TTagRec &Tags,
                                             const TAudioInfo &AudioInfo, const void *Options) {
  const auto &options = *static_cast<const TMP3Options *>(Options);
  const TAudioInfoRec &stream = AudioInfo.Streams.at(size_t(AudioInfo.Index));
  if (stream.Channels < 1 || stream.Channels > 2) return nullptr;  // refused as in one piece
  // Only frames of 1152 samples at the source's own rate are joined.
  TLameCoder probe;
  ConfigureLame(probe, options, stream);
  if (StartLameStream(probe, options) != 0 || probe.FrameSamples() != kFrame ||
      probe.OutSampleRate() != stream.SampleRate)
    return nullptr;
  return std::make_unique<TMP3Joiner>(FileName, Tags, AudioInfo, options);
}
