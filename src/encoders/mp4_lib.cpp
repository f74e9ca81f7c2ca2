// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoders/mp4_lib.h"

#include <stdexcept>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
}

namespace {

constexpr int kIoBufferSize = 1 << 16;

std::string ErrorText(int Code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(Code, text, sizeof text);
  return text;
}

}  // namespace

TMP4Encoder::~TMP4Encoder() {
  av_frame_free(&Frame);
  av_packet_free(&Packet);
  avcodec_free_context(&Context);
  if (Muxer) avformat_free_context(Muxer);
  if (Io) av_freep(&Io->buffer);
  avio_context_free(&Io);
}

void TMP4Encoder::Check(int Result, const char *What, const std::exception_ptr &WriteFailure) {
  if (WriteFailure) std::rethrow_exception(WriteFailure);  // the stream says best why
  if (Result < 0) throw std::runtime_error(std::string("MP4 output : ") + What + " : " + ErrorText(Result));
}

void TMP4Encoder::Check(int Result, const char *What) { Check(Result, What, WriteFailure); }

int TMP4Encoder::WritePacket(void *Opaque, uint8_t *Data, int Size) {
  auto *self = static_cast<TMP4Encoder *>(Opaque);
  if (self->WriteFailure) return AVERROR(EIO);
  try {
    self->Output->Write(Data, size_t(Size));
    return Size;
  } catch (...) {
    self->WriteFailure = std::current_exception();
    return AVERROR(EIO);
  }
}

int64_t TMP4Encoder::Seek(void *Opaque, int64_t Offset, int Whence) {
  auto *self = static_cast<TMP4Encoder *>(Opaque);
  if (self->WriteFailure) return AVERROR(EIO);
  try {
    switch (Whence & ~AVSEEK_FORCE) {
      case AVSEEK_SIZE: return self->Output->Size();
      case SEEK_SET: break;
      case SEEK_CUR: Offset += self->Output->Position(); break;
      case SEEK_END: Offset += self->Output->Size(); break;
      default: return AVERROR(EINVAL);
    }
    self->Output->Seek(Offset);
    return Offset;
  } catch (...) {
    self->WriteFailure = std::current_exception();
    return AVERROR(EIO);
  }
}

AVCodecContext *TMP4Encoder::OpenEncoder(const char *CodecName, AVSampleFormat Format, int Rate, int Channels,
                                         const std::function<void(AVCodecContext &)> &Configure) {
  const AVCodec *codec = avcodec_find_encoder_by_name(CodecName);
  if (!codec) throw std::runtime_error(std::string("MP4 output : no encoder ") + CodecName);
  AVCodecContext *context = avcodec_alloc_context3(codec);
  if (!context) throw std::bad_alloc();
  context->sample_fmt = Format;
  context->sample_rate = Rate;
  context->time_base = {1, Rate};
  // The encoder's own layout of that many channels where it names its
  // layouts (ALAC's order is not WAV's; it reorders itself), else the usual one.
  av_channel_layout_default(&context->ch_layout, Channels);
  if (codec->ch_layouts)
    for (const AVChannelLayout *l = codec->ch_layouts; l->nb_channels; ++l)
      if (l->nb_channels == Channels) {
        av_channel_layout_copy(&context->ch_layout, l);
        break;
      }
  context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;  // MP4 keeps the setup in its sample description
  if (Configure) Configure(*context);
  const int opened = avcodec_open2(context, codec, nullptr);
  if (opened < 0) avcodec_free_context(&context);
  Check(opened, "avcodec_open2", nullptr);
  return context;
}

void TMP4Encoder::Open(const char *CodecName, AVSampleFormat Format, int Rate, int Channels, TFileStream *Stream,
                       const std::function<void(AVCodecContext &)> &Configure) {
  Output = Stream;
  Context = OpenEncoder(CodecName, Format, Rate, Channels, Configure);
  Frame = av_frame_alloc();
  Packet = av_packet_alloc();
  if (!Frame || !Packet) throw std::bad_alloc();

  Check(avformat_alloc_output_context2(&Muxer, nullptr, "ipod", nullptr), "avformat_alloc_output_context2");
  auto *buffer = static_cast<uint8_t *>(av_malloc(kIoBufferSize));
  if (!buffer) throw std::bad_alloc();
  Io = avio_alloc_context(buffer, kIoBufferSize, 1, this, nullptr, &WritePacket, &Seek);
  if (!Io) {
    av_free(buffer);
    throw std::bad_alloc();
  }
  Io->seekable = AVIO_SEEKABLE_NORMAL;
  Muxer->pb = Io;
  Muxer->flags |= AVFMT_FLAG_CUSTOM_IO;
  Track = avformat_new_stream(Muxer, nullptr);
  if (!Track) throw std::bad_alloc();
  Check(avcodec_parameters_from_context(Track->codecpar, Context), "avcodec_parameters_from_context");
  Track->time_base = Context->time_base;
  // The movie's clock is the sample rate, so the edit list states the length
  // to the sample (in milliseconds it falls short by up to one).
  AVDictionary *settings = nullptr;
  av_dict_set_int(&settings, "movie_timescale", Rate, 0);
  const int written = avformat_write_header(Muxer, &settings);
  av_dict_free(&settings);
  Check(written, "avformat_write_header");
  Started = true;

  FrameCapacity = Context->frame_size > 0 ? Context->frame_size : 4096;
  Frame->format = Format;
  Frame->nb_samples = FrameCapacity;
  Frame->sample_rate = Rate;
  Check(av_channel_layout_copy(&Frame->ch_layout, &Context->ch_layout), "av_channel_layout_copy");
  Check(av_frame_get_buffer(Frame, 0), "av_frame_get_buffer");
}

void TMP4Encoder::Send(int Frames) {
  Check(av_frame_make_writable(Frame), "av_frame_make_writable");
  Frame->nb_samples = Frames;
  Frame->pts = Pts;
  Pts += Frames;
  Check(avcodec_send_frame(Context, Frame), "avcodec_send_frame");
  Frame->nb_samples = FrameCapacity;
  Receive();
}

void TMP4Encoder::Receive() {
  for (;;) {
    const int result = avcodec_receive_packet(Context, Packet);
    if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return;
    Check(result, "avcodec_receive_packet");
    Write(*Packet);
  }
}

void TMP4Encoder::Write(AVPacket &Encoded) {
  Encoded.stream_index = Track->index;
  av_packet_rescale_ts(&Encoded, Context->time_base, Track->time_base);
  Check(av_interleaved_write_frame(Muxer, &Encoded), "av_write_frame");
}

void TMP4Encoder::WriteEncoded(AVPacket &Encoded) {
  if (Started) Write(Encoded);
}

void TMP4Encoder::Finish() {
  if (!Started) return;
  Check(avcodec_send_frame(Context, nullptr), "avcodec_send_frame");
  Receive();
  Close();
}

void TMP4Encoder::Close() {
  if (!Started) return;
  Started = false;
  Check(av_write_trailer(Muxer), "av_write_trailer");
  avio_flush(Io);
  Check(Io->error, "avio_flush");
}
