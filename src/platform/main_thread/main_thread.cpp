// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/main_thread/main_thread.h"

#include <chrono>

namespace {

TMainThreadPump *InstalledPump = nullptr;

}  // namespace

TMainThreadPump &MainThreadPump() {
  if (InstalledPump) return *InstalledPump;
  static TConsolePump consolePump;  // created on the first caller, the main thread
  return consolePump;
}

void SetMainThreadPump(TMainThreadPump *pump) { InstalledPump = pump; }

void WaitWithMessages(int ms) { MainThreadPump().WaitForWork(ms); }

std::function<void()> TMainThreadPump::SetWakeHandler(std::function<void()> f) {
  std::swap(WakeHandler, f);
  return f;
}

void TMainThreadPump::RunWakeHandler() {
  // A copy: the handler may replace itself while it runs.
  if (const std::function<void()> handler = WakeHandler) handler();
}

TWakeHandlerScope::TWakeHandlerScope(std::function<void()> f)
    : Previous(MainThreadPump().SetWakeHandler(std::move(f))) {}

TWakeHandlerScope::~TWakeHandlerScope() { MainThreadPump().SetWakeHandler(std::move(Previous)); }

void JoinWhilePumping(std::thread &thread, const std::atomic<bool> &finished) {
  if (!thread.joinable()) return;
  TMainThreadPump &pump = MainThreadPump();
  while (!finished) {
    pump.ProcessPending();
    pump.WaitForWork(50);
  }
  thread.join();  // raising `finished` was its last need of the main thread
}

TMainThreadQueue::~TMainThreadQueue() { RunAll(); }

void TMainThreadQueue::RunAndWait(const std::function<void()> &f, const std::function<void()> &queued) {
  TTask task{&f, false, nullptr};
  {
    std::lock_guard<std::mutex> lock(Lock);
    Queue.push_back(&task);
    Changed.notify_all();
  }
  queued();
  std::unique_lock<std::mutex> lock(Lock);
  Changed.wait(lock, [&task] { return task.Done; });
  if (task.Error) std::rethrow_exception(task.Error);
}

void TMainThreadQueue::RunAll() {
  std::unique_lock<std::mutex> lock(Lock);
  while (!Queue.empty()) {
    // Taken off the queue before it runs: whoever drains next cannot run it again.
    TTask *task = Queue.front();
    Queue.pop_front();
    lock.unlock();
    try {
      (*task->Function)();
    } catch (...) {
      task->Error = std::current_exception();
    }
    lock.lock();
    task->Done = true;
    Changed.notify_all();
  }
}

bool TMainThreadQueue::Wait(int ms) {
  std::unique_lock<std::mutex> lock(Lock);
  Changed.wait_for(lock, std::chrono::milliseconds(ms), [this] { return !Queue.empty() || Woken; });
  const bool woken = Woken;
  Woken = false;
  return woken;
}

void TMainThreadQueue::Wake() {
  std::lock_guard<std::mutex> lock(Lock);
  Woken = true;
  Changed.notify_all();
}

bool TConsolePump::IsMainThread() const { return std::this_thread::get_id() == MainId; }

void TConsolePump::WaitForWork(int ms) {
  if (Queue.Wait(ms)) RunWakeHandler();
}

void TConsolePump::ProcessPending() { Queue.RunAll(); }

void TConsolePump::RunOnMainThread(const std::function<void()> &f) {
  if (IsMainThread()) {
    f();
    return;
  }
  Queue.RunAndWait(f, [] {});
}

void TConsolePump::Wake() { Queue.Wake(); }
