// SPDX-License-Identifier: GPL-3.0-or-later
// The FLAC format: its options record with the defaults, the level tables,
// and its row. The level only fills the detailed parameters, which are what
// the library receives.
#pragma once

#include "encoders/format.h"

struct TFLACOptions {
  int32_t FirstUse = 1;  // the options dialog has not been confirmed yet
  int32_t CompressionLevel = 5;
  bool ExhaustiveModelSearch = false;
  bool ExhaustiveQlpSearch = false;
  bool AdaptiveMidSide = false;
  bool MidSide = false;
  int32_t MaxLpcOrder = 0;
  int32_t MaxResidualPartitionOrder = 0;
  int32_t MinResidualPartitionOrder = 0;
  int32_t QlpCoeffPrecision = 0;
  int32_t BlockSize = 4096;  // samples per channel
};

constexpr int FLACLevelCount = 9;
// The command line's level table: every detailed field cleared, then set for
// Level (0..8); a level outside the table leaves them cleared. The level
// itself is kept in CompressionLevel.
void ApplyFLACCommandLineLevel(int Level, TFLACOptions &Options);
// The options dialog's level table (mid-side where the command line's has none).
void ApplyFLACDialogLevel(int Level, TFLACOptions &Options);

// The block sizes the options dialog offers, at positions 1..FLACBlockSizeCount
// in ascending order.
constexpr int FLACBlockSizeCount = 12;
int32_t FLACBlockSizeAt(int Position);
// The position of a block size; one not offered shows as 1024's.
int FLACBlockSizePosition(int32_t BlockSize);

extern const TFormatRow FLACFormat;
