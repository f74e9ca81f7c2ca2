// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/progress_merge.h"

#include <fmt/printf.h>

#include <algorithm>
#include <cmath>

TProgressMerger::TProgressMerger(int32_t JobCount, int32_t SlotCount, double TotalDuration,
                                 uint64_t StartTicks)
    : JobProgress(size_t(std::max(0, JobCount))), SlotPercent(size_t(std::max(0, SlotCount))),
      TotalDuration(TotalDuration), StartTicks(StartTicks) {}

void TProgressMerger::Merge(TProgressRec &Rec, uint64_t NowTicks) {
  const int64_t elapsed = int64_t(NowTicks - StartTicks);
  Rec.ElapsedTime = FormatElapsed(NowTicks, StartTicks);
  if (Rec.JobNumber >= 1 && size_t(Rec.JobNumber) <= JobProgress.size())
    JobProgress[size_t(Rec.JobNumber - 1)] = {Rec.Percent, Rec.Duration};
  if (Rec.SlotIndex >= 0 && size_t(Rec.SlotIndex) < SlotPercent.size())
    SlotPercent[size_t(Rec.SlotIndex)] = Rec.Percent;

  int64_t sum = 0;
  float done = 0;  // seconds of audio converted
  for (const TJobProgress &j : JobProgress) {
    sum += j.Percent;
    if (j.Percent > 0) done += float(j.Duration / 100 * j.Percent);
  }
  Rec.Percent = Rec.JobCount > 0 ? int32_t(std::lround(double(sum) / Rec.JobCount)) : 0;
  const int64_t durationPercent =
      TotalDuration > 0 ? int64_t(std::trunc(done / TotalDuration * 100)) : 0;

  // No estimate before 2 % and 2 seconds, nor while no audio has been weighed.
  Rec.RemainingTime = "--:--:--";
  if (Rec.Percent >= 2 && elapsed / 1000 >= 2 && durationPercent > 0) {
    const int64_t estimate = elapsed * 100 / durationPercent + 500;
    int64_t remaining = std::max<int64_t>(0, estimate - elapsed);
    if (MinRemaining == 0) MinRemaining = remaining;
    if (remaining < MinRemaining)
      MinRemaining = remaining;
    else
      remaining = MinRemaining;
    Rec.RemainingTime = FormatElapsed(uint64_t(remaining), 0);
  }

  if (Rec.SlotCount > 1) {
    std::string slots;
    for (size_t s = 0; s < SlotPercent.size(); ++s) {
      if (s) slots += " | ";
      slots += fmt::sprintf("%d%%", SlotPercent[s]);
    }
    Rec.OutputFileName = slots;
  }
}
