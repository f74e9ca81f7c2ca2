// SPDX-License-Identifier: GPL-3.0-or-later
// The last page of an Ogg file: any tail, cut anywhere, is read within its
// bytes, and a file that ends on a whole page flagged end-of-stream is told
// complete whatever comes before (that holds no other page header).
#include <algorithm>
#include <vector>

#include "fuzz_file.h"
#include "platform/bass/ogg_end_page.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  OggEndsWithEndPage(FuzzFile("tail.ogg", Data, Size));

  // The same bytes followed by one whole empty end page.
  const char capture[] = "OggS";
  if (std::search(Data, Data + Size, capture, capture + 4) != Data + Size) return 0;
  std::vector<uint8_t> ended(Data, Data + Size);
  const uint8_t page[28] = {'O', 'g', 'g', 'S', 0, 0x04, 0, 0, 0, 0, 0, 0, 0, 0,
                            1, 0, 0, 0, 7, 0, 0, 0, 0, 0, 0, 0, 1, 0};
  ended.insert(ended.end(), page, page + sizeof page);
  if (!OggEndsWithEndPage(FuzzFile("ended.ogg", ended.data(), ended.size()))) __builtin_trap();
  return 0;
}
