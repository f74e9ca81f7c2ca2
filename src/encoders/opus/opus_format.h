// SPDX-License-Identifier: GPL-3.0-or-later
// The Opus format: its options record with the defaults, and its row.
#pragma once

#include "encoders/format.h"

// Its code in stored settings: never to change.
constexpr TDestinationFormat dfOpus = 9;

enum class TOpusMode : uint8_t { VBR, CVBR, CBR };
enum class TOpusApplication : uint8_t { Audio, VoIP };

struct TOpusOptions {
  // kbit/s of a stereo pair: a mono output gets half, more channels half of
  // it per channel, so one setting means the same quality for any source.
  int32_t Bitrate = 128;
  TOpusMode Mode = TOpusMode::VBR;
  int32_t Complexity = 10;  // 0 fastest ... 10 best
  TOpusApplication Application = TOpusApplication::Audio;
  int32_t FrameSize = 200;  // tenths of a millisecond: 25, 50, 100, 200, 400 or 600
};

// bit/s asked of the library for an output of Channels.
int32_t OpusBitrateFor(const TOpusOptions &Options, int32_t Channels);

extern const TFormatRow OpusFormat;
