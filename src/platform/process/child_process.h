// SPDX-License-Identifier: GPL-3.0-or-later
// A child program started from an argument vector, never through a shell,
// with its standard output (and, kept apart or merged, its standard error)
// read through pipes. Standard input is /dev/null. Every descriptor the
// parent opens is close-on-exec and the child gets none but its three. The
// child leads a process group of its own, and the whole group is killed and
// the child reaped when the object goes, however it got there. No wait is
// without bound, and a wait on a worker thread ends as soon as the worker
// is asked to stop.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

class TChildProcess {
 public:
  // Starts Program (a path, or a name looked up on PATH) with Args after its
  // own name. MergeErrors sends standard error into the output pipe.
  // Raises std::system_error with the reason when the program cannot start.
  TChildProcess(const std::string &Program, const std::vector<std::string> &Args,
                bool MergeErrors = false);
  ~TChildProcess();
  TChildProcess(const TChildProcess &) = delete;
  TChildProcess &operator=(const TChildProcess &) = delete;

  // Reads up to Count bytes of output, waiting up to TimeoutMs (-1: no
  // bound) for the first. Returns the bytes read, 0 at the end of output
  // (or when the worker was asked to stop: then the child is gone and
  // Stopped() says so), -1 when the time ran out. Standard error is
  // collected meanwhile, so the child never blocks on either pipe. Once the
  // child itself has ended, what of its group still holds the output open
  // is killed after a short while.
  int64_t Read(void *Buffer, size_t Count, int TimeoutMs);
  // Reads until Count bytes or the end of output; returns the bytes read.
  // Raises std::runtime_error when IdleMs pass without a byte on either pipe.
  int64_t ReadFull(void *Buffer, size_t Count, int IdleMs);
  // Everything the child writes until it closes its output (kept up to
  // Limit bytes, the rest read and dropped). Raises as ReadFull.
  std::string ReadAll(size_t Limit, int IdleMs);

  // Waits up to TimeoutMs for the child to end, then kills its group;
  // returns its exit status, or 128 + the signal that ended it. Whatever is
  // left of its group goes with it. TimedOut() tells a child killed here.
  int Wait(int TimeoutMs);
  // Ends the child and its group at once and reaps it. Does nothing once reaped.
  void Kill();

  bool TimedOut() const { return WaitRanOut; }
  bool Stopped() const { return StopSeen; }

  pid_t Pid() const { return Child; }
  // The last bytes the child wrote to standard error (up to 16 KB).
  const std::string &Errors() const { return ErrorTail; }

 private:
  void CollectErrors();
  void CloseOutput();
  bool Ended();
  void Reap();
  bool StopAsked();

  pid_t Child = -1;
  int Output = -1;
  int ErrorPipe = -1;
  int Status = 0;
  bool Reaped = false;
  bool WaitRanOut = false;
  bool StopSeen = false;
  std::string ErrorTail;
};
