// SPDX-License-Identifier: GPL-3.0-or-later
// TACC_Coder feeds the FAAC library: it owns the library handle and its
// buffers and writes the ADTS frames to the encoder's output stream.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "base/misc.h"
#include "encoders/file_stream.h"
#include "platform/faac/faac.h"

class TACC_Coder {
 public:
  TACC_Coder() = default;
  ~TACC_Coder();
  TACC_Coder(const TACC_Coder &) = delete;
  TACC_Coder &operator=(const TACC_Coder &) = delete;

  // Opens and configures the library for the stream (or for Sink, when it is
  // set); raises when it refuses.
  void Start(TFileStream *Stream);
  // Size bytes of 8-, 16- or 32-bit (24-bit range) samples.
  void Encode(const uint8_t *Buffer, int Size);
  // Writes the frames the library still holds back.
  void Drain();

  int32_t Bitrate = 0;    // kbit/s per channel, 0: quality-driven
  int32_t Bandwidth = 0;  // Hz, 0: 16000
  int32_t Quality = 0;    // 0: 100
  TAudioInfo AudioInfo;
  int InputBlockSize = 0;  // bytes per call
  // Takes each ADTS frame in place of the stream, when set.
  std::function<void(const uint8_t *Frame, size_t Bytes)> Sink;

 private:
  void Write(int Bytes);
  faacEncHandle Handle = nullptr;
  unsigned long InputSamples = 0, MaxOutputBytes = 0;
  std::vector<uint8_t> OutBuffer;
  std::vector<int32_t> Samples;
  faacEncConfigurationPtr Config = nullptr;
  TFileStream *Output = nullptr;
};
