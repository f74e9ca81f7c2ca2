// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/sample_converter.h"

namespace {

constexpr float kScale24 = 8388608.0f;  // 2^23: full scale of a 24-bit sample

// Float sample to a 24-bit integer, truncated toward zero and clamped.
inline int32_t ToInt24(float v) {
  const float scaled = v * kScale24;
  if (!(scaled > -kScale24)) return scaled != scaled ? 0 : -8388608;  // also NaN
  if (scaled >= 8388607.0f) return 8388607;
  return int32_t(scaled);
}

}  // namespace

TSampleConverter::TSampleConverter(TWideSamples Wide, int32_t Bits, size_t BlockBytes)
    : Pack24(Bits == 24 && Wide == TWideSamples::Packed24),
      ToInt32(Bits == 32 && Wide == TWideSamples::Int24In32),
      Converted(Pack24 || ToInt32 ? BlockBytes : 0) {}

const void *TSampleConverter::Convert(const uint8_t *Block, int &Size) {
  const float *in = reinterpret_cast<const float *>(Block);
  const size_t count = size_t(Size) / 4;
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
