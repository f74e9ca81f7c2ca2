// SPDX-License-Identifier: GPL-3.0-or-later
// Prediction of one coded channel stream: the fixed first-order filter, the
// adaptive predictor over the stream's own past (A) and the other stream (B),
// and the cascade of NN filters of the compression level. Every state starts
// over at each frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ape {

// s = v - ((v_prev * 31) >> 5)
class TFirstOrderFilter {
 public:
  void Reset() { Last = 0; }
  int64_t Compress(int32_t v) {
    const int64_t s = int64_t(v) - ((int64_t(Last) * 31) >> 5);
    Last = v;
    return s;
  }

 private:
  int32_t Last = 0;
};

// One NN filter of `Order` taps with `Shift` fractional bits.
class TNNFilter {
 public:
  TNNFilter(int Order, int Shift);
  void Reset();
  int32_t Compress(int32_t x);

 private:
  int Order, Shift;
  int32_t Average = 0;
  std::vector<int16_t> Coefficients;
  // Histories of saturated inputs and of adaptation deltas; the last Order
  // entries before Position are the window. They slide back when full.
  std::vector<int16_t> Input, Delta;
  size_t Position = 0;
};

// The stage-2 predictor of one stream, with its own first-order filters.
// Stereo streams at level 5000 predict in 64 bits (decoders expect that
// there); every other stream wraps its prediction at 32 bits.
class TStreamPredictor {
 public:
  TStreamPredictor(int Level, bool Wide);
  void Reset();
  // The residual of A (this stream's value) given B (the other stream's value
  // as the order requires: the previous mid for S, the current side for M, 0 for mono).
  int32_t Compress(int32_t A, int32_t B);

 private:
  TFirstOrderFilter FilterA, FilterB;
  bool Wide;
  int64_t HistoryA[4] = {};  // filtered A at t-1 .. t-4
  int64_t HistoryB[4] = {};  // filtered B at t-1 .. t-4
  int64_t CoeffA[4] = {};
  int64_t CoeffB[5] = {};
  std::vector<TNNFilter> Filters;  // in the order the encoder applies them
};

}  // namespace ape
