#include "platform/main_thread/worker_thread.h"

#include "platform/main_thread/main_thread.h"

TWorkerThread::~TWorkerThread() { StopAndWait(); }

void TWorkerThread::Resume() {
  if (Started) return;
  Started = true;
  Thread = std::thread([this] {
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
