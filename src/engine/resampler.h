// Worker side: changes the rate and channel count of decoded audio before the
// encoder sees it (the preprocess options' resampling and channels).
#pragma once

#include <cstdint>
#include <vector>

#include "base/misc.h"

struct SwrContext;

class TResampler {
 public:
  // Interleaved samples in and out: 16-bit integers, or 32-bit floats when
  // Float. Raises when the library refuses the conversion.
  TResampler(int32_t InRate, int32_t InChannels, int32_t OutRate, int32_t OutChannels, bool Float);
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
