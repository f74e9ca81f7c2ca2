// SPDX-License-Identifier: GPL-3.0-or-later
// The program with its window: the application object, the pump of the
// window's event loop, the fatal error path, and the main window.
#pragma once

#include "app/command_line.h"
#include "app/settings_store.h"

// Runs the window until it closes; returns the exit status.
int RunWindow(int argc, char **argv, const TParsedCommandLine &CommandLine, TSettingsStore &Store);
