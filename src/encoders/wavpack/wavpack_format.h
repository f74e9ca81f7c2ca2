// SPDX-License-Identifier: GPL-3.0-or-later
// The WavPack format: its options record with the defaults, and its row.
#pragma once

#include "encoders/format.h"

struct TWavPackOptions {
  int32_t Compression = 1;  // 0 fast, 1 high, 2 very high
  bool Hybrid = false;      // lossy at Bitrate
  int32_t Bitrate = 9600;   // kbit/s
  bool CorrectionFile = false;  // hybrid: what the bitrate leaves out goes into a ".wvc" file
};

extern const TFormatRow WavPackFormat;
