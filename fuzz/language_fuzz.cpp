// SPDX-License-Identifier: GPL-3.0-or-later
// Language files: any bytes fill the text table or raise, never more.
#include <stdexcept>

#include "app/language_file.h"
#include "fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  try {
    LoadLanguageFile(FuzzFile("language.lng", Data, Size), [](const std::string &) {});
  } catch (const std::exception &) {
  }
  return 0;
}
