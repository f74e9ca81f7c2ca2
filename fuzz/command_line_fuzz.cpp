// SPDX-License-Identifier: GPL-3.0-or-later
// The command line: arguments separated by NUL bytes, as the kernel hands them over.
#include <string>
#include <vector>

#include "app/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  std::vector<std::string> args(1);
  for (size_t i = 0; i < Size; ++i) {
    if (Data[i] == 0)
      args.emplace_back();
    else
      args.back().push_back(char(Data[i]));
  }
  const TParsedCommandLine parsed = ParseCommandLine(args);
  for (const std::string &path : parsed.Options.InputPaths) ExpandHome(path);
  TCommandLine line(args);
  line.GetParamValue("dest", "");
  line.HasParam("q");
  return 0;
}
