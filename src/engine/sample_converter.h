// SPDX-License-Identifier: GPL-3.0-or-later
// Turns a decoded block into what an encoder takes, as its format's sample
// rule says: 24-bit deliveries packed to three bytes, or 32-bit ones made
// integers of a 24-bit range; anything else passes as it is.
#pragma once

#include <cstdint>
#include <vector>

#include "encoders/format.h"

class TSampleConverter {
 public:
  // Bits: the decoded depth (16, or 24 and 32 delivered as floats);
  // BlockBytes: the largest block Convert is given.
  TSampleConverter(TWideSamples Wide, int32_t Bits, size_t BlockBytes);

  // The block to hand over; Size is its byte count, in and out.
  const void *Convert(const uint8_t *Block, int &Size);
  // Floats become integers, clamped at full scale.
  bool ToIntegers() const { return Pack24 || ToInt32; }

 private:
  bool Pack24, ToInt32;
  std::vector<uint8_t> Converted;  // sized from the encoder's block: never larger
};
