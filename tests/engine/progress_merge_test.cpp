// SPDX-License-Identifier: GPL-3.0-or-later
// The run's progress made of the workers' reports.
#include <gtest/gtest.h>

#include "engine/progress_merge.h"

namespace {

TProgressRec Report(int job, int slot, int percent, double duration, int jobs, int slots) {
  TProgressRec r;
  r.JobNumber = job;
  r.JobCount = jobs;
  r.SlotIndex = slot;
  r.SlotCount = slots;
  r.Percent = percent;
  r.Duration = duration;
  r.OutputFileName = "out.wav";
  return r;
}

TEST(ProgressMerge, AverageOfAllJobsAndThePercentOfEverySlot) {
  TProgressMerger merger(3, 3, 30.0, 1000);
  TProgressRec r = Report(1, 0, 50, 10, 3, 3);
  merger.Merge(r, 1500);
  r = Report(2, 1, 100, 10, 3, 3);
  merger.Merge(r, 1600);
  r = Report(3, 2, 0, 10, 3, 3);
  merger.Merge(r, 1700);
  EXPECT_EQ(r.Percent, 50);
  EXPECT_EQ(r.OutputFileName, "50% | 100% | 0%");
  EXPECT_EQ(r.ElapsedTime, "00:00:00");

  TProgressMerger single(1, 1, 10.0, 0);
  r = Report(1, 0, 40, 10, 1, 1);
  single.Merge(r, 61000);
  EXPECT_EQ(r.OutputFileName, "out.wav");  // one slot: the file name stays
  EXPECT_EQ(r.ElapsedTime, "00:01:01");
}

TEST(ProgressMerge, RemainingTimeWaitsForAnEstimateAndNeverGrows) {
  TProgressMerger merger(1, 1, 100.0, 0);
  TProgressRec r = Report(1, 0, 1, 100, 1, 1);
  merger.Merge(r, 10000);
  EXPECT_EQ(r.RemainingTime, "--:--:--");  // below 2 %
  r = Report(1, 0, 10, 100, 1, 1);
  merger.Merge(r, 1500);
  EXPECT_EQ(r.RemainingTime, "--:--:--");  // before 2 seconds
  r = Report(1, 0, 10, 100, 1, 1);
  merger.Merge(r, 10000);
  EXPECT_EQ(r.RemainingTime, "00:01:30");  // 10 s for 10 %: 90.5 s to go
  r = Report(1, 0, 11, 100, 1, 1);
  merger.Merge(r, 20000);  // slower now: the estimate would grow
  EXPECT_EQ(r.RemainingTime, "00:01:30");
  r = Report(1, 0, 80, 100, 1, 1);
  merger.Merge(r, 40000);
  EXPECT_EQ(r.RemainingTime, "00:00:10");
}

TEST(ProgressMerge, NoAudioWeighedGivesNoEstimate) {
  TProgressMerger merger(2, 1, 0.0, 0);  // sources of no known duration
  TProgressRec r = Report(1, 0, 50, 0, 2, 1);
  merger.Merge(r, 60000);
  EXPECT_EQ(r.Percent, 25);
  EXPECT_EQ(r.RemainingTime, "--:--:--");
}

}  // namespace
