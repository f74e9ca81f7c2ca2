// SPDX-License-Identifier: GPL-3.0-or-later
// One Monkey's Audio frame: CRC word, optional frame flags, and the range-coded
// residuals of its blocks, appended to the frame stream in logical byte order.
#pragma once

#include <cstdint>
#include <vector>

#include "encoders/ape/predictor.h"
#include "encoders/ape/range_coder.h"

namespace ape {

// Blocks per frame of a compression level (1000 .. 5000).
int64_t BlocksPerFrame(int Level);

class TFrameEncoder {
 public:
  TFrameEncoder(int Level, int Channels, int Bits);
  // Encodes `Blocks` blocks of little-endian interleaved PCM (16 or 24 bits).
  void Encode(const uint8_t *Pcm, int64_t Blocks, std::vector<uint8_t> &Out);

 private:
  int Channels, Bits;
  std::vector<int32_t> C0, C1;
  TStreamPredictor Side, Mid, Mono;
  TValueCoder ModelY, ModelX;  // the first coded stream (side or mono) and the mid
};

}  // namespace ape
