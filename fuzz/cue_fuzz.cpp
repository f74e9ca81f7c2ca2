// SPDX-License-Identifier: GPL-3.0-or-later
// CUE sheets in any character set: the reader either gives tracks or raises
// ECueSheetError; the names and start times made of them are always usable.
#include "fuzz_file.h"
#include "platform/text_encoding.h"
#include "sources/cue.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  const std::string bytes(reinterpret_cast<const char *>(Data), Size);
  const std::string text = DecodeText(bytes);
  if (!IsValidUtf8(text)) __builtin_trap();
  SplitLines(text);
  TCUEArr tracks;
  try {
    ParseCue(FuzzFile("sheet.cue", Data, Size), tracks);
  } catch (const ECueSheetError &) {
    return 0;
  }
  for (const TCUERec &t : tracks) {
    CueTrackName(t, "/music/album.flac");
    CueTrackStart(t);
    CleanCueValue(t.Title);
  }
  return 0;
}
