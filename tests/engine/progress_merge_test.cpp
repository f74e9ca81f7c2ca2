// SPDX-License-Identifier: GPL-3.0-or-later
// The run's progress made of the workers' reports: the average of all jobs,
// every slot's percent, the elapsed time, and a remaining time that waits for
// an estimate and never grows.
#include <gtest/gtest.h>

#include "base/misc.h"
#include "engine/progress_merge.h"

namespace {

TEST(ProgressMerge, ReportsInOrder) {
  const struct {
    int Jobs, Slots;
    double Duration;  // of all sources; 0: not known
    uint64_t Start;
    std::vector<std::array<int, 4>> Reports;  // job, slot, percent, ticks
    std::vector<std::string> After;           // percent|file|elapsed|remaining
  } rows[] = {
      {3, 3, 30.0, 1000, {{1, 0, 50, 1500}, {2, 1, 100, 1600}, {3, 2, 0, 1700}},
       {"17|50% | 0% | 0%|00:00:00|--:--:--", "50|50% | 100% | 0%|00:00:00|--:--:--", "50|50% | 100% | 0%|00:00:00|--:--:--"}},
      {1, 1, 10.0, 0, {{1, 0, 40, 61000}}, {"40|out.wav|00:01:01|00:01:32"}},
      {1, 1, 100.0, 0, {{1, 0, 1, 10000}, {1, 0, 10, 1500}, {1, 0, 10, 10000}, {1, 0, 11, 20000}, {1, 0, 80, 40000}},
       // below 2 %, before 2 seconds: no estimate; 10 s for 10 %: 90.5 s to go; slower: it would grow
       {"1|out.wav|00:00:10|--:--:--", "10|out.wav|00:00:01|--:--:--", "10|out.wav|00:00:10|00:01:30",
        "11|out.wav|00:00:20|00:01:30", "80|out.wav|00:00:40|00:00:10"}},
      {2, 1, 0.0, 0, {{1, 0, 50, 60000}}, {"25|out.wav|00:01:00|--:--:--"}},
  };
  for (const auto &row : rows) {
    TProgressMerger merger(row.Jobs, row.Slots, row.Duration, row.Start);
    for (size_t i = 0; i < row.Reports.size(); ++i) {
      TProgressRec r;
      r.JobNumber = row.Reports[i][0];
      r.SlotIndex = row.Reports[i][1];
      r.Percent = row.Reports[i][2];
      r.JobCount = row.Jobs;
      r.SlotCount = row.Slots;
      r.Duration = row.Duration / row.Jobs;
      r.OutputFileName = "out.wav";
      merger.Merge(r, uint64_t(row.Reports[i][3]));
      EXPECT_EQ(std::to_string(r.Percent) + "|" + r.OutputFileName + "|" + r.ElapsedTime + "|" + r.RemainingTime,
                row.After[i]) << i;
    }
  }
  EXPECT_EQ(FormatElapsed(3725000, 0), "01:02:05");
  EXPECT_EQ(FormatElapsed(5000, 5000), "00:00:00");
}

}  // namespace
