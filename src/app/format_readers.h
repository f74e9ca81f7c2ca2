// The encoder keys of the command line ("/bitrate", "/compression", ...) of
// each destination format: read over the stored settings of the format (a key
// that is not given keeps the stored value) and handed to the engine.
#pragma once

#include <string>

#include "app/command_line.h"
#include "app/settings_store.h"
#include "engine/coder_engine.h"

// Returns the "/DEBUG" message of the format ("<name> Parameters = ...").
std::string ReadFormatCommandLine(TDestinationFormat Format, const TCommandLine &Line,
                                  const TSettingsStore &Store, TCoder_engine &Engine);
