// The main-thread pump: work handed over by workers runs on the main thread,
// and waiting for a worker keeps that work flowing.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "platform/main_thread/main_thread.h"

TEST(MainThreadPump, WorkFromWorkersRunsOnTheMainThreadWhileJoining) {
  TMainThreadPump &pump = MainThreadPump();
  ASSERT_TRUE(pump.IsMainThread());
  std::atomic<bool> finished{false};
  int ranOnMain = 0;
  std::thread worker([&] {
    for (int i = 0; i < 50; ++i)
      pump.RunOnMainThread([&] { ranOnMain += pump.IsMainThread() ? 1 : 0; });
    finished = true;
    pump.Wake();
  });
  JoinWhilePumping(worker, finished);  // a plain join would deadlock here
  EXPECT_EQ(ranOnMain, 50);
}

TEST(MainThreadPump, ExceptionsReachTheWorkerThatAsked) {
  TMainThreadPump &pump = MainThreadPump();
  std::atomic<bool> finished{false};
  std::string caught;
  std::thread worker([&] {
    try {
      pump.RunOnMainThread([] { throw std::runtime_error("refused"); });
    } catch (const std::exception &e) {
      caught = e.what();
    }
    finished = true;
    pump.Wake();
  });
  JoinWhilePumping(worker, finished);
  EXPECT_EQ(caught, "refused");
}

TEST(MainThreadPump, WakeEndsTheWaitEarly) {
  TMainThreadPump &pump = MainThreadPump();
  std::thread waker([&] { pump.Wake(); });
  waker.join();
  const auto before = std::chrono::steady_clock::now();
  pump.WaitForWork(5000);
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(4));
}
