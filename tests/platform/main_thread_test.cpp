// SPDX-License-Identifier: GPL-3.0-or-later
// The main-thread pumps, the console's and the window's: work from workers
// runs on the main thread once each, also while it waits for them or runs a
// modal dialog's loop above a wait.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <atomic>
#include <thread>

#include "platform/main_thread/main_thread.h"
#include "platform/main_thread/qt_pump.h"

namespace {

// The parameter: the window's pump, or the console's.
class MainThreadPumps : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    Pump = GetParam() ? std::unique_ptr<TMainThreadPump>(std::make_unique<TQtPump>()) : std::make_unique<TConsolePump>();
    SetMainThreadPump(Pump.get());
  }
  void TearDown() override { SetMainThreadPump(nullptr); }

  std::unique_ptr<TMainThreadPump> Pump;
};

// While the main thread joins the workers (a plain join would deadlock); an
// exception reaches the worker that asked.
TEST_P(MainThreadPumps, WorkFromWorkersRunsOnTheMainThreadOnceEachWhileJoining) {
  TMainThreadPump &pump = MainThreadPump();
  ASSERT_TRUE(pump.IsMainThread());
  constexpr int kWorkers = 4, kCalls = 200;
  std::vector<std::vector<int>> runs(kWorkers, std::vector<int>(kCalls, 0));
  std::vector<std::string> caught(kWorkers);
  int offMain = 0;
  std::vector<std::thread> workers;
  std::vector<std::atomic<bool>> finished(kWorkers);
  for (int w = 0; w < kWorkers; ++w) {
    workers.emplace_back([&, w] {
      for (int i = 0; i < kCalls; ++i)
        pump.RunOnMainThread([&, w, i] {
          ++runs[size_t(w)][size_t(i)];
          offMain += pump.IsMainThread() ? 0 : 1;
        });
      try {
        pump.RunOnMainThread([w] { throw std::runtime_error("refused " + std::to_string(w)); });
      } catch (const std::exception &e) {
        caught[size_t(w)] = e.what();
      }
      finished[size_t(w)] = true;
      pump.Wake();
    });
  }
  for (int w = 0; w < kWorkers; ++w) JoinWhilePumping(workers[size_t(w)], finished[size_t(w)]);
  EXPECT_EQ(offMain, 0);
  for (int w = 0; w < kWorkers; ++w) {
    EXPECT_EQ(runs[size_t(w)], std::vector<int>(kCalls, 1)) << w;
    EXPECT_EQ(caught[size_t(w)], "refused " + std::to_string(w));
  }
}

TEST_P(MainThreadPumps, WakeEndsTheWaitEarlyAndRunsTheHandler) {
  TMainThreadPump &pump = MainThreadPump();
  int handled = 0;
  {
    TWakeHandlerScope scope([&] { handled += pump.IsMainThread() ? 1 : 100; });
    std::thread waker([&] { pump.Wake(); });
    waker.join();
    const auto before = std::chrono::steady_clock::now();
    pump.WaitForWork(5000);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(4));
  }
  EXPECT_EQ(handled, 1);
  std::thread waker([&] { pump.Wake(); });  // no handler any more
  waker.join();
  pump.WaitForWork(5000);
  EXPECT_EQ(handled, 1);
}

INSTANTIATE_TEST_SUITE_P(, MainThreadPumps, ::testing::Bool(),
                         [](const auto &info) { return info.param ? "Qt" : "Console"; });

TEST(QtPump, ALoopNestedAboveAWaitServesWorkAndWakes) {
  TQtPump pump;
  SetMainThreadPump(&pump);
  QEventLoop dialog;
  bool inDialog = false;
  int ranInDialog = 0, wakesInDialog = 0;
  std::atomic<bool> finished{false};
  std::thread worker;
  TWakeHandlerScope scope([&] {
    if (!inDialog) return;
    ++wakesInDialog;
    if (finished) dialog.quit();  // the worker's last wake: the dialog closes
  });
  QTimer::singleShot(0, [&] {
    worker = std::thread([&] {
      for (int i = 0; i < 100; ++i) pump.RunOnMainThread([&] { ranInDialog += inDialog ? 1 : 0; });
      finished = true;
      pump.Wake();
    });
    QTimer::singleShot(30000, &dialog, &QEventLoop::quit);  // a wake lost: fails, never hangs
    inDialog = true;
    dialog.exec();
    inDialog = false;
  });
  pump.WaitForWork(60000);
  JoinWhilePumping(worker, finished);
  SetMainThreadPump(nullptr);
  EXPECT_EQ(ranInDialog, 100);
  EXPECT_GE(wakesInDialog, 1);
}

}  // namespace

int main(int argc, char **argv) {
  QCoreApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
