// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/sample_converter.h"

#include <cmath>
#include <cstring>
#include <string>

namespace {

constexpr float kScale24 = 8388608.0f;  // 2^23: full scale of a 24-bit sample

// Float sample to a 24-bit integer, rounded and clamped. Exact for samples a
// 24-bit source delivered; resampled ones are rounded (their error is far
// below a 24-bit source's own noise, so no dither).
inline int32_t ToInt24(float v) {
  const float scaled = v * kScale24;
  if (!(scaled > -kScale24)) return scaled != scaled ? 0 : -8388608;  // also NaN
  if (scaled >= 8388607.0f) return 8388607;
  return int32_t(std::lrint(scaled));
}

// xorshift64*: fast, and far more than good enough for noise.
inline uint32_t NextNoise(uint64_t &State) {
  State ^= State >> 12;
  State ^= State << 25;
  State ^= State >> 27;
  return uint32_t((State * 0x2545F4914F6CDD1DULL) >> 32);
}

// Float sample to 16 bits with triangular dither of ±1 LSB: the sum of two
// independent uniform values (the two halves of one random word) minus
// their mean. The error is then noise independent of the signal, where
// plain rounding would leave distortion (or silence, below half an LSB).
// A value on the 16-bit grid already (a 16-bit source remixed, digital
// silence) loses nothing and stays as it is.
inline int16_t ToInt16Dithered(float v, uint64_t &State) {
  const float exact = v * 32768.0f;
  if (exact >= -32768.0f && exact <= 32767.0f && float(int32_t(exact)) == exact) return int16_t(exact);
  const uint32_t r = NextNoise(State);
  const float tpdf = float(int32_t(r & 0xFFFF) + int32_t(r >> 16) - 65535) * (1.0f / 65536.0f);
  const float scaled = exact + tpdf;
  if (!(scaled > -32768.5f)) return scaled != scaled ? 0 : -32768;  // also NaN
  if (scaled >= 32766.5f) return 32767;
  return int16_t(std::lrint(scaled));
}

}  // namespace

TSampleConverter::TSampleConverter(TWideSamples Wide, int32_t Bits, size_t BlockBytes)
    : TSampleConverter(Wide, Bits, Bits, BlockBytes, 0) {}

TSampleConverter::TSampleConverter(TWideSamples Wide, int32_t DecodedBits, int32_t Bits, size_t BlockBytes,
                                   uint64_t Seed)
    : Pack24(Bits == 24 && Wide == TWideSamples::Packed24),
      ToInt32(Bits == 32 && Wide == TWideSamples::Int24In32),
      Dither16(DecodedBits > 16 && Bits == 16),
      Noise(Seed | 1),  // the generator's state is never zero
      Converted(Pack24 || ToInt32 || Dither16 ? BlockBytes : 0) {}

const void *TSampleConverter::Convert(const uint8_t *Block, int &Size) {
  const float *in = reinterpret_cast<const float *>(Block);
  const size_t count = size_t(Size) / 4;
  if (Dither16) {
    int16_t *out = reinterpret_cast<int16_t *>(Converted.data());
    for (size_t i = 0; i < count; ++i) out[i] = ToInt16Dithered(in[i], Noise);
    Size = int(count * 2);
    return Converted.data();
  }
  if (Pack24) {
    uint8_t *out = Converted.data();
    for (size_t i = 0; i < count; ++i, out += 3) {
      const int32_t v = ToInt24(in[i]);
      out[0] = uint8_t(v);
      out[1] = uint8_t(v >> 8);
      out[2] = uint8_t(v >> 16);
    }
    Size = int(count * 3);
    return Converted.data();
  }
  if (ToInt32) {
    int32_t *out = reinterpret_cast<int32_t *>(Converted.data());
    for (size_t i = 0; i < count; ++i) out[i] = ToInt24(in[i]);
    return Converted.data();
  }
  return Block;
}

uint64_t DitherSeed(const std::string &Source, double Start) {
  uint64_t hash = 0xCBF29CE484222325ULL;  // FNV-1a
  auto add = [&hash](const void *Data, size_t Bytes) {
    const auto *p = static_cast<const uint8_t *>(Data);
    for (size_t i = 0; i < Bytes; ++i) hash = (hash ^ p[i]) * 0x100000001B3ULL;
  };
  add(Source.data(), Source.size());
  const int64_t startMs = std::llround(Start * 1000);
  add(&startMs, sizeof startMs);
  return hash;
}
