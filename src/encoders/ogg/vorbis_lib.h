// SPDX-License-Identifier: GPL-3.0-or-later
// TOGG_Coder feeds libvorbis and libogg (TOGGCoder feeds it from the worker):
// the encoder's state, and the pages it writes into an output stream it does
// not own.
#pragma once

#include <cstdint>

#include <ogg/ogg.h>
#include <vorbis/codec.h>

#include "base/misc.h"
#include "encoders/file_stream.h"

class TOGG_Coder {
 public:
  TOGG_Coder() = default;
  ~TOGG_Coder();  // clears what Clear has not
  TOGG_Coder(const TOGG_Coder &) = delete;
  TOGG_Coder &operator=(const TOGG_Coder &) = delete;

  // Settings: positions of the bitrate table (Avg 0: the quality mode), and
  // the quality from -0.1 to 1.0.
  uint8_t Avg = 0, Max = 0, Min = 0;
  float Quality = 0.2f;
  TAudioInfo AudioInfo;
  TFileStream *Output = nullptr;  // not owned

  // Sets the encoder up and writes the headers; raises when the library
  // refuses the settings or the output the pages.
  void Start();
  // Encodes Size bytes of 8-, 16-, packed 24-bit or float samples; Size 0
  // ends the stream.
  void Encode(const uint8_t *Buffer, int Size);
  // Ends the stream when it was started.
  void End();
  // Frees the library's state.
  void Clear();

  static TCoderVersionRec Version();
  // Whether the library sets up a managed bitrate (bit/s, -1: none) for the stream.
  static bool TakesBitrate(int Channels, int Rate, long Max, long Nominal, long Min);

 private:
  void WritePage(const ogg_page &Page, const char *Where);
  int BitsPerSample = 16;
  int Channels = 2;
  int64_t Blocks = 0;
  bool EndOfStream = false;
  bool Started = false, Ended = false;
  bool InfoMade = false, StateMade = false;
  ogg_stream_state OggStream{};
  ogg_page Page{};
  ogg_packet Packet{};
  vorbis_info Info{};
  vorbis_comment Comment{};
  vorbis_dsp_state Dsp{};
  vorbis_block Block{};
};
