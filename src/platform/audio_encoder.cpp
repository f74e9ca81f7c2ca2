// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/audio_encoder.h"

#include <algorithm>

TAudioEncoder::~TAudioEncoder() { Close(); }

void TAudioEncoder::Close() {
  avcodec_free_context(&Context);
  av_frame_free(&Frame);
  av_packet_free(&Packet);
  Pts = 0;
}

bool TAudioEncoder::Open(const AVCodec *Codec, int Rate, int Channels,
                         const std::function<void(AVCodecContext &)> &Configure) {
  Close();
  OpenError = 0;
  if (!Codec || !(Context = avcodec_alloc_context3(Codec))) return false;
  Context->sample_fmt = AV_SAMPLE_FMT_FLTP;
  Context->sample_rate = Rate;
  av_channel_layout_default(&Context->ch_layout, Channels);
  Context->thread_count = 1;
  Configure(*Context);
  if ((OpenError = avcodec_open2(Context, Codec, nullptr)) < 0) return false;
  OpenError = 0;
  Frame = av_frame_alloc();
  Packet = av_packet_alloc();
  return Frame && Packet;
}

bool TAudioEncoder::Send(const float *Samples, int Frames, int PadTo,
                         const std::function<bool(const AVPacket &)> &Deliver) {
  if (Samples) {
    av_frame_unref(Frame);
    Frame->nb_samples = std::max(Frames, PadTo);
    Frame->format = Context->sample_fmt;
    Frame->sample_rate = Context->sample_rate;
    if (av_channel_layout_copy(&Frame->ch_layout, &Context->ch_layout) < 0 || av_frame_get_buffer(Frame, 0) < 0)
      return false;
    const int channels = Context->ch_layout.nb_channels;
    for (int ch = 0; ch < channels; ++ch) {
      float *plane = reinterpret_cast<float *>(Frame->extended_data[ch]);
      for (int i = 0; i < Frame->nb_samples; ++i) plane[i] = i < Frames ? Samples[size_t(i) * channels + ch] : 0.0f;
    }
    Frame->pts = Pts;
    Pts += Frame->nb_samples;
  }
  if (avcodec_send_frame(Context, Samples ? Frame : nullptr) < 0) return false;
  for (;;) {
    const int r = avcodec_receive_packet(Context, Packet);
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
    const bool delivered = r >= 0 && Deliver(*Packet);
    av_packet_unref(Packet);
    if (!delivered) return false;
  }
}
