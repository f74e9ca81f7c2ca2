// SPDX-License-Identifier: GPL-3.0-or-later
// The front cover read from a source's tags (ID3v2 APIC, FLAC PICTURE blocks
// and METADATA_BLOCK_PICTURE comments, MP4 covr, APEv2 and WM/Picture items)
// and the check that it reads as an image. Input: one byte choosing the
// file's type, then the file. A cover given out reads as an image; a damaged
// one is given out empty.
#include <iterator>
#include <string>

#include "fuzz_file.h"
#include "tags/cover_art.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  if (Size < 1) return 0;
  static const char *const kTypes[] = {"mp3", "flac", "ogg", "opus", "m4a", "ape", "wv", "wma", "wav", "oga"};
  const std::string name = std::string("source.") + kTypes[Data[0] % std::size(kTypes)];
  const TCoverArt cover = ReadCoverArt(FuzzFile(name.c_str(), Data + 1, Size - 1));
  if (!cover.Empty() && (cover.Damaged || !ReadsAsImage(cover.Data))) __builtin_trap();
  if (cover.Damaged && !cover.Data.empty()) __builtin_trap();
  // The image check alone, on the bytes as they are.
  ReadsAsImage(std::string(reinterpret_cast<const char *>(Data + 1), Size - 1));
  return 0;
}
