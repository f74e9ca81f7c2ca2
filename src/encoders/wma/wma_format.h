// SPDX-License-Identifier: GPL-3.0-or-later
// The WMA format: its options record with the defaults, the bitrate table,
// and its row.
#pragma once

#include "encoders/format.h"

struct TWMAOptions {
  bool AutoFindBitrate = false;  // search for a bitrate or quality the codec takes
  bool UseProCodec = false;
  int32_t Bitrate = 160;    // kbit/s (CBR); stored as the position of the bitrate table
  int32_t Quality = 98;     // percent (VBR)
  bool Lossless = false;    // VBR quality 100
  uint8_t BitrateType = 0;  // 0 CBR, 1 VBR
};

constexpr int WMABitrateCount = 26;
// kbit/s of a position of the bitrate table (160 past its end).
int32_t WMABitrateAt(int32_t Position);
// The position of a bitrate in the table (1..25), 21 when it is not there.
int32_t WMABitratePosition(int32_t Kbps);

extern const TFormatRow WMAFormat;
