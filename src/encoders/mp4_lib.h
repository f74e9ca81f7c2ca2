// SPDX-License-Identifier: GPL-3.0-or-later
// TMP4Encoder feeds one of FFmpeg's audio encoders and hands its packets to
// libavformat's MP4 muxer, which writes them through the coder's output
// stream: an .m4a file with the encoder's delay and padding in its edit list.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "encoders/file_stream.h"

class TMP4Encoder {
 public:
  TMP4Encoder() = default;
  ~TMP4Encoder();
  TMP4Encoder(const TMP4Encoder &) = delete;
  TMP4Encoder &operator=(const TMP4Encoder &) = delete;

  // Opens the encoder CodecName for Channels planar samples of Format at
  // Rate (Configure sets the rest before it opens) and starts the file on
  // Stream. Raises, saying why, when either refuses.
  void Open(const char *CodecName, AVSampleFormat Format, int Rate, int Channels, TFileStream *Stream,
            const std::function<void(AVCodecContext &)> &Configure = {});
  // Samples per channel in one frame, and the frame's planes to fill.
  int FrameSize() const { return Frame->nb_samples; }
  uint8_t *Plane(int Channel) const { return Frame->extended_data[Channel]; }
  // Encodes the first Frames samples of the planes (fewer than FrameSize
  // only at the end). Raises on failure.
  void Send(int Frames);
  // The encoder's last packets, then the index that completes the file. Raises on failure.
  void Finish();

  // The encoder as Open opens it, alone: for pieces encoded apart and handed
  // to WriteEncoded. Raises, saying why, when it refuses.
  static AVCodecContext *OpenEncoder(const char *CodecName, AVSampleFormat Format, int Rate, int Channels,
                                     const std::function<void(AVCodecContext &)> &Configure = {});
  // Writes a packet of such an encoder, its times counted in samples; in
  // order. Raises on failure.
  void WriteEncoded(AVPacket &Encoded);
  // The index that completes the file with the packets written, none of the
  // own encoder's. Raises on failure.
  void Close();

 private:
  void Receive();
  void Write(AVPacket &Encoded);
  static void Check(int Result, const char *What, const std::exception_ptr &WriteFailure);
  void Check(int Result, const char *What);
  static int WritePacket(void *Opaque, uint8_t *Data, int Size);
  static int64_t Seek(void *Opaque, int64_t Offset, int Whence);

  AVCodecContext *Context = nullptr;
  AVFormatContext *Muxer = nullptr;
  AVIOContext *Io = nullptr;
  AVStream *Track = nullptr;
  AVFrame *Frame = nullptr;
  AVPacket *Packet = nullptr;
  TFileStream *Output = nullptr;
  std::exception_ptr WriteFailure;  // what the output stream raised inside the muxer
  int64_t Pts = 0;
  int FrameCapacity = 0;
  bool Started = false;  // the header is written: the file needs its trailer
};
