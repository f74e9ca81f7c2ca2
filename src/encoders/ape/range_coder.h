// SPDX-License-Identifier: GPL-3.0-or-later
// The range coder of Monkey's Audio frames (file version 3990) and the coding
// of one residual with its adaptive "k-sum" model. Output is the frame's
// logical byte stream.
#pragma once

#include <cstdint>
#include <vector>

namespace ape {

class TRangeCoder {
 public:
  explicit TRangeCoder(std::vector<uint8_t> &Output) : Out(Output) {}
  // Starts a frame: the first byte it will emit is the (dummy) cache byte.
  void Start();
  // Symbol of cumulative start `total` and width `width` out of 2^16.
  void EncodeFrequency(uint32_t total, uint32_t width);
  // `bits` raw bits of value (bits <= 16).
  void EncodeBits(uint32_t value, int bits);
  // Value in [0, count) with equal probabilities (count <= 65536).
  void EncodeUniform(uint32_t value, uint32_t count);
  // Ends the frame so that a decoder reads exactly the bytes emitted.
  void Flush();

 private:
  void Normalize();
  void EmitCarry(bool carry);
  std::vector<uint8_t> &Out;
  uint32_t Low = 0;
  uint32_t Range = 0;
  uint8_t Cache = 0;
  uint32_t Pending = 0;
};

// Codes residuals with one model (one per coded channel stream).
class TValueCoder {
 public:
  void Reset() { KSum = 16384; }
  void Encode(TRangeCoder &Coder, int32_t Value);

 private:
  uint32_t KSum = 16384;
};

}  // namespace ape
