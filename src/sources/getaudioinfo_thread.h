// SPDX-License-Identifier: GPL-3.0-or-later
// Gathering the audio properties of every source of a list on parallel
// workers, before a run (and for the info view).
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "base/misc.h"
#include "platform/main_thread/worker_thread.h"

// One worker: reads the info of the list entries FirstIndex..LastIndex into
// their records and sums their durations and error lines into Summary. The
// entries of different workers never overlap, so they share nothing.
class TGetAudioInfoThread : public TWorkerThread {
 public:
  using TProgressHandler = std::function<void(const TProgressRec &)>;

  TGetAudioInfoThread(TSourceList &List, int FirstIndex, int LastIndex, TAudioInfo &Summary,
                      TProgressHandler OnProgress);
  ~TGetAudioInfoThread() override;

 private:
  void Execute() override;
  TSourceList &List;
  int FirstIndex, LastIndex;
  TAudioInfo &Summary;
  TProgressHandler OnProgress;  // called on the worker thread after each source
};

// The index ranges of the workers for a list of `count` sources.
std::vector<std::pair<int, int>> AudioInfoWorkerRanges(int count, int processors);

// Gathers the info of every source of List (main thread) and returns their
// total duration in seconds; failures are collected in Errors as lines
// "<source> : <message>\r\n". A set Cancel stops the workers (result 0).
double GatherAudioInfo(TSourceList &List, const std::atomic<bool> *Cancel,
                       TGetAudioInfoThread::TProgressHandler OnProgress, std::string &Errors);
