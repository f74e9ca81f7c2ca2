// SPDX-License-Identifier: GPL-3.0-or-later
// The Xing/Info frame at the start of an MP3 file and the LAME extension that
// follows it: the frame count and the encoder's delay and padding, which give
// the exact number of samples of a gapless MP3 without decoding it.
#pragma once

#include <cstdint>
#include <string>

struct TMp3InfoTag {
  int64_t Frames = 0;          // MPEG frames of audio, 0 when the tag gives none
  int SamplesPerFrame = 0;     // 1152 (MPEG-1) or 576 (MPEG-2/2.5)
  bool HasEncoderDelays = false;
  int StartPadding = 0;        // samples the encoder added in front
  int EndPadding = 0;          // samples the encoder added at the end
};

// Reads the tag of the file's first frame (after any ID3v2 tags). Returns false
// when the file cannot be read or its first frame carries no Xing/Info tag.
bool ReadMp3InfoTag(const std::string &path, TMp3InfoTag &tag);
