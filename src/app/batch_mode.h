// SPDX-License-Identifier: GPL-3.0-or-later
// The unattended run: converts the inputs of the command line into the output
// folder without any window, reports failures on standard error and returns
// the exit status (0 done, 1 failed or nothing to convert, 2 cancelled).
// SIGINT, SIGTERM and SIGHUP cancel the run cleanly. Stored settings are
// read, never written.
#pragma once

#include "app/command_line.h"
#include "app/settings_store.h"

int RunBatch(const TParsedCommandLine &Parsed, const TCommandLine &Line, TSettingsStore &Store);
