// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoders/opus/opus_joiner.h"

#include <ogg/ogg.h>
#include <opus/opus.h>
#include <opus/opus_multistream.h>
#include <opus/opusenc.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "encoders/file_stream.h"
#include "encoders/opus/opus_coder.h"
#include "encoders/opus/opus_format.h"
#include "encoders/span_join.h"

namespace {

// What libopusenc gives its encoder beyond the frame it encodes (its
// default decision delay): the analysis looks that far ahead.
constexpr int64_t kDecisionDelay = 96000;
// Samples a span's encoder settles on before its first kept packet.
constexpr int64_t kLeadSamples = 12000;
// VBR weighs each frame against running averages that a new encoder starts
// afresh and that move only a little per frame: with a short lead, spans of
// quiet or decaying music come out larger (at 128 kbit/s, a plucked note
// dying away over 20 s: 8 %) or smaller and noisier (below 96 kbit/s) than
// one piece. VBR spans settle for a second (and are longer, for the lead's
// cost).
constexpr int64_t kVbrLeadSamples = 48000;
// Ahead of the lead, a span's encoder meets the output's first 0.4 s of
// sound, as one piece's did: without it, spans after a silent start
// (dithered) came out 6 % larger. (A fifth of a second was enough for the
// size, but left one span of a dying note 0.1 dB noisier.)
constexpr int64_t kPrimeSamples = 19200;
// libopusenc's room after the comments, and how long a page may wait.
constexpr size_t kCommentPadding = 512;
constexpr int64_t kPageDelay = 48000;
constexpr int kMaxPacket = 1276 * 3 * 8;

struct TEncoderFree {
  void operator()(OpusMSEncoder *Encoder) const { opus_multistream_encoder_destroy(Encoder); }
};
using TEncoder = std::unique_ptr<OpusMSEncoder, TEncoderFree>;

struct TOpusSpan : TEncodedSpan {
  std::vector<uint8_t> Bytes;
  std::vector<size_t> Ends;         // of each packet in Bytes
  std::vector<int64_t> Granules;    // of each packet
  bool Last = false;                // its last packet ends the stream
};

void PutLE(std::vector<uint8_t> &To, uint32_t Value, int Bytes) {
  for (int i = 0; i < Bytes; ++i) To.push_back(uint8_t(Value >> (8 * i)));
}

class TOpusJoiner final : public TSpanJoiner {
 public:
  TOpusJoiner(const std::string &FileName, const TTagRec &Tags, const TAudioInfo &AudioInfo,
              const TOpusOptions &Options)
      : FileName(FileName), Tags(Tags), Options(Options), Stream(AudioInfo.Streams.at(size_t(AudioInfo.Index))),
        Channels(std::clamp(Stream.Channels, 1, 8)), Frame(FrameSamples(Options.FrameSize)) {}
  ~TOpusJoiner() override { ogg_stream_clear(&Ogg); }

  const char *ClassName() const override { return "TOpusCoder"; }
  int BufferSize() const override { return 65536; }
  int64_t Quantum() const override { return Frame; }
  int64_t LeadFrames() const override {
    const int64_t lead = Options.Mode == TOpusMode::CBR ? kLeadSamples : kVbrLeadSamples;
    return (lead + Frame - 1) / Frame * Frame;
  }
  int64_t TrailFrames() const override { return kDecisionDelay; }
  int64_t PrimeFrames() const override { return (kPrimeSamples + Frame - 1) / Frame * Frame; }
  bool Silent(const uint8_t *Samples, size_t Bytes) const override {
    std::vector<float> floats;
    OpusFloats(Samples, Bytes, Stream.BitsPerSample, Channels, floats);
    return std::all_of(floats.begin(), floats.end(), [](float f) { return std::fabs(f) < kSoundLevel; });
  }

  void Start() override {
    NewEncoder(&Head);  // the settings are taken, and the header's values known
    File = CreateFileStream(FileName);
    ogg_stream_init(&Ogg, 0);  // the fixed serial of the one-piece coder
    WritePacket(HeadPacket(), 0, false, true);
    WritePacket(TagsPacket(), 0, false, true);  // a stopped output keeps them too
  }

  std::unique_ptr<TEncodedSpan> Encode(int64_t FirstFrame, const uint8_t *Samples, size_t Bytes,
                                       const TSpanAround &Around) const override {
    std::vector<float> in;
    OpusFloats(Around.Prime, Around.PrimeBytes, Stream.BitsPerSample, Channels, in);
    OpusFloats(Around.Before, Around.BeforeBytes, Stream.BitsPerSample, Channels, in);
    const int64_t before = int64_t(in.size()) / Channels;
    OpusFloats(Samples, Bytes, Stream.BitsPerSample, Channels, in);
    const int64_t frames = int64_t(in.size()) / Channels - before;
    OpusFloats(Around.After, Around.AfterBytes, Stream.BitsPerSample, Channels, in);
    // The opening's and the lead's packets are whole frames before the span;
    // they are dropped.
    const int64_t skip = before % Frame, dropped = before / Frame;
    int64_t packets = frames / Frame;
    const int64_t end = FirstFrame + frames + Head.PreSkip;  // the last granule
    if (Around.Last) {
      // As libopusenc ends: silence enough to carry the delayed samples out.
      packets = (end + Frame - 1) / Frame - FirstFrame / Frame;
      in.resize(in.size() + size_t(std::max<int64_t>(120, Head.PreSkip + Frame + 1) * Channels), 0.0f);
    }
    const int64_t length = int64_t(in.size()) / Channels;
    TEncoder encoder = NewEncoder();
    auto span = std::make_unique<TOpusSpan>();
    span->Last = Around.Last;
    unsigned char packet[kMaxPacket];
    for (int64_t i = 0; i < dropped + packets; ++i) {
      const int64_t at = skip + i * Frame;
      const int64_t given = std::min(length - at, Frame + kDecisionDelay);
      if (given < Frame) throw std::runtime_error("opus_multistream_encode_float : samples missing");
      const int size = opus_multistream_encode_float(encoder.get(), in.data() + at * Channels, int(given),
                                                     packet, kMaxPacket);
      if (size < 0) throw std::runtime_error(std::string("opus_multistream_encode_float : ") + opus_strerror(size));
      if (i < dropped) continue;
      span->Bytes.insert(span->Bytes.end(), packet, packet + size);
      span->Ends.push_back(span->Bytes.size());
      span->Granules.push_back((FirstFrame / Frame + i - dropped + 1) * Frame);
    }
    if (Around.Last && !span->Granules.empty()) span->Granules.back() = end;
    return span;
  }

  void Append(TEncodedSpan &Encoded, const uint8_t *, size_t Bytes) override {
    const auto &span = static_cast<const TOpusSpan &>(Encoded);
    size_t begin = 0;
    for (size_t i = 0; i < span.Ends.size(); ++i) {
      const bool last = span.Last && i + 1 == span.Ends.size();
      WritePacket({span.Bytes.begin() + ptrdiff_t(begin), span.Bytes.begin() + ptrdiff_t(span.Ends[i])},
                  span.Granules[i], last, last || span.Granules[i] - PageGranule >= kPageDelay);
      begin = span.Ends[i];
    }
    Frames += int64_t(Bytes) / (Channels * Stream.BitsPerSample / 8);
    Ended = span.Last;
  }

  void Finish() override {
    if (!File) return;
    // A stream given no samples still ends as libopusenc ends it.
    if (!Ended) {
      const std::unique_ptr<TEncodedSpan> end = Encode(Frames, nullptr, 0, {.Last = true});
      Append(*end, nullptr, 0);
    }
    File->Close();
    File.reset();
  }

 private:
  static int64_t FrameSamples(int32_t TenthsOfMs) {
    switch (TenthsOfMs) {
      case 25: case 50: case 100: case 400: case 600: return TenthsOfMs * 48 / 10;
      default: return 960;
    }
  }

  // The values of the stream's header.
  struct THead {
    int64_t PreSkip = 0;
    int Streams = 1, Coupled = 0;
    unsigned char Mapping[8] = {};
  };

  // An encoder set as the one-piece coder sets libopusenc's; fills Header's values.
  TEncoder NewEncoder(THead *Header = nullptr) const {
    int error = OPUS_OK;
    int streams = 0, coupled = 0;
    unsigned char mapping[8] = {};
    TEncoder encoder(opus_multistream_surround_encoder_create(48000, Channels, Family(), &streams, &coupled,
                                                              mapping, OPUS_APPLICATION_AUDIO, &error));
    if (!encoder || error != OPUS_OK)
      throw std::runtime_error(std::string("opus_multistream_surround_encoder_create : ") +
                               opus_strerror(encoder ? error : OPUS_ALLOC_FAIL));
    OpusMSEncoder *e = encoder.get();
    const auto check = [](int code, const char *why) {
      if (code != OPUS_OK) throw std::runtime_error(std::string(why) + " : " + opus_strerror(code));
    };
    const bool voice = Options.Application == TOpusApplication::VoIP;
    const int application = voice ? OPUS_APPLICATION_VOIP : OPUS_APPLICATION_AUDIO;
    check(opus_multistream_encoder_ctl(e, OPUS_SET_APPLICATION(application)), "OPUS_SET_APPLICATION");
    check(opus_multistream_encoder_ctl(e, OPUS_SET_BITRATE(OpusBitrateFor(Options, Stream.Channels))),
          "OPUS_SET_BITRATE");
    check(opus_multistream_encoder_ctl(e, OPUS_SET_VBR(Options.Mode != TOpusMode::CBR ? 1 : 0)), "OPUS_SET_VBR");
    check(opus_multistream_encoder_ctl(e, OPUS_SET_VBR_CONSTRAINT(Options.Mode == TOpusMode::CVBR ? 1 : 0)),
          "OPUS_SET_VBR_CONSTRAINT");
    check(opus_multistream_encoder_ctl(e, OPUS_SET_COMPLEXITY(Options.Complexity)), "OPUS_SET_COMPLEXITY");
    int duration = OPUS_FRAMESIZE_20_MS;
    switch (Frame) {
      case 120: duration = OPUS_FRAMESIZE_2_5_MS; break;
      case 240: duration = OPUS_FRAMESIZE_5_MS; break;
      case 480: duration = OPUS_FRAMESIZE_10_MS; break;
      case 1920: duration = OPUS_FRAMESIZE_40_MS; break;
      case 2880: duration = OPUS_FRAMESIZE_60_MS; break;
      default: break;
    }
    check(opus_multistream_encoder_ctl(e, OPUS_SET_EXPERT_FRAME_DURATION(duration)),
          "OPUS_SET_EXPERT_FRAME_DURATION");
    if (Header) {
      opus_int32 lookahead = 0;
      check(opus_multistream_encoder_ctl(e, OPUS_GET_LOOKAHEAD(&lookahead)), "OPUS_GET_LOOKAHEAD");
      Header->PreSkip = lookahead;
      Header->Streams = streams;
      Header->Coupled = coupled;
      std::memcpy(Header->Mapping, mapping, sizeof mapping);
    }
    return encoder;
  }

  // Family 0 holds one or two channels, family 1 the Vorbis order up to eight.
  int Family() const { return Channels > 2 ? 1 : 0; }

  std::vector<uint8_t> HeadPacket() const {
    std::vector<uint8_t> p = {'O', 'p', 'u', 's', 'H', 'e', 'a', 'd', 1, uint8_t(Channels)};
    PutLE(p, uint32_t(Head.PreSkip), 2);
    PutLE(p, uint32_t(Stream.SampleRate), 4);
    PutLE(p, 0, 2);  // gain
    p.push_back(uint8_t(Family()));
    if (Family() != 0) {
      p.push_back(uint8_t(Head.Streams));
      p.push_back(uint8_t(Head.Coupled));
      p.insert(p.end(), Head.Mapping, Head.Mapping + Channels);
    }
    return p;
  }

  // The vendor libopusenc names, the comments the one-piece coder gives it,
  // and its room for the tags written later.
  std::vector<uint8_t> TagsPacket() const {
    std::vector<uint8_t> p = {'O', 'p', 'u', 's', 'T', 'a', 'g', 's'};
    const std::string vendor = std::string(opus_get_version_string()) + ", " + ope_get_version_string();
    PutLE(p, uint32_t(vendor.size()), 4);
    p.insert(p.end(), vendor.begin(), vendor.end());
    const auto comments = OpusComments(Tags);
    PutLE(p, uint32_t(comments.size()), 4);
    for (const auto &[name, value] : comments) {
      const std::string comment = std::string(name) + "=" + value;
      PutLE(p, uint32_t(comment.size()), 4);
      p.insert(p.end(), comment.begin(), comment.end());
    }
    // libopusenc fills the padding out to the end of the packet's last lacing segment.
    p.resize((p.size() + kCommentPadding + 255) / 255 * 255 - 1, 0);
    return p;
  }

  void WritePacket(const std::vector<uint8_t> &Packet, int64_t Granule, bool Last, bool Flush) {
    ogg_packet op{};
    op.packet = const_cast<unsigned char *>(Packet.data());
    op.bytes = long(Packet.size());
    op.b_o_s = PacketNo == 0;
    op.e_o_s = Last;
    op.granulepos = Granule;
    op.packetno = PacketNo++;
    if (ogg_stream_packetin(&Ogg, &op) != 0) throw std::runtime_error("ogg_stream_packetin failed");
    ogg_page page;
    const int fill = 255 * 255;  // pages end at 255 segments, or when flushed
    while (Flush ? ogg_stream_flush_fill(&Ogg, &page, fill) : ogg_stream_pageout_fill(&Ogg, &page, fill)) {
      if (ogg_page_packets(&page) != 0) PageGranule = ogg_page_granulepos(&page);
      File->Write(page.header, size_t(page.header_len));
      File->Write(page.body, size_t(page.body_len));
    }
  }

  const std::string FileName;
  const TTagRec Tags;
  const TOpusOptions Options;
  const TAudioInfoRec Stream;
  const int Channels;
  const int64_t Frame;
  THead Head;  // from Start's encoder

  std::unique_ptr<TFileStream> File;
  ogg_stream_state Ogg{};
  int64_t PacketNo = 0, PageGranule = 0, Frames = 0;
  bool Ended = false;
};

}  // namespace

std::unique_ptr<TSpanJoiner> CreateOpusJoiner(const std::string &FileName, const TTagRec &Tags,
                                              const TAudioInfo &AudioInfo, const void *Options) {
  const TOpusOptions &options = *static_cast<const TOpusOptions *>(Options);
  // Constrained VBR averages its rate over many seconds: spans of it are
  // noisier than one piece, whatever their lead. It stays one piece.
  if (options.Mode == TOpusMode::CVBR) return nullptr;
  return std::make_unique<TOpusJoiner>(FileName, Tags, AudioInfo, options);
}
