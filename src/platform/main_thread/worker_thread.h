// SPDX-License-Identifier: GPL-3.0-or-later
// A worker thread that the main thread creates suspended, starts, asks to
// stop, and waits for while it keeps pumping (so a worker blocked in
// RunOnMainThread always gets its answer).
#pragma once

#include <atomic>
#include <thread>

// Whether the worker running the calling thread has been asked to stop;
// false on any other thread. Long waits below the worker (a child process)
// look at it, so a stop does not wait for them.
bool CurrentWorkerTerminated();

class TWorkerThread {
 public:
  TWorkerThread(const TWorkerThread &) = delete;
  TWorkerThread &operator=(const TWorkerThread &) = delete;
  virtual ~TWorkerThread();

  void Resume();  // starts the thread, once
  void Terminate() { TerminateRequested = true; }
  bool Terminated() const { return TerminateRequested; }
  void WaitFor();  // main thread
  bool Finished() const { return Done; }

 protected:
  TWorkerThread() = default;
  // The work; it checks Terminated() as often as it can.
  virtual void Execute() = 0;
  // Derived classes stop the thread in their destructor, while Execute still exists.
  void StopAndWait();

 private:
  std::thread Thread;
  bool Started = false;
  std::atomic<bool> TerminateRequested{false};
  std::atomic<bool> Done{false};
};
