// SPDX-License-Identifier: GPL-3.0-or-later
// The AAC format: its settings with the defaults, and its row.
#pragma once

#include "encoders/format.h"

// Raw ADTS frames (.aac), or an MPEG-4 file (.m4a) whose edit list states
// the encoder's delay and padding.
enum class TAACContainer : uint8_t { ADTS, MP4 };

struct TAACOptions {
  int32_t Bitrate = 0;    // kbit/s per channel; 0 = the library's choice
  int32_t Bandwidth = 0;  // Hz; 0 = default (16000). Stored as the dialog's position 0..3
  int32_t Quality = 0;    // quantizer quality; 0 = default (100)
  TAACContainer Container = TAACContainer::ADTS;  // stored as "ADTS" or "MP4"
};

// The bandwidth in Hz of the dialog's position 0..3 (0 past the end), and back.
int32_t AACBandwidthAt(int32_t Position);
int32_t AACBandwidthPosition(int32_t Hz);

extern const TFormatRow AACFormat;
