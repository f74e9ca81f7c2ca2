// SPDX-License-Identifier: GPL-3.0-or-later
// The Ogg Vorbis format: its options record with the defaults, the bitrate
// table, and its row.
#pragma once

#include "encoders/format.h"

enum TOGGBitrateType : uint8_t { obCBR = 0, obVBR = 1, obQUALITY = 2, obPRESET = 3 };

struct TOGGOptions {
  int32_t Quality = 5;  // position 0..11: the encoder's quality is (Quality - 1) / 10
  int32_t Max = 11;     // positions of the bitrate table
  int32_t Avg = 11;
  int32_t Min = 11;
  TOGGBitrateType BitrateType = obQUALITY;  // anything but obQUALITY manages the bitrate
};

constexpr int OGGBitrateCount = 18;
// bit/s of a position of the bitrate table (its low 7 bits); -1 for position
// 0 and past the table's end: no limit.
int32_t OGGBitrateAt(int32_t Position);

extern const TFormatRow OGGFormat;
