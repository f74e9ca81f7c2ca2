#include "platform/main_thread/main_thread.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>

namespace {

TMainThreadPump *InstalledPump = nullptr;

}  // namespace

TMainThreadPump &MainThreadPump() {
  if (InstalledPump) return *InstalledPump;
  static TConsolePump consolePump;  // created on the first caller, the main thread
  return consolePump;
}

void SetMainThreadPump(TMainThreadPump *pump) { InstalledPump = pump; }

void JoinWhilePumping(std::thread &thread, const std::atomic<bool> &finished) {
  if (!thread.joinable()) return;
  TMainThreadPump &pump = MainThreadPump();
  while (!finished) {
    pump.ProcessPending();
    pump.WaitForWork(50);
  }
  pump.ProcessPending();
  thread.join();
}

struct TConsolePump::TState {
  struct TTask {
    const std::function<void()> *Function;
    bool Done = false;
    std::exception_ptr Error;
  };
  std::mutex Lock;
  std::condition_variable Changed;
  std::deque<TTask *> Queue;
  bool Woken = false;
  std::thread::id MainId = std::this_thread::get_id();
};

TConsolePump::TConsolePump() : State(std::make_unique<TState>()) {}

TConsolePump::~TConsolePump() = default;

bool TConsolePump::IsMainThread() const { return std::this_thread::get_id() == State->MainId; }

void TConsolePump::WaitForWork(int ms) {
  std::unique_lock<std::mutex> lock(State->Lock);
  State->Changed.wait_for(lock, std::chrono::milliseconds(ms),
                          [this] { return !State->Queue.empty() || State->Woken; });
  State->Woken = false;
}

void TConsolePump::ProcessPending() {
  std::unique_lock<std::mutex> lock(State->Lock);
  while (!State->Queue.empty()) {
    TState::TTask *task = State->Queue.front();
    State->Queue.pop_front();
    lock.unlock();
    try {
      (*task->Function)();
    } catch (...) {
      task->Error = std::current_exception();
    }
    lock.lock();
    task->Done = true;
    State->Changed.notify_all();
  }
}

void TConsolePump::RunOnMainThread(const std::function<void()> &f) {
  if (IsMainThread()) {
    f();
    return;
  }
  TState::TTask task{&f, false, nullptr};
  std::unique_lock<std::mutex> lock(State->Lock);
  State->Queue.push_back(&task);
  State->Changed.notify_all();
  State->Changed.wait(lock, [&task] { return task.Done; });
  if (task.Error) std::rethrow_exception(task.Error);
}

void TConsolePump::Wake() {
  std::lock_guard<std::mutex> lock(State->Lock);
  State->Woken = true;
  State->Changed.notify_all();
}
