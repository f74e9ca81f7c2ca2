// SPDX-License-Identifier: GPL-3.0-or-later
// Cutting a recording at its silences: one decode pass over the source finds
// the sound regions, returned as pieces with start and end times.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "base/misc.h"

struct TSilenceScanContext {
  std::function<void(const TProgressRec &)> OnProgress;  // after every block (main thread)
  const std::atomic<bool> *Cancelled = nullptr;          // stops the scan after a block
  uint64_t StartTicks = 0;                               // the run's start, for the elapsed time
};

// Fills Pieces with the sound regions of FileName (source Number of Count):
// a region lasts at least 2 seconds, and regions closer than Options.Seconds
// tenths of a second are one piece. Without any region found, or when the
// source cannot be opened, Pieces is one empty entry (the whole source).
void SplitBySilenceScan(const std::string &FileName, int32_t Number, int32_t Count,
                        const TPreprocessOptions &Options, const TSilenceScanContext &Context,
                        TCUEArr &Pieces);
