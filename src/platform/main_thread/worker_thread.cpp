// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/main_thread/worker_thread.h"

#include "platform/main_thread/main_thread.h"

namespace {
thread_local const std::atomic<bool> *CurrentStop = nullptr;
}  // namespace

bool CurrentWorkerTerminated() { return CurrentStop && *CurrentStop; }

TWorkerThread::~TWorkerThread() { StopAndWait(); }

void TWorkerThread::Resume() {
  if (Started) return;
  Started = true;
  Thread = std::thread([this] {
    CurrentStop = &TerminateRequested;
    Execute();
    Done = true;
    MainThreadPump().Wake();  // whoever waits for us looks again at once
  });
}

void TWorkerThread::WaitFor() { JoinWhilePumping(Thread, Done); }

void TWorkerThread::StopAndWait() {
  if (!Thread.joinable()) return;
  Terminate();
  WaitFor();
}
