// SPDX-License-Identifier: GPL-3.0-or-later
// The encoder keys of the command line ("/bitrate", "/compression", ...) of
// each destination format, as its row lists them. They are read over the
// stored settings of the format: a key that is not given keeps the stored value.
#pragma once

#include <string>

#include "app/command_line.h"
#include "app/settings_store.h"
#include "engine/coder_engine.h"

struct TFormatReading {
  std::string DebugMessage;  // "<format> Parameters = ..." for "/DEBUG"
  std::string Error;         // a key whose value cannot be used, explained
};

// Reads the keys of Format and hands the resulting options to the engine.
TFormatReading ReadFormatCommandLine(TDestinationFormat Format, const TCommandLine &Line,
                                     const TSettingsStore &Store, TCoder_engine &Engine);
