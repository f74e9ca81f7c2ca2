// The main-thread pump: the main thread waits for work, processes it, and
// workers hand it functions to run there (and wait for them). Whoever waits on
// the main thread for a worker must keep pumping, or a worker blocked in
// RunOnMainThread can never finish.
//
// Two implementations: TConsolePump (batch mode and tests) and the window's own.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

class TMainThreadPump {
 public:
  virtual ~TMainThreadPump() = default;
  // Main thread: waits up to `ms` milliseconds, or until work or a wake-up arrives.
  virtual void WaitForWork(int ms) = 0;
  // Main thread: runs every function queued so far.
  virtual void ProcessPending() = 0;
  // Any thread: runs `f` on the main thread and returns when it has run (at
  // once when called on the main thread). An exception of `f` is rethrown here.
  virtual void RunOnMainThread(const std::function<void()> &f) = 0;
  // Any thread: ends the current WaitForWork early.
  virtual void Wake() = 0;
  // True on the thread that pumps.
  virtual bool IsMainThread() const = 0;
};

// The process's pump. A console pump owned by the first caller on the main
// thread is used until SetMainThreadPump installs another.
TMainThreadPump &MainThreadPump();
void SetMainThreadPump(TMainThreadPump *pump);

// Waits for `thread` to end while pumping (main thread only). `finished` is
// the worker's "I am done" flag, set (followed by Wake) as its last action.
void JoinWhilePumping(std::thread &thread, const std::atomic<bool> &finished);

// Console implementation: a queue and a condition variable.
class TConsolePump : public TMainThreadPump {
 public:
  TConsolePump();
  ~TConsolePump() override;
  void WaitForWork(int ms) override;
  void ProcessPending() override;
  void RunOnMainThread(const std::function<void()> &f) override;
  void Wake() override;
  bool IsMainThread() const override;

 private:
  struct TState;
  std::unique_ptr<TState> State;
};
