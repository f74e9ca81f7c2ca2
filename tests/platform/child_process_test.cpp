// SPDX-License-Identifier: GPL-3.0-or-later
// A child program gets its three standard descriptors and nothing else of
// ours, its name and arguments exactly as given, and is gone once we are done,
// with whatever it started: no wait on it is without bound.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <system_error>

#include "platform/process/child_process.h"

namespace {

TEST(ChildProcess, GetsOnlyItsOwnDescriptorsAndArgumentsAsGiven) {
  // Opened the careless way, as a library on another thread might.
  const int stray = open("/dev/null", O_RDONLY);
  ASSERT_GE(stray, 0);
  const struct {
    const char *Program;
    std::vector<std::string> Args;
    std::string Out;
    int Status;
    const char *Err;
  } rows[] = {
      {"ls", {"-1", "/proc/self/fd"}, "0\n1\n2\n3\n", 0, ""},  // 3 is the folder ls reads
      {"printf", {"%s|", "a b", "'\"", "-x", "$(id)", "\n", "\xff"}, "a b|'\"|-x|$(id)|\n|\xff|", 0, ""},
      {"ls", {"/no/such/folder"}, "", 2, "No such file"},
      {"sh", {"-c", "kill -9 $$"}, "", 128 + SIGKILL, ""},
  };
  for (const auto &row : rows) {
    TChildProcess child(row.Program, row.Args);
    EXPECT_EQ(child.ReadAll(4096, 60000), row.Out);
    EXPECT_EQ(child.Wait(60000), row.Status) << row.Program;
    EXPECT_NE(child.Errors().find(row.Err), std::string::npos) << child.Errors();
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
