// SPDX-License-Identifier: GPL-3.0-or-later
// The decoder interface every conversion reads its source through, and the
// decoder for every type the BASS interface reads.
//
// A decoder belongs to one worker thread: it is created, used and destroyed
// there. Counts are bytes of interleaved PCM: 16-bit integers, or 32-bit floats
// when created with BASS_SAMPLE_FLOAT; positions are seconds.
#pragma once

#include <cstdint>
#include <string>

#include "base/misc.h"

// How a source's decoding went: where its data ended, what it states, and
// the damage passed over on the way.
struct TDecodeReport {
  double EndSeconds = -1;     // where the data ended; -1 while it has not
  double StatedSeconds = -1;  // the length the source states; -1 when it states none
  int64_t DamagedBlocks = 0;
  bool EndMarkMissing = false;  // the source ended without its container's end mark
};

class TCustomDecoder {
 public:
  // StartPos is not used by the constructor: callers seek with SetPosition.
  TCustomDecoder(bool Mem, const std::string &FileName, double StartPos, int64_t Length,
                 uint32_t Flags, int32_t BufferSize, const TAudioInfo &AudioInfo);
  virtual ~TCustomDecoder() = default;
  TCustomDecoder(const TCustomDecoder &) = delete;
  TCustomDecoder &operator=(const TCustomDecoder &) = delete;

  // Moves the output to `Seconds` from the start; non-zero when done.
  virtual int32_t SetPosition(double Seconds) = 0;
  // Writes up to Count bytes into Buffer; returns the bytes written, 0 or less
  // at the end, also when the source stops short of its stated length.
  // Raises only when the decoder cannot go on at all.
  virtual int64_t GetData(void *Buffer, uint32_t Count) = 0;
  // Position of the output, in seconds.
  virtual double GetPosition() = 0;
  // What the decoding met so far.
  virtual TDecodeReport GetReport() = 0;

 protected:
  std::string FileName;
  uint32_t Stream = 0;
  TAudioInfo AudioInfo;
  int32_t BufferSize = 0;
};

class TBASSDecoder : public TCustomDecoder {
 public:
  // Raises "BASS_StreamCreateFile %d" when the stream cannot be created.
  TBASSDecoder(bool Mem, const std::string &FileName, double StartPos, int64_t Length,
               uint32_t Flags, int32_t BufferSize, const TAudioInfo &AudioInfo);
  ~TBASSDecoder() override;

  int32_t SetPosition(double Seconds) override;
  int64_t GetData(void *Buffer, uint32_t Count) override;
  double GetPosition() override;
  TDecodeReport GetReport() override;
};
