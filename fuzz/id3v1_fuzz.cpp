// SPDX-License-Identifier: GPL-3.0-or-later
// ID3v1 blocks: whatever the last 128 bytes of a file hold reads back as a
// block that writes out as 128 bytes again.
#include "fuzz_file.h"
#include "tags/id3v1.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  TJvID3v1 tag;
  tag.FileName = FuzzFile("tagged.mp3", Data, Size);
  tag.SetActive(true);
  if (tag.Block().size() != 128) __builtin_trap();
  tag.GenreAsString();
  const std::string text(reinterpret_cast<const char *>(Data), Size);
  ToLatin1(text);
  ID3v1GenreNumber(text);
  return 0;
}
