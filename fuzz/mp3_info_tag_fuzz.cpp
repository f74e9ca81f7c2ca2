// SPDX-License-Identifier: GPL-3.0-or-later
// The Xing/Info frame and its LAME extension at the start of an MP3 file,
// behind any number of ID3v2 tags: whatever the bytes, a tag that reads gives
// numbers that a frame and its 12-bit delay fields can hold.
#include "fuzz_file.h"
#include "platform/bass/mp3_info_tag.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  TMp3InfoTag tag;
  if (!ReadMp3InfoTag(FuzzFile("tagged.mp3", Data, Size), tag)) return 0;
  if (tag.SamplesPerFrame != 576 && tag.SamplesPerFrame != 1152) __builtin_trap();
  if (tag.Frames < 0 || tag.Frames > 0xFFFFFFFFll) __builtin_trap();
  if (tag.StartPadding < 0 || tag.StartPadding > 4095 || tag.EndPadding < 0 || tag.EndPadding > 4095)
    __builtin_trap();
  if (!tag.HasEncoderDelays && (tag.StartPadding || tag.EndPadding)) __builtin_trap();
  return 0;
}
