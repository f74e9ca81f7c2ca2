// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoders/ape/range_coder.h"

namespace ape {

namespace {

constexpr uint32_t kTop = 1u << 31;
constexpr uint32_t kBottom = 1u << 23;
constexpr int kShiftBits = 23;

// The fixed model of the "overflow" part: cumulative starts and widths out of 65536.
struct TSymbol {
  uint32_t Total, Width;
};
constexpr uint32_t kEscape = 63;
constexpr TSymbol Overflow(uint32_t s) {
  constexpr uint32_t totals[] = {0,     19578, 36160, 48417, 56323, 60899, 63265, 64435,
                                 64971, 65232, 65351, 65416, 65447, 65466, 65476, 65482,
                                 65485, 65488, 65490, 65491, 65492};
  constexpr uint32_t widths[] = {19578, 16582, 12257, 7906, 4576, 2366, 1170, 536, 261, 119, 65,
                                 31,    19,    10,    6,    3,    3,    2,    1,   1,   1};
  return s <= 20 ? TSymbol{totals[s], widths[s]} : TSymbol{65472 + s, 1};
}

}  // namespace

void TRangeCoder::Start() {
  Low = 0;
  Range = kTop;
  Cache = 0;
  Pending = 0;
}

void TRangeCoder::EmitCarry(bool carry) {
  Out.push_back(uint8_t(Cache + (carry ? 1 : 0)));
  Out.insert(Out.end(), Pending, carry ? 0x00 : 0xFF);
  Pending = 0;
}

void TRangeCoder::Normalize() {
  while (Range <= kBottom) {
    if (Low < (0xFFu << kShiftBits)) {
      EmitCarry(false);
      Cache = uint8_t(Low >> kShiftBits);
    } else if (Low >= kTop) {
      EmitCarry(true);
      Cache = uint8_t(Low >> kShiftBits);
    } else {
      ++Pending;  // the top byte is not decided yet
    }
    Low = (Low << 8) & (kTop - 1);
    Range <<= 8;
  }
}

void TRangeCoder::EncodeFrequency(uint32_t total, uint32_t width) {
  Normalize();
  const uint32_t q = Range >> 16;
  Range = q * width;
  Low += q * total;
}

void TRangeCoder::EncodeBits(uint32_t value, int bits) {
  Normalize();
  Range >>= bits;
  Low += Range * value;
}

void TRangeCoder::EncodeUniform(uint32_t value, uint32_t count) {
  Normalize();
  const uint32_t q = Range / count;
  Range = q;
  Low += q * value;
}

void TRangeCoder::Flush() {
  Normalize();
  const uint32_t t = (Low >> kShiftBits) + 1;
  EmitCarry(t > 0xFF);
  Out.push_back(uint8_t(t));
  Out.insert(Out.end(), 3, 0x00);
}

void TValueCoder::Encode(TRangeCoder &Coder, int32_t Value) {
  // Fold the sign: 0, 1, -1, 2, -2, ... become 0, 1, 2, 3, 4, ...
  const uint32_t u = Value > 0 ? (uint32_t(Value) << 1) - 1 : uint32_t(-int64_t(Value)) << 1;
  const uint32_t pivot = KSum >> 5 ? KSum >> 5 : 1;
  const uint32_t overflow = u / pivot;
  const uint32_t base = u % pivot;
  KSum += (u + 1) / 2 - ((KSum + 16) >> 5);

  if (overflow < kEscape) {
    const TSymbol s = Overflow(overflow);
    Coder.EncodeFrequency(s.Total, s.Width);
  } else {
    const TSymbol s = Overflow(kEscape);
    Coder.EncodeFrequency(s.Total, s.Width);
    Coder.EncodeBits(overflow >> 16, 16);
    Coder.EncodeBits(overflow & 0xFFFF, 16);
  }
  if (pivot < 65536) {
    Coder.EncodeUniform(base, pivot);
  } else {
    int bits = 0;
    while ((pivot >> bits) != 0) ++bits;
    const uint32_t split = 1u << (bits - 16);
    Coder.EncodeUniform(base / split, pivot / split + 1);
    Coder.EncodeUniform(base % split, split);
  }
}

}  // namespace ape
