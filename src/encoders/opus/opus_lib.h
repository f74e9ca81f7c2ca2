// SPDX-License-Identifier: GPL-3.0-or-later
// TOpus_Coder feeds libopusenc (TOpusCoder feeds it from the worker): the
// comment header, the encoder, and the Ogg pages it writes into an output
// stream it does not own.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "base/misc.h"
#include "encoders/file_stream.h"

struct OggOpusEnc;
struct OggOpusComments;

class TOpus_Coder {
 public:
  TOpus_Coder();
  ~TOpus_Coder();  // frees what End has not
  TOpus_Coder(const TOpus_Coder &) = delete;
  TOpus_Coder &operator=(const TOpus_Coder &) = delete;

  // A Vorbis comment of the header; before Start.
  void AddComment(const char *Name, const std::string &Value);

  // Settings, before Start.
  int32_t Rate = 48000;
  int32_t Channels = 2;
  int32_t Bitrate = 128000;  // bit/s of the whole output
  bool Vbr = true, Constrained = false;
  int32_t Complexity = 10;
  bool Voice = false;
  int32_t FrameSize = 200;  // tenths of a millisecond
  TFileStream *Output = nullptr;  // not owned

  // Sets the encoder up; raises when the library refuses the settings.
  void Start();
  // Encodes Frames frames of interleaved floats; raises when the library
  // or the output fails.
  void Encode(const float *Samples, int Frames);
  // Writes what the encoder holds and the last page, whose granule trims
  // the padding; raises when the output fails. Once.
  void End();

  static TCoderVersionRec Version();

 private:
  static int Write(void *User, const unsigned char *Data, int32_t Size);
  static int Close(void *User);
  // Raises the output's own failure when there was one, else Why with the library's word.
  void Check(int Code, const char *Why);
  OggOpusComments *Comments = nullptr;
  OggOpusEnc *Encoder = nullptr;
  std::exception_ptr WriteFailure;
};
