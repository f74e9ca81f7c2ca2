// SPDX-License-Identifier: GPL-3.0-or-later
// Merging the workers' reports into the progress of the whole run: the
// average percent of all jobs, the elapsed time, a remaining time that never
// grows, and the percent of every slot when several run. Main thread.
#pragma once

#include <cstdint>
#include <vector>

#include "base/misc.h"

class TProgressMerger {
 public:
  // A run of JobCount jobs on SlotCount slots, TotalDuration seconds of audio,
  // started at StartTicks (milliseconds).
  TProgressMerger(int32_t JobCount, int32_t SlotCount, double TotalDuration, uint64_t StartTicks);
  // Rewrites a worker's report into the run's report, as of NowTicks.
  void Merge(TProgressRec &Rec, uint64_t NowTicks);

 private:
  struct TJobProgress {
    int32_t Percent = 0;
    double Duration = 0;  // seconds
  };
  std::vector<TJobProgress> JobProgress;
  std::vector<int32_t> SlotPercent;
  double TotalDuration;
  uint64_t StartTicks;
  int64_t MinRemaining = 0;  // milliseconds; 0 = no estimate yet
};
