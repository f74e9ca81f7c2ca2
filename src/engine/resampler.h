// SPDX-License-Identifier: GPL-3.0-or-later
// Worker side: changes the rate and channel count of decoded audio before the
// encoder sees it (the preprocess options' resampling and channels).
#pragma once

#include <cstdint>
#include <vector>

#include "base/misc.h"
#include "encoders/format.h"

struct SwrContext;

class TResampler {
 public:
  // Interleaved samples in and out: 16-bit integers, or 32-bit floats when
  // Float (out: when FloatOut). Raises when the library refuses the conversion.
  TResampler(int32_t InRate, int32_t InChannels, int32_t OutRate, int32_t OutChannels, bool Float)
      : TResampler(InRate, InChannels, OutRate, OutChannels, Float, Float) {}
  TResampler(int32_t InRate, int32_t InChannels, int32_t OutRate, int32_t OutChannels, bool Float, bool FloatOut);
  ~TResampler();
  TResampler(const TResampler &) = delete;
  TResampler &operator=(const TResampler &) = delete;

  // Converts Frames frames; the converted ones so far are in Output() (which
  // this call replaces).
  void Convert(const uint8_t *In, int64_t Frames);
  // What the library still holds at the end of the source.
  void Flush() { Convert(nullptr, 0); }
  const std::vector<uint8_t> &Output() const { return Out; }

 private:
  SwrContext *Context = nullptr;
  int32_t OutFrameBytes;
  std::vector<uint8_t> Out;
};

// The stream the encoder receives when the options resample or change the
// channel count of Source (rate and channels; sizes follow). Equal to Source
// when they change nothing.
TAudioInfoRec PreprocessedStream(const TPreprocessOptions &Options, const TAudioInfoRec &Source);

// The rate Rate is encoded at by a format taking at most MaxRate (0: any):
// Rate itself when it fits, else the highest rate of its family (44.1 or 48 kHz
// times a power of two) that does, else MaxRate. DSD64's 352.8 kHz becomes
// 88.2 kHz for a format that takes 96 kHz.
int32_t RateWithin(int32_t Rate, int32_t MaxRate);
// The rate and channel count an encoder taking Range is given for Stream
// (sizes follow): Stream itself when it fits. A faster source comes down as
// RateWithin says (to a rate of the list at or below it), a slower one up to
// the next rate taken; more channels are mixed down to the most it takes.
TAudioInfoRec StreamTaken(const TAudioInfoRec &Stream, const TEncoderRange &Range);
