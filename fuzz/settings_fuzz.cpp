// SPDX-License-Identifier: GPL-3.0-or-later
// The settings file as a person may have edited it: every setting of the
// program and of each format reads from it (or its default).
#include "app/format_settings.h"
#include "app/settings.h"
#include "app/settings_store.h"
#include "encoders/format.h"
#include "fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  const TSettingsStore store(FuzzFile("tonmill.conf", Data, Size), true);
  LoadGeneralSettings(store);
  LoadProgramOptions(store);
  LoadPreprocessOptions(store);
  for (const TFormatRow *row : FormatRows()) LoadFormatOptions(*row, store);
  return 0;
}
