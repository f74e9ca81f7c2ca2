// SPDX-License-Identifier: GPL-3.0-or-later
// The mirror's list in a destination folder, as anything may have left it
// there (a damaged disk, a person's editor): read, then planned against.
#include <set>

#include "engine/mirror.h"
#include "fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  const std::string path = FuzzFile(MirrorManifestName, Data, Size);
  const TMirrorManifest read = ReadMirrorManifest(path.substr(0, path.rfind('/') + 1));
  // Every source gone but the first: each recorded output is weighed for removal.
  std::vector<TMirrorEntry> outputs;
  if (!read.Entries.empty()) outputs.push_back({read.Entries.front().Source, "kept/output.flac"});
  PlanMirrorEntries(read.Entries, outputs, {}, 1);
  return 0;
}
