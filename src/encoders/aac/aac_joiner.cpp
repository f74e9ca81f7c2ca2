// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoders/aac/aac_joiner.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "encoders/aac/aac_coder.h"
#include "encoders/aac/aac_encoder.h"
#include "encoders/aac/aac_format.h"
#include "encoders/file_stream.h"
#include "encoders/mp4_lib.h"
#include "encoders/span_join.h"

namespace {

constexpr int64_t kFrame = 1024;
// Frames a span's encoder settles on before the span (its first packet also
// overlaps the frame before), and those after it: the encoder gives a
// frame's packet once it has the next, whose start it looks ahead to. The
// encoder's state takes some forty frames to become one piece's: after a
// shorter lead, spans come out a few percent larger or smaller and noisier.
// Ahead of the lead, it meets the output's first sixteen frames of sound
// (from the last silent one before): at the first onsets it meets, within
// about ten frames, the encoder's model relaxes the least signal-to-noise
// ratio it keeps in some bands, for the rest of the stream; without them,
// spans of quiet or dying sounds came out up to 8 % larger.
constexpr int64_t kLeadFrames = 48, kTrailFrames = 2, kPrimeFrames = 16;

struct TAACSpan : TEncodedSpan {
  std::vector<uint8_t> Bytes;  // the packets, one after the other (ADTS: whole frames)
  std::vector<size_t> Ends;
  std::vector<int64_t> Times, Durations;  // in samples
  std::vector<int> Flags;
};

struct TContextFree {
  void operator()(AVCodecContext *Context) const { avcodec_free_context(&Context); }
};
struct TFrameFree {
  void operator()(AVFrame *Frame) const { av_frame_free(&Frame); }
};
struct TPacketFree {
  void operator()(AVPacket *Packet) const { av_packet_free(&Packet); }
};

class TAACJoiner final : public TSpanJoiner {
 public:
  TAACJoiner(const std::string &FileName, const TAudioInfo &AudioInfo, const TAACOptions &Options)
      : FileName(FileName), AudioInfo(AudioInfo), Options(Options),
        Stream(AudioInfo.Streams.at(size_t(AudioInfo.Index))) {}

  const char *ClassName() const override { return "TACCCoder"; }
  int BufferSize() const override { return int(kFrame) * FrameBytes(); }
  int64_t Quantum() const override { return kFrame; }
  int64_t LeadFrames() const override { return kLeadFrames * kFrame; }
  int64_t TrailFrames() const override { return kTrailFrames * kFrame; }
  int64_t PrimeFrames() const override { return kPrimeFrames * kFrame; }

  bool Silent(const uint8_t *Samples, size_t Bytes) const override {
    const auto bytes = size_t(std::max(1, Stream.BytesPerSample));
    for (size_t at = 0; at + bytes <= Bytes; at += bytes)
      if (std::fabs(AACSampleAt(Samples + at, int(bytes))) >= kSoundLevel) return false;
    return true;
  }

  void Start() override {
    File = CreateFileStream(FileName);
    if (Mp4()) {
      Muxed = std::make_unique<TMP4Encoder>();
      Muxed->Open("aac", AV_SAMPLE_FMT_FLTP, Stream.SampleRate, Stream.Channels, File.get(),
                  [&](AVCodecContext &c) { ConfigureAAC(c, Options, Stream.SampleRate, Stream.Channels); });
    } else {
      TACC_Coder probe;  // the library takes the settings
      StartAdts(probe, [](const uint8_t *, size_t) {});
    }
  }

  std::unique_ptr<TEncodedSpan> Encode(int64_t FirstFrame, const uint8_t *Samples, size_t Bytes,
                                       const TSpanAround &Around) const override {
    const auto frameBytes = size_t(FrameBytes());
    // Where the encoder's samples begin (as if the opening came just before
    // the lead), and the packets of the span's own frames: each encoder's first
    // packet is that of the frame before its first.
    const int64_t start = FirstFrame - int64_t((Around.PrimeBytes + Around.BeforeBytes) / frameBytes);
    const int64_t first = FirstFrame / kFrame, end = (FirstFrame + int64_t(Bytes / frameBytes)) / kFrame;
    auto span = std::make_unique<TAACSpan>();
    const auto keep = [&](int64_t packet, const uint8_t *data, size_t size, int64_t time, int64_t duration,
                          int flags) {
      if (packet < first || (!Around.Last && packet >= end)) return;
      span->Bytes.insert(span->Bytes.end(), data, data + size);
      span->Ends.push_back(span->Bytes.size());
      span->Times.push_back(time);
      span->Durations.push_back(duration);
      span->Flags.push_back(flags);
    };
    const std::pair<const uint8_t *, size_t> parts[] = {{Around.Prime, Around.PrimeBytes},
                                                        {Around.Before, Around.BeforeBytes},
                                                        {Samples, Bytes},
                                                        {Around.After, Around.AfterBytes}};
    if (!Mp4()) {
      TACC_Coder coder;
      int64_t packet = start / kFrame;
      StartAdts(coder, [&](const uint8_t *data, size_t size) { keep(packet++, data, size, 0, 0, 0); });
      for (const auto &[data, size] : parts)
        if (size > 0) coder.Encode(data, int(size));
      if (Around.Last) coder.Drain();
      return span;
    }
    const std::unique_ptr<AVCodecContext, TContextFree> context(TMP4Encoder::OpenEncoder(
        "aac", AV_SAMPLE_FMT_FLTP, Stream.SampleRate, Stream.Channels,
        [&](AVCodecContext &c) { ConfigureAAC(c, Options, Stream.SampleRate, Stream.Channels); }));
    const std::unique_ptr<AVFrame, TFrameFree> frame(av_frame_alloc());
    const std::unique_ptr<AVPacket, TPacketFree> packet(av_packet_alloc());
    if (!frame || !packet) throw std::bad_alloc();
    frame->format = AV_SAMPLE_FMT_FLTP;
    frame->nb_samples = int(kFrame);
    frame->sample_rate = Stream.SampleRate;
    Check(av_channel_layout_copy(&frame->ch_layout, &context->ch_layout), "av_channel_layout_copy");
    Check(av_frame_get_buffer(frame.get(), 0), "av_frame_get_buffer");
    const auto receive = [&] {
      for (;;) {
        const int result = avcodec_receive_packet(context.get(), packet.get());
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return;
        Check(result, "avcodec_receive_packet");
        keep((packet->pts + kFrame) / kFrame, packet->data, size_t(packet->size), packet->pts, packet->duration,
             packet->flags);
        av_packet_unref(packet.get());
      }
    };
    // The samples of the parts in frames of the encoder's size.
    std::vector<uint8_t> samples;
    samples.reserve(Around.PrimeBytes + Around.BeforeBytes + Bytes + Around.AfterBytes);
    for (const auto &[data, size] : parts)
      if (size > 0) samples.insert(samples.end(), data, data + size);
    const int64_t total = int64_t(samples.size() / frameBytes);
    for (int64_t at = 0; at < total; at += kFrame) {
      const int64_t count = std::min(kFrame, total - at);
      Check(av_frame_make_writable(frame.get()), "av_frame_make_writable");
      const uint8_t *in = samples.data() + size_t(at) * frameBytes;
      for (int64_t f = 0; f < count; ++f)
        for (int c = 0; c < Stream.Channels; ++c, in += Stream.BytesPerSample) {
          const float v = AACSampleAt(in, Stream.BytesPerSample);
          std::memcpy(frame->extended_data[c] + sizeof(float) * size_t(f), &v, sizeof v);
        }
      frame->nb_samples = int(count);
      frame->pts = start + at;
      Check(avcodec_send_frame(context.get(), frame.get()), "avcodec_send_frame");
      receive();
    }
    if (Around.Last) {
      Check(avcodec_send_frame(context.get(), nullptr), "avcodec_send_frame");
      receive();
    }
    return span;
  }

  void Append(TEncodedSpan &Encoded, const uint8_t *, size_t) override {
    const auto &span = static_cast<const TAACSpan &>(Encoded);
    if (!Mp4()) {
      File->Write(span.Bytes.data(), span.Bytes.size());
      return;
    }
    const std::unique_ptr<AVPacket, TPacketFree> packet(av_packet_alloc());
    if (!packet) throw std::bad_alloc();
    size_t begin = 0;
    for (size_t i = 0; i < span.Ends.size(); ++i) {
      Check(av_new_packet(packet.get(), int(span.Ends[i] - begin)), "av_new_packet");
      std::memcpy(packet->data, span.Bytes.data() + begin, span.Ends[i] - begin);
      packet->pts = packet->dts = span.Times[i];
      packet->duration = span.Durations[i];
      packet->flags = span.Flags[i];
      Muxed->WriteEncoded(*packet);
      av_packet_unref(packet.get());
      begin = span.Ends[i];
    }
  }

  void Finish() override {
    if (!File) return;
    std::unique_ptr<TFileStream> file = std::move(File);
    if (Muxed) Muxed->Close();
    Muxed.reset();
    file->Close();
  }

 private:
  bool Mp4() const { return Options.Container == TAACContainer::MP4; }
  int FrameBytes() const { return std::max(1, Stream.Channels * Stream.BytesPerSample); }

  // The library set up as the one-piece coder sets it, its frames going to Sink.
  void StartAdts(TACC_Coder &Coder, std::function<void(const uint8_t *, size_t)> Sink) const {
    Coder.Bitrate = Options.Bitrate;
    Coder.Bandwidth = Options.Bandwidth;
    Coder.Quality = Options.Quality;
    Coder.AudioInfo = AudioInfo;
    Coder.Sink = std::move(Sink);
    Coder.Start(nullptr);
  }

  static void Check(int Result, const char *What) {
    if (Result < 0) throw std::runtime_error(std::string("AAC span : ") + What + " failed");
  }

  const std::string FileName;
  const TAudioInfo AudioInfo;
  const TAACOptions Options;
  const TAudioInfoRec Stream;
  std::unique_ptr<TFileStream> File;
  std::unique_ptr<TMP4Encoder> Muxed;  // writes into File: goes before it
};

}  // namespace

std::unique_ptr<TSpanJoiner> CreateAACJoiner(const std::string &FileName, const TTagRec &,
                                             const TAudioInfo &AudioInfo, const void *Options) {
  const TAACOptions &options = *static_cast<const TAACOptions *>(Options);
  // At a set bitrate, the encoder's rate control keeps more than a lead's
  // worth of state: spans come out smaller and noisier than one piece. Those
  // outputs stay one piece.
  if (options.Bitrate > 0) return nullptr;
  return std::make_unique<TAACJoiner>(FileName, AudioInfo, options);
}
