// SPDX-License-Identifier: GPL-3.0-or-later
// Turns a decoded block into what an encoder takes, as its format's sample
// rule says: 24-bit deliveries packed to three bytes, or 32-bit ones made
// integers of a 24-bit range, or floats brought down to 16 bits with TPDF
// dither; anything else passes as it is.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "encoders/format.h"

class TSampleConverter {
 public:
  // Bits: the depth the encoder takes (16, or 24 and 32 delivered as floats);
  // BlockBytes: the largest block Convert is given.
  TSampleConverter(TWideSamples Wide, int32_t Bits, size_t BlockBytes);
  // Delivered floats (DecodedBits 32) for an encoder taking 16 bits are
  // dithered, from a generator seeded with Seed (the same samples and seed
  // give the same output). Otherwise as above.
  TSampleConverter(TWideSamples Wide, int32_t DecodedBits, int32_t Bits, size_t BlockBytes, uint64_t Seed);

  // The block to hand over; Size is its byte count, in and out.
  const void *Convert(const uint8_t *Block, int &Size);
  // Floats become integers, clamped at full scale.
  bool ToIntegers() const { return Pack24 || ToInt32 || Dither16; }

 private:
  bool Pack24, ToInt32, Dither16;
  uint64_t Noise;  // the dither generator's state
  std::vector<uint8_t> Converted;  // sized from the encoder's block: never larger
};

// A seed for a job's dither, from what identifies the job (its source and
// where in it the job starts), the same on every run.
uint64_t DitherSeed(const std::string &Source, double Start);
