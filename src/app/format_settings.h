// SPDX-License-Identifier: GPL-3.0-or-later
// The stored settings of every destination format: one loop over the field
// table of each format's row.
#pragma once

#include <memory>
#include <vector>

#include "app/settings_store.h"
#include "encoders/format.h"

class TCoder_engine;

// A record of Row's format from the stored values, a missing one at its default.
std::shared_ptr<void> LoadFormatOptions(const TFormatRow &Row, const TSettingsStore &Store);
// The records that store Options, a record of Row's format.
std::vector<TSaveRec> FormatOptionsRecords(const TFormatRow &Row, const void *Options);

// Hands every format's stored settings to the engine.
void LoadFormatOptions(const TSettingsStore &Store, TCoder_engine &Engine);
