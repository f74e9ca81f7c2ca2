// SPDX-License-Identifier: GPL-3.0-or-later
// The MP3 format: its options record with the defaults, the bitrate and preset
// tables, and its row.
#pragma once

#include <string>

#include "encoders/format.h"
#include "encoders/mp3/lame_coder.h"

enum TBitrateType : uint8_t { btCBR = 0, btVBR = 1, btQUALITY = 2, btPRESET = 3 };

struct TMP3Options {
  bool AutoFindBitrate = false;
  int32_t Bitrate = 160;      // kbit/s (CBR)
  int32_t MinBitrate = 32;    // kbit/s (VBR)
  int32_t MaxBitrate = 320;   // kbit/s (VBR)
  uint8_t StereoMode = 1;     // 0 stereo, 1 joint stereo
  TBitrateType BitrateType = btVBR;
  TVBRMethod VBRMethod = vbrNew;
  int32_t Quality = 4;        // 0 highest .. 9 lowest
  int32_t Preset = 0;         // position in the preset table, -1 none
};

constexpr int MP3BitrateCount = 15;
constexpr int MP3PresetCount = 15;
// kbit/s of a position of the bitrate table (160 past its end).
int32_t MP3BitrateAt(int Position);
// The position of a bitrate in the table (1..14), 10 when it is not there.
int MP3BitratePosition(int32_t Kbps);
// The name of a preset position (that of position 0 past the end).
const char *MP3PresetName(int Position);
// The position of a preset name, -1 when unknown.
int MP3PresetPosition(const std::string &Name);

extern const TFormatRow MP3Format;
