// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/bass/decode_stream.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "platform/bass/bass.h"
#include "platform/bass/mp3_info_tag.h"
#include "platform/bass/ogg_end_page.h"
#include "platform/bass/wav_data_chunk.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

namespace {

constexpr int kMaxChannels = 64;
// Refused blocks in a row, without one good frame, after which the decoder
// is not passing over damage but cannot decode this stream at all.
constexpr int kMaxDamagedInARow = 1000;

// Containers whose header states the exact number of samples of the stream.
const char *const kStatedLengthDemuxers[] = {"wav", "w64", "aiff", "flac", "wv", "tta",
                                             "ape", "ogg", "mov", nullptr};
const char *const kOggDemuxer[] = {"ogg", nullptr};

// FFmpeg demuxer names are comma-separated lists ("mov,mp4,m4a,...").
bool NameListed(const char *formatName, const char *const *names) {
  for (; *names; ++names) {
    const size_t len = std::strlen(*names);
    for (const char *p = formatName; p && *p;) {
      const char *comma = std::strchr(p, ',');
      const size_t tokenLen = comma ? size_t(comma - p) : std::strlen(p);
      if (tokenLen == len && std::strncmp(p, *names, len) == 0) return true;
      p = comma ? comma + 1 : nullptr;
    }
  }
  return false;
}

// True when `path` is a regular file this process can read.
bool CanReadFile(const std::string &path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info;
  const bool regular = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  ::close(fd);
  return regular;
}

bool IsFloatFormat(int format) {
  return format == AV_SAMPLE_FMT_FLT || format == AV_SAMPLE_FMT_FLTP ||
         format == AV_SAMPLE_FMT_DBL || format == AV_SAMPLE_FMT_DBLP;
}

// Bytes per frame of plain PCM (whole-byte samples), 0 for anything else
// (4-bit codecs). A header's block size that says otherwise is wrong: the
// samples are what they are.
int PcmFrameBytes(const AVCodecParameters *par, int channels) {
  const int bits = av_get_exact_bits_per_sample(par->codec_id);
  return bits >= 8 && bits % 8 == 0 ? bits / 8 * channels : 0;
}

// Rounds a bit depth up to the container sizes the converter works with.
int RoundResolution(int bits) {
  if (bits <= 0) return 0;
  if (bits <= 8) return 8;
  if (bits <= 16) return 16;
  if (bits <= 24) return 24;
  return 32;
}

}  // namespace

int TDecodeStream::Open(const std::string &path, const TStreamKind &kind, bool floatOutput,
                        int64_t probeBytes, std::unique_ptr<TDecodeStream> &out) {
  std::unique_ptr<TDecodeStream> stream(new TDecodeStream);
  stream->FloatOutput = floatOutput;
  const int error = stream->OpenFile(path, kind, probeBytes);
  if (error != BASS_OK) return error;
  out = std::move(stream);
  return BASS_OK;
}

TDecodeStream::~TDecodeStream() { Close(); }

void TDecodeStream::Close() {
  swr_free(&Resampler);
  ResamplerFormat = -1;
  av_frame_free(&Frame);
  av_packet_free(&Packet);
  avcodec_free_context(&Decoder);
  avformat_close_input(&Format);
}

int TDecodeStream::OpenFile(const std::string &path, const TStreamKind &kind,
                            int64_t probeBytes) {
  FilePath = path;
  Kind = kind;
  ProbeBytes = probeBytes;

  if (!CanReadFile(path)) return BASS_ERROR_FILEOPEN;
  AVDictionary *options = nullptr;
  av_dict_set_int(&options, "probesize", std::max<int64_t>(probeBytes, 4096), 0);
  // FFmpeg otherwise scans up to 32 packets of every 16-bit WAV with all its
  // format probes, looking for compressed data under a PCM tag: several
  // milliseconds a file, paid on each of the opens a conversion makes. The
  // first packet shows such data as well.
  av_dict_set_int(&options, "max_probe_packets", 1, 0);
  int r = avformat_open_input(&Format, path.c_str(), nullptr, &options);
  av_dict_free(&options);
  if (r < 0) return r == AVERROR(ENOMEM) ? BASS_ERROR_MEM : BASS_ERROR_FILEFORM;
  if (!NameListed(Format->iformat->name, Kind.Demuxers)) return BASS_ERROR_FILEFORM;
  if (avformat_find_stream_info(Format, nullptr) < 0) return BASS_ERROR_FILEFORM;

  const AVCodec *codec = nullptr;
  r = av_find_best_stream(Format, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
  if (r == AVERROR_DECODER_NOT_FOUND) return BASS_ERROR_CODEC;
  if (r < 0) return BASS_ERROR_FILEFORM;
  StreamIndex = r;
  for (unsigned i = 0; i < Format->nb_streams; ++i)
    if (int(i) != StreamIndex) Format->streams[i]->discard = AVDISCARD_ALL;
  AVStream *st = Format->streams[StreamIndex];
  if (Kind.AcceptCodec && !Kind.AcceptCodec(st->codecpar->codec_id)) return BASS_ERROR_FILEFORM;

  Decoder = avcodec_alloc_context3(codec);
  Packet = av_packet_alloc();
  Frame = av_frame_alloc();
  if (!Decoder || !Packet || !Frame) return BASS_ERROR_MEM;
  if (avcodec_parameters_to_context(Decoder, st->codecpar) < 0) return BASS_ERROR_CODEC;
  // With the packet time base set, the decoder moves timestamps past the
  // samples it drops (encoder delay), which keeps our timeline exact.
  Decoder->pkt_timebase = st->time_base;
  if (avcodec_open2(Decoder, codec, nullptr) < 0) return BASS_ERROR_CODEC;

  Rate = Decoder->sample_rate;
  ChannelCount = Decoder->ch_layout.nb_channels;
  if (Rate <= 0 || ChannelCount <= 0 || ChannelCount > kMaxChannels) return BASS_ERROR_FORMAT;

  // FFmpeg places a seek in raw PCM by the byte rate and block size the
  // header states; a header that states wrong ones would send every seek
  // elsewhere, or between the bytes of a frame.
  const char *const rawPcm[] = {"wav", "w64", "aiff", nullptr};
  if (const int frameBytes = PcmFrameBytes(st->codecpar, ChannelCount);
      frameBytes > 0 && NameListed(Format->iformat->name, rawPcm)) {
    st->codecpar->bit_rate = int64_t(frameBytes) * Rate * 8;
    st->codecpar->block_align = frameBytes;
  }

  const AVCodecDescriptor *descriptor = avcodec_descriptor_get(st->codecpar->codec_id);
  Lossy = !(descriptor && (descriptor->props & AV_CODEC_PROP_LOSSLESS));
  SourceFloat = !Lossy && IsFloatFormat(Decoder->sample_fmt);
  if (!Lossy) {
    int bits = st->codecpar->bits_per_raw_sample;
    if (bits <= 0) bits = st->codecpar->bits_per_coded_sample;
    if (bits <= 0) bits = av_get_bytes_per_sample(Decoder->sample_fmt) * 8;
    OrigRes = SourceFloat ? 32 : RoundResolution(bits);
  }
  // One-bit DSD filters down to PCM that holds far more than 16 bits: what a
  // lossless output keeps of it.
  const AVCodecID id = st->codecpar->codec_id;
  if (id == AV_CODEC_ID_DSD_LSBF || id == AV_CODEC_ID_DSD_MSBF || id == AV_CODEC_ID_DSD_LSBF_PLANAR ||
      id == AV_CODEC_ID_DSD_MSBF_PLANAR)
    OrigRes = 24;

  NoEndMark = NameListed(Format->iformat->name, kOggDemuxer) && !OggEndsWithEndPage(path);

  // The first frame's timestamp is the origin of the timeline; decoding it now
  // also proves that the content really is what the container claims.
  const int got = DecodeFrame();
  if (got < 0) return -got;
  if (got == 0 && DamagedBlocks > 0) return BASS_ERROR_FILEFORM;  // nothing decodes at all
  HaveFrame = got > 0;
  FrameOffset = 0;
  OriginPts = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
  if (HaveFrame) {
    const int64_t pts = Frame->pts != AV_NOPTS_VALUE ? Frame->pts : Frame->best_effort_timestamp;
    if (pts != AV_NOPTS_VALUE) OriginPts = pts;
  }
  StatedLength = StatedLengthFromContainer();
  // Matroska states the length to the millisecond only: too coarse to stop
  // decoding at, close enough to tell a file cut short.
  const char *const matroska[] = {"matroska", nullptr};
  RoundedLength = -1;
  if (StatedLength < 0 && NameListed(Format->iformat->name, matroska)) {
    double seconds = Format->duration > 0 ? double(Format->duration) / AV_TIME_BASE : -1.0;
    // The stream's own "hh:mm:ss.nnnnnnnnn", read whatever the locale.
    if (const AVDictionaryEntry *own = av_dict_get(st->metadata, "DURATION", nullptr, 0)) {
      const char *p = own->value, *end = p + std::strlen(p);
      int h = 0, m = 0;
      double sec = 0;
      auto r = std::from_chars(p, end, h);
      if (r.ec == std::errc() && r.ptr < end && *r.ptr == ':') r = std::from_chars(r.ptr + 1, end, m);
      if (r.ec == std::errc() && r.ptr < end && *r.ptr == ':') {
        r = std::from_chars(r.ptr + 1, end, sec);
        if (r.ec == std::errc()) seconds = h * 3600.0 + m * 60.0 + sec;
      }
    }
    if (seconds > 0) RoundedLength = std::llround(seconds * Rate);
  }

  // Lossless frames decode on their own, and MP3 and Vorbis decoders rebuild
  // their state from a few frames before the target. Other lossy decoders carry
  // state from the very start (noise generators, dither), so the only way to
  // their exact samples is to decode from the beginning.
  const char *const exactTimestampDemuxers[] = {"mp3", "ogg", nullptr};
  const int codecId = st->codecpar->codec_id;
  SeekByTimestamp = !Lossy || ((codecId == AV_CODEC_ID_MP1 || codecId == AV_CODEC_ID_MP2 ||
                                codecId == AV_CODEC_ID_MP3 || codecId == AV_CODEC_ID_VORBIS) &&
                               NameListed(Format->iformat->name, exactTimestampDemuxers));
  return BASS_OK;
}

int64_t TDecodeStream::StatedLengthFromContainer() {
  AVStream *st = Format->streams[StreamIndex];
  const char *const wav[] = {"wav", nullptr};
  int64_t dataOffset, declaredBytes;
  const int frameBytes = PcmFrameBytes(st->codecpar, ChannelCount);
  if (NameListed(Format->iformat->name, wav) && frameBytes > 0 &&
      ReadWavDataChunk(FilePath, dataOffset, declaredBytes)) {
    return declaredBytes / frameBytes;  // a shorter file is truncated
  }
  if (st->duration == AV_NOPTS_VALUE || st->duration <= 0 ||
      Format->duration_estimation_method != AVFMT_DURATION_FROM_STREAM)
    return -1;
  int64_t total = av_rescale_q(st->duration, st->time_base, AVRational{1, Rate});
  // An Ogg Opus stream's last granule counts the pre-skip that the decoder drops.
  if (st->codecpar->codec_id == AV_CODEC_ID_OPUS && NameListed(Format->iformat->name, kOggDemuxer))
    total -= st->codecpar->initial_padding;
  if (NameListed(Format->iformat->name, kStatedLengthDemuxers)) return total;

  // MP3: FFmpeg takes the frame count from the Xing/Info frame and drops the
  // encoder delay and padding that the LAME extension states. Trust the tag only
  // where FFmpeg read the same numbers from it.
  const char *const mp3[] = {"mp3", nullptr};
  if (!NameListed(Format->iformat->name, mp3)) return -1;
  TMp3InfoTag tag;
  if (!ReadMp3InfoTag(FilePath, tag) || tag.Frames <= 0 ||
      tag.Frames * tag.SamplesPerFrame != total)
    return -1;
  if (!tag.HasEncoderDelays) return total;
  constexpr int kDecoderDelay = 529;
  const int64_t startSkip =
      st->start_time == AV_NOPTS_VALUE ? 0 : av_rescale_q(st->start_time, st->time_base, AVRational{1, Rate});
  if (startSkip != tag.StartPadding + kDecoderDelay) return -1;
  const int64_t end = std::min(total, total - tag.EndPadding + kDecoderDelay);
  return std::max<int64_t>(0, end - startSkip);
}

int TDecodeStream::Reopen() {
  const std::string path = FilePath;
  Close();
  StreamIndex = -1;
  DemuxEnded = DecoderEnded = EndReached = HaveFrame = false;
  Failure = 0;
  DamagedInARow = 0;
  SkipFrames = 0;
  Pos = 0;
  return OpenFile(path, Kind, ProbeBytes);
}

int64_t TDecodeStream::FileSize() const { return Format && Format->pb ? avio_size(Format->pb) : -1; }

int64_t TDecodeStream::FilePosition() const { return Format && Format->pb ? avio_tell(Format->pb) : -1; }

int TDecodeStream::Damage() {
  ++DamagedBlocks;
  return ++DamagedInARow > kMaxDamagedInARow ? -BASS_ERROR_FILEFORM : 0;
}

// Damaged data is passed over as FFmpeg's own program does: a block the
// decoder refuses (or a frame of another shape, from a damaged header) is
// dropped, and data the demuxer cannot read on from ends the source.
int TDecodeStream::DecodeFrame() {
  for (;;) {
    int r = avcodec_receive_frame(Decoder, Frame);
    if (r == 0) {
      if (Frame->nb_samples <= 0) continue;
      if (Frame->ch_layout.nb_channels != ChannelCount || Frame->sample_rate != Rate) {
        if ((r = Damage()) < 0) return r;
        continue;
      }
      DamagedInARow = 0;
      return 1;
    }
    if (r == AVERROR_EOF || (r == AVERROR(EAGAIN) && DemuxEnded)) {
      DecoderEnded = true;
      return 0;
    }
    if (r == AVERROR(ENOMEM)) return -BASS_ERROR_MEM;
    if (r != AVERROR(EAGAIN)) {
      if ((r = Damage()) < 0) return r;
      continue;
    }

    r = av_read_frame(Format, Packet);
    if (r == AVERROR(ENOMEM)) return -BASS_ERROR_MEM;
    if (r < 0) {
      if (r != AVERROR_EOF) ++DamagedBlocks;  // a cut or unreadable block
      DemuxEnded = true;
      avcodec_send_packet(Decoder, nullptr);  // drain the decoder's last frames
      continue;
    }
    if (Packet->stream_index != StreamIndex) {
      av_packet_unref(Packet);
      continue;
    }
    r = avcodec_send_packet(Decoder, Packet);
    av_packet_unref(Packet);
    if (r == AVERROR(ENOMEM)) return -BASS_ERROR_MEM;
    if (r < 0 && r != AVERROR(EAGAIN) && (r = Damage()) < 0) return r;
  }
}

int TDecodeStream::ConfigureResampler() {
  if (Resampler && ResamplerFormat == Frame->format) return BASS_OK;
  swr_free(&Resampler);
  // Same layout and rate on both sides: the resampler only converts the sample
  // format and interleaves, it never mixes or resamples.
  AVChannelLayout layout{};
  if (Frame->ch_layout.order != AV_CHANNEL_ORDER_UNSPEC)
    av_channel_layout_copy(&layout, &Frame->ch_layout);
  else
    av_channel_layout_default(&layout, ChannelCount);
  const AVSampleFormat outFormat = FloatOutput ? AV_SAMPLE_FMT_FLT : AV_SAMPLE_FMT_S16;
  int r = swr_alloc_set_opts2(&Resampler, &layout, outFormat, Rate, &layout,
                              AVSampleFormat(Frame->format), Rate, 0, nullptr);
  av_channel_layout_uninit(&layout);
  if (r < 0 || swr_init(Resampler) < 0) {
    swr_free(&Resampler);
    return BASS_ERROR_MEM;
  }
  ResamplerFormat = Frame->format;
  return BASS_OK;
}

int TDecodeStream::Convert(uint8_t *dst, int frames, int fromSample) {
  const int r = ConfigureResampler();
  if (r != BASS_OK) return r;
  const AVSampleFormat format = AVSampleFormat(Frame->format);
  const int bytesPerSample = av_get_bytes_per_sample(format);
  const uint8_t *in[kMaxChannels];
  if (av_sample_fmt_is_planar(format)) {
    for (int c = 0; c < ChannelCount; ++c)
      in[c] = Frame->extended_data[c] + size_t(fromSample) * bytesPerSample;
  } else {
    in[0] = Frame->extended_data[0] + size_t(fromSample) * bytesPerSample * ChannelCount;
  }
  uint8_t *out[1] = {dst};
  return swr_convert(Resampler, out, frames, in, frames) == frames ? BASS_OK : BASS_ERROR_MEM;
}

int64_t TDecodeStream::FrameStart() const {
  const int64_t pts = Frame->pts != AV_NOPTS_VALUE ? Frame->pts : Frame->best_effort_timestamp;
  if (pts == AV_NOPTS_VALUE) return -1;
  const AVStream *st = Format->streams[StreamIndex];
  return av_rescale_q_rnd(pts - OriginPts, st->time_base, AVRational{1, Rate},
                          AVRounding(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
}

int64_t TDecodeStream::Read(uint8_t *dst, int64_t frames) {
  if (Failure) return -Failure;
  int64_t limit = frames;
  if (StatedLength >= 0) limit = std::min(limit, std::max<int64_t>(0, StatedLength - Pos));

  int64_t done = 0;
  bool sourceEnded = false;
  while (done < limit) {
    if (!HaveFrame) {
      const int64_t damagedBefore = DamagedBlocks;
      const int got = DecodeFrame();
      if (SkipFrames > 0) DamagedBlocks = damagedBefore;  // on the way to a seek target
      if (got < 0) {
        Failure = -got;
        break;
      }
      if (got == 0) {
        sourceEnded = true;
        break;
      }
      HaveFrame = true;
      FrameOffset = 0;
    }
    const int available = Frame->nb_samples - FrameOffset;
    if (SkipFrames > 0) {
      const int skip = int(std::min<int64_t>(available, SkipFrames));
      FrameOffset += skip;
      SkipFrames -= skip;
    } else {
      const int n = int(std::min<int64_t>(available, limit - done));
      const int r = Convert(dst + done * FrameBytes(), n, FrameOffset);
      if (r != BASS_OK) {
        Failure = r;
        break;
      }
      FrameOffset += n;
      done += n;
    }
    if (FrameOffset >= Frame->nb_samples) HaveFrame = false;
  }
  Pos += done;

  if (sourceEnded) {
    // Wherever it is, even short of the stated length: that is only a hint.
    EndReached = true;
    SourceEnd = CountedLength = Pos - SkipFrames;
  } else if (done < frames && !Failure) {
    EndReached = true;  // the stated length has been delivered
    SourceEnd = Pos;
  }
  if (done == 0 && Failure) return -Failure;
  return done;
}

int TDecodeStream::Seek(int64_t target) {
  if (target < 0) return BASS_ERROR_POSITION;
  const int64_t known = CountedLength >= 0 ? CountedLength : StatedLength;
  if (known >= 0 && target > known) return BASS_ERROR_POSITION;

  const int64_t ahead = target - Pos;
  const int64_t skipLimit = !SeekByTimestamp ? INT64_MAX : int64_t(Rate) * (Lossy ? 4 : 1);
  if (!Failure && ahead >= 0 && ahead <= skipLimit && !(DecoderEnded && !HaveFrame)) {
    SkipFrames += ahead;  // close ahead: decoding on is cheaper than seeking
    Pos = target;
    EndReached = false;
    return BASS_OK;
  }
  return RestartAt(target);
}

int TDecodeStream::RestartAt(int64_t target) {
  // Lossy decoders rebuild their state (overlap, bit reservoir) from the frames
  // before the target, so they start a while earlier and drop what they decode.
  int64_t preroll = Lossy ? 2 * int64_t(Rate) : 0;
  const AVStream *st = Format->streams[StreamIndex];
  // Damage before the target is not in what the stream delivers from there.
  const int64_t damagedBefore = DamagedBlocks;
  for (int attempt = 0; SeekByTimestamp && attempt < 4; ++attempt) {
    const int64_t from = target - preroll;
    if (from <= 0) break;
    const int64_t ts = OriginPts + av_rescale_q(from, AVRational{1, Rate}, st->time_base);
    if (av_seek_frame(Format, StreamIndex, ts, AVSEEK_FLAG_BACKWARD) < 0) break;
    avcodec_flush_buffers(Decoder);
    DemuxEnded = DecoderEnded = EndReached = HaveFrame = false;
    Failure = 0;
    for (;;) {
      const int got = DecodeFrame();
      if (got <= 0) break;  // damaged or ended before the target: start over below
      const int64_t start = FrameStart();
      if (start < 0) continue;  // no timestamp yet: still inside the preroll
      if (start > target) break;
      HaveFrame = true;
      FrameOffset = 0;
      Pos = target;
      SkipFrames = target - start;
      DamagedBlocks = damagedBefore;
      return BASS_OK;
    }
    preroll = preroll * 2 + Rate;  // landed after the target: go further back
  }

  // From the very start, which always gives the timeline of a plain decode.
  const int r = Reopen();
  DamagedBlocks = damagedBefore;
  if (r != BASS_OK) {
    Failure = r;
    return r;
  }
  SkipFrames = target;
  Pos = target;
  return BASS_OK;
}

int64_t TDecodeStream::Length() {
  if (CountedLength >= 0) return CountedLength;
  if (StatedLength >= 0) return StatedLength;
  // The container does not say: decode a second instance to the end and count,
  // leaving this one where it is.
  std::unique_ptr<TDecodeStream> counter;
  const int r = Open(FilePath, Kind, false, ProbeBytes, counter);
  if (r != BASS_OK) return -r;
  int64_t frames = counter->HaveFrame ? counter->Frame->nb_samples : 0;
  for (;;) {
    const int got = counter->DecodeFrame();
    if (got < 0) {
      LengthBrokeOff = frames;
      return got;
    }
    if (got == 0) break;
    frames += counter->Frame->nb_samples;
  }
  CountedLength = frames;
  return frames;
}
