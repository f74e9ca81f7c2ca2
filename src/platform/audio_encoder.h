// SPDX-License-Identifier: GPL-3.0-or-later
// One of FFmpeg's audio encoders fed with interleaved floats, for the encoder
// interfaces built over FFmpeg (faac, basswma).
#pragma once

#include <cstdint>
#include <functional>

extern "C" {
#include <libavcodec/avcodec.h>
}

class TAudioEncoder {
 public:
  TAudioEncoder() = default;
  ~TAudioEncoder();
  TAudioEncoder(const TAudioEncoder &) = delete;
  TAudioEncoder &operator=(const TAudioEncoder &) = delete;

  // Allocates the context for planar floats at the rate and channel count;
  // Configure sets the rest before the encoder opens. False when it refuses.
  bool Open(const AVCodec *Codec, int Rate, int Channels, const std::function<void(AVCodecContext &)> &Configure);
  void Close();
  // Sends Frames interleaved samples as one frame, filled up with silence to
  // PadTo frames; null Samples ends the stream. Every finished packet goes to
  // Deliver. False when the encoder or Deliver fails.
  bool Send(const float *Samples, int Frames, int PadTo, const std::function<bool(const AVPacket &)> &Deliver);

  AVCodecContext *Context = nullptr;
  // What avcodec_open2 returned when Open failed there (an AVERROR), else 0.
  int OpenError = 0;

 private:
  AVFrame *Frame = nullptr;
  AVPacket *Packet = nullptr;
  int64_t Pts = 0;
};
