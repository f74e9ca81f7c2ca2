// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoders/ape/predictor.h"

#include <algorithm>
#include <cstring>

namespace ape {

namespace {

constexpr size_t kWindow = 512;  // inputs kept beyond the filter's order before sliding back

inline int32_t Sign(int64_t v) { return (v > 0) - (v < 0); }
inline int16_t Saturate16(int32_t v) { return int16_t(std::clamp(v, -32768, 32767)); }
inline int32_t Wrap32(int64_t v) { return int32_t(uint32_t(uint64_t(v))); }

}  // namespace

TNNFilter::TNNFilter(int Order, int Shift)
    : Order(Order), Shift(Shift), Coefficients(size_t(Order)), Input(size_t(Order) + kWindow),
      Delta(size_t(Order) + kWindow) {
  Reset();
}

void TNNFilter::Reset() {
  std::fill(Coefficients.begin(), Coefficients.end(), 0);
  std::fill(Input.begin(), Input.end(), 0);
  std::fill(Delta.begin(), Delta.end(), 0);
  Position = size_t(Order);
  Average = 0;
}

int32_t TNNFilter::Compress(int32_t x) {
  const int16_t *h = &Input[Position - size_t(Order)];
  int16_t *d = &Delta[Position - size_t(Order)];
  int16_t *w = Coefficients.data();

  // A 32-bit wrapping dot product of int16 values (vectorises well).
  uint32_t dot = 0;
  for (int i = 0; i < Order; ++i) dot += uint32_t(int32_t(w[i]) * int32_t(h[i]));
  const int32_t y = Wrap32(int64_t(x) - ((int64_t(int32_t(dot)) + (int64_t(1) << (Shift - 1))) >> Shift));

  if (y > 0) {
    for (int i = 0; i < Order; ++i) w[i] = int16_t(w[i] - d[i]);
  } else if (y < 0) {
    for (int i = 0; i < Order; ++i) w[i] = int16_t(w[i] + d[i]);
  }

  const int64_t magnitude = x < 0 ? -int64_t(x) : int64_t(x);
  int16_t delta = 0;
  if (x != 0) {
    const int16_t m = magnitude > 3 * int64_t(Average) ? 32 : magnitude > (4 * int64_t(Average)) / 3 ? 16 : 8;
    delta = int16_t(x > 0 ? -m : m);
  }
  Average += int32_t((magnitude - Average) / 16);

  int16_t *now = &Delta[Position];
  now[0] = delta;
  now[-1] >>= 1;
  now[-2] >>= 1;
  now[-8] >>= 1;
  Input[Position] = Saturate16(x);

  if (++Position == Input.size()) {  // slide the window back to the start
    std::memmove(Input.data(), &Input[Position - size_t(Order)], size_t(Order) * sizeof(int16_t));
    std::memmove(Delta.data(), &Delta[Position - size_t(Order)], size_t(Order) * sizeof(int16_t));
    Position = size_t(Order);
  }
  return y;
}

TStreamPredictor::TStreamPredictor(int Level, bool Wide) : Wide(Wide) {
  switch (Level) {
    case 2000: Filters = {TNNFilter(16, 11)}; break;
    case 3000: Filters = {TNNFilter(64, 11)}; break;
    case 4000: Filters = {TNNFilter(256, 13), TNNFilter(32, 10)}; break;
    case 5000: Filters = {TNNFilter(1280, 15), TNNFilter(256, 13), TNNFilter(16, 11)}; break;
    default: break;
  }
  Reset();
}

void TStreamPredictor::Reset() {
  FilterA.Reset();
  FilterB.Reset();
  std::fill(std::begin(HistoryA), std::end(HistoryA), 0);
  std::fill(std::begin(HistoryB), std::end(HistoryB), 0);
  const int32_t initialA[4] = {360, 317, -109, 98};
  std::copy(std::begin(initialA), std::end(initialA), CoeffA);
  std::fill(std::begin(CoeffB), std::end(CoeffB), 0);
  for (TNNFilter &f : Filters) f.Reset();
}

int32_t TStreamPredictor::Compress(int32_t A, int32_t B) {
  const int64_t sA = FilterA.Compress(A);
  const int64_t sB = FilterB.Compress(B);
  const int64_t *a = HistoryA, *b = HistoryB;
  const int64_t xa[4] = {a[0], a[0] - a[1], a[1] - a[2], a[2] - a[3]};
  const int64_t xb[5] = {sB, sB - b[0], b[0] - b[1], b[1] - b[2], b[2] - b[3]};
  // Sums wrap modulo 2^64 (unsigned), as the decoder's do.
  uint64_t sumA = 0, sumB = 0;
  for (int i = 0; i < 4; ++i) sumA += uint64_t(CoeffA[i]) * uint64_t(xa[i]);
  for (int i = 0; i < 5; ++i) sumB += uint64_t(CoeffB[i]) * uint64_t(xb[i]);
  int64_t prediction;
  if (Wide) {
    prediction = int64_t(sumA + uint64_t(int64_t(sumB) >> 1)) >> 10;
  } else {
    const int32_t predA = int32_t(uint32_t(sumA)), predB = int32_t(uint32_t(sumB));
    prediction = int32_t(uint32_t(predA) + uint32_t(predB >> 1)) >> 10;
  }
  int32_t r = Wrap32(sA - prediction);

  if (const int32_t s = Sign(r)) {
    for (int i = 0; i < 4; ++i) CoeffA[i] += s * Sign(xa[i]);
    for (int i = 0; i < 5; ++i) CoeffB[i] += s * Sign(xb[i]);
  }
  // The decoder keeps the stage-2 output it rebuilt: the 32-bit value outside wide mode.
  const int64_t keptA = Wide ? sA : int64_t(Wrap32(sA));
  HistoryA[3] = HistoryA[2], HistoryA[2] = HistoryA[1], HistoryA[1] = HistoryA[0], HistoryA[0] = keptA;
  HistoryB[3] = HistoryB[2], HistoryB[2] = HistoryB[1], HistoryB[1] = HistoryB[0], HistoryB[0] = sB;

  for (TNNFilter &f : Filters) r = f.Compress(r);
  return r;
}

}  // namespace ape
