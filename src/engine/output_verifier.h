// SPDX-License-Identifier: GPL-3.0-or-later
// Checking a lossless output after it is written: the samples a job hands its
// encoder are hashed on the way in, and the finished file, decoded again the
// way sources are decoded, must give the same count and hash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "base/misc.h"

// A running 64-bit hash of a byte stream, the same however it is cut into blocks.
class TSampleHash {
 public:
  void Add(const void *Data, size_t Size);
  uint64_t Bytes() const { return Count; }
  uint64_t Value() const;  // of everything added so far
  bool operator==(const TSampleHash &Other) const {
    return Count == Other.Count && Value() == Other.Value();
  }

 private:
  uint64_t State = 0x6A09E667F3BCC908ull;
  uint64_t Count = 0;
  uint64_t Tail = 0;  // bytes of a word not yet complete
};

// True when outputs of Format written with Options (the format's record) are
// lossless, so that their samples can be checked.
bool IsVerifiable(TDestinationFormat Format, const void *Options);

// The samples File (an output of Format, under any name) decodes to, as a job
// hands them to Format's encoder at the decoded depth Bits (16, 24 or 32).
// Raises when the file cannot be decoded to its end; Stopped, asked between
// blocks, ends the decoding early when it returns true.
TSampleHash HashOutputSamples(const std::string &File, TDestinationFormat Format, int32_t Bits,
                              const std::function<bool()> &Stopped = {});

// Raises "Verification failed: "<Shown>" ..." unless File decodes to exactly
// the samples Given hashes (also when Stopped ends the decoding early).
void VerifyOutput(const std::string &File, const std::string &Shown, TDestinationFormat Format, int32_t Bits,
                  const TSampleHash &Given, const std::function<bool()> &Stopped = {});
