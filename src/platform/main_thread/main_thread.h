// SPDX-License-Identifier: GPL-3.0-or-later
// The main-thread pump: the main thread waits for work, processes it, and
// workers hand it functions to run there (and wait for them). Whoever waits on
// the main thread for a worker must keep pumping, or a worker blocked in
// RunOnMainThread can never finish.
//
// Two implementations: TConsolePump (batch mode and tests) and the window's own.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
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
  // Any thread: ends the current WaitForWork early, and has the wake handler run.
  virtual void Wake() = 0;
  // True on the thread that pumps.
  virtual bool IsMainThread() const = 0;

  // Main thread: `f` runs on the main thread after every Wake, from whichever
  // loop serves it. A waiter needs this when a loop it did not start, such as
  // a modal dialog's, runs above its wait: the wait cannot end until that loop
  // does, so only the handler can act on the wake-up meanwhile. `f` must not
  // throw, and may run more often than the wakes. Returns the previous handler.
  std::function<void()> SetWakeHandler(std::function<void()> f);

 protected:
  // Main thread: runs the wake handler, if any.
  void RunWakeHandler();

 private:
  std::function<void()> WakeHandler;
};

// Installs a wake handler for as long as it lives (main thread).
class TWakeHandlerScope {
 public:
  explicit TWakeHandlerScope(std::function<void()> f);
  ~TWakeHandlerScope();
  TWakeHandlerScope(const TWakeHandlerScope &) = delete;
  TWakeHandlerScope &operator=(const TWakeHandlerScope &) = delete;

 private:
  std::function<void()> Previous;
};

// The process's pump. A console pump owned by the first caller on the main
// thread is used until SetMainThreadPump installs another.
TMainThreadPump &MainThreadPump();
void SetMainThreadPump(TMainThreadPump *pump);

// Main thread: waits up to `ms` milliseconds or until work arrives for it.
void WaitWithMessages(int ms);

// Waits for `thread` to end while pumping (main thread only). `finished` is
// the worker's "I am done" flag, set (followed by Wake) as its last action;
// when it is set already, the join does not pump.
void JoinWhilePumping(std::thread &thread, const std::atomic<bool> &finished);

// The functions handed to the main thread: each runs there exactly once while
// the thread that handed it over waits.
class TMainThreadQueue {
 public:
  ~TMainThreadQueue();  // runs what is left, so that no caller waits forever
  // Any thread but the main one: queues `f`, calls `queued` (which tells the
  // main thread) and returns once `f` has run, rethrowing its exception.
  void RunAndWait(const std::function<void()> &f, const std::function<void()> &queued);
  // Main thread: runs every function queued, those queued meanwhile included.
  void RunAll();
  // Waits up to `ms` milliseconds, or until a function is queued or Wake is
  // called. Tells whether Wake was called.
  bool Wait(int ms);
  void Wake();

 private:
  struct TTask {
    const std::function<void()> *Function;
    bool Done = false;
    std::exception_ptr Error;
  };
  std::mutex Lock;
  std::condition_variable Changed;
  std::deque<TTask *> Queue;
  bool Woken = false;
};

// Console implementation: the queue is served only while the main thread
// waits or processes; nothing else ever runs above a wait.
class TConsolePump : public TMainThreadPump {
 public:
  void WaitForWork(int ms) override;
  void ProcessPending() override;
  void RunOnMainThread(const std::function<void()> &f) override;
  void Wake() override;
  bool IsMainThread() const override;

 private:
  TMainThreadQueue Queue;
  const std::thread::id MainId = std::this_thread::get_id();
};
