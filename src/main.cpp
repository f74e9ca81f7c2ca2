// SPDX-License-Identifier: GPL-3.0-or-later
// tonmill: the batch audio converter.
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "app/batch_mode.h"
#include "app/command_line.h"
#include "app/settings_store.h"
#include "app/windows/application.h"
#include "base/misc.h"
#include "encoders/format.h"
#include "platform/bass/bass.h"

int main(int argc, char **argv) {
  // A closed terminal or pipe on standard error is no reason to end a run:
  // writes to it fail quietly and the exit status still tells the outcome.
  signal(SIGPIPE, SIG_IGN);
  // Past a file size limit (ulimit -f) the write fails with "File too large"
  // and the job fails like on a full disk, its hidden file removed.
  signal(SIGXFSZ, SIG_IGN);
  const std::vector<std::string> args(argv + 1, argv + argc);
  const TParsedCommandLine parsed = ParseCommandLine(args);
  if (parsed.Help) {
    std::fputs(UsageText().c_str(), stdout);
    return 0;
  }
  if (parsed.Version) {
    std::printf("tonmill %s (decoding: %s)\n", ProgramVersion, BASS_DecoderVersionText());
    return 0;
  }
  DebugMode = !args.empty() && args[0] == "/DEBUG" ? 1 : 0;
  for (const std::string &error : parsed.Errors) std::fprintf(stderr, "tonmill: %s\n", error.c_str());
  if (!parsed.Errors.empty()) return 1;

  FillCoderVersions();
  TSettingsStore store(TSettingsStore::DefaultFileName(), parsed.Mode == TParsedCommandLine::mBatch);
  if (parsed.Mode == TParsedCommandLine::mBatch) return RunBatch(parsed, TCommandLine(args), store);

  return RunWindow(argc, argv, parsed, store);
}
