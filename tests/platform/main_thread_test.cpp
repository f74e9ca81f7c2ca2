// SPDX-License-Identifier: GPL-3.0-or-later
// The main-thread pumps, the console's and the window's; child programs, gone once we are done with whatever they
// started: no wait on them is without bound.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <system_error>
#include <thread>

#include "platform/main_thread/main_thread.h"
#include "platform/main_thread/qt_pump.h"
#include "platform/process/child_process.h"

namespace {

// The parameter: the window's pump, or the console's.
class MainThreadPumps : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    Pump = GetParam() ? std::unique_ptr<TMainThreadPump>(std::make_unique<TQtPump>())
                      : std::make_unique<TConsolePump>();
    SetMainThreadPump(Pump.get());
  }
  void TearDown() override { SetMainThreadPump(nullptr); }

  std::unique_ptr<TMainThreadPump> Pump;
};

// While the main thread joins the workers (a plain join would deadlock); an exception reaches the worker that asked.
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
  EXPECT_EQ(runs, std::vector<std::vector<int>>(kWorkers, std::vector<int>(kCalls, 1)));
  for (int w = 0; w < kWorkers; ++w) EXPECT_EQ(caught[size_t(w)], "refused " + std::to_string(w));
}

TEST_P(MainThreadPumps, WakeEndsTheWaitEarlyAndRunsTheHandler) {
  TMainThreadPump &pump = MainThreadPump();
  int handled = 0;
  {
    TWakeHandlerScope scope([&] { handled += pump.IsMainThread() ? 1 : 100; });
    std::thread([&] { pump.Wake(); }).join();
    const auto before = std::chrono::steady_clock::now();
    pump.WaitForWork(5000);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(4));
  }
  EXPECT_EQ(handled, 1);
  std::thread([&] { pump.Wake(); }).join();  // no handler any more
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

TEST(ChildProcess, GetsOnlyItsOwnDescriptorsAndArgumentsAsGiven) {
  // Opened the careless way, as a library on another thread might.
  const int stray = open("/dev/null", O_RDONLY);
  ASSERT_GE(stray, 0);
  const std::tuple<const char *, std::vector<std::string>, std::string, int, const char *> rows[] = {
      {"ls", {"-1", "/proc/self/fd"}, "0\n1\n2\n3\n", 0, ""},  // 3 is the folder ls reads
      {"printf", {"%s|", "a b", "'\"", "-x", "$(id)", "\n", "\xff"}, "a b|'\"|-x|$(id)|\n|\xff|", 0, ""},
      {"ls", {"/no/such/folder"}, "", 2, "No such file"},
      {"sh", {"-c", "kill -9 $$"}, "", 128 + SIGKILL, ""},
  };
  for (const auto &[program, args, out, status, err] : rows) {  // what it writes, its status, a part of its errors
    TChildProcess child(program, args);
    EXPECT_EQ(child.ReadAll(4096, 60000), out);
    EXPECT_EQ(child.Wait(60000), status) << program;
    EXPECT_NE(child.Errors().find(err), std::string::npos) << child.Errors();
  }
  {
    // Closes its output and stays, as does what it started.
    TChildProcess lingering("sh", {"-c", "sleep 600 >/dev/null 2>&1 & echo $!; exec >&- 2>&-; exec sleep 600"});
    const std::string started = lingering.ReadAll(64, 60000);
    EXPECT_EQ(lingering.Wait(200), 128 + SIGKILL);
    EXPECT_TRUE(lingering.TimedOut());
    const pid_t grandchild = std::atoi(started.c_str());
    ASSERT_GT(grandchild, 0) << started;
    std::string state;
    for (int i = 0; i < 500 && kill(grandchild, 0) == 0; ++i) {  // its new parent reaps it
      std::ifstream stat("/proc/" + std::to_string(grandchild) + "/stat");
      std::getline(stat, state);
      if (state.find(") Z") != std::string::npos) break;
      usleep(10000);
    }
    EXPECT_TRUE(kill(grandchild, 0) != 0 || state.find(") Z") != std::string::npos) << state;
    if (kill(grandchild, 0) == 0 && state.find(") Z") == std::string::npos) kill(grandchild, SIGKILL);
  }
  try {
    TChildProcess missing("no-such-program-here", {});
    ADD_FAILURE() << "started a program that does not exist";
  } catch (const std::system_error &e) {
    EXPECT_EQ(e.code().value(), ENOENT);
  }
  close(stray);
  errno = 0;
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

}  // namespace

int main(int argc, char **argv) {
  QCoreApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
