// SPDX-License-Identifier: GPL-3.0-or-later
// Ctrl-C at any moment of a mixed batch on two workers: the run ends with
// status 2 (or 0 when it was already done, or by the signal before anything
// was written), every output under its name is
// whole, nothing hidden stays behind, no ffmpeg outlives the run, and
// neither the sources nor the settings file change.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <thread>

#include "engine/partial_output.h"
#include "test_support.h"

namespace fs = std::filesystem;
using namespace std::chrono;

namespace {

// Processes whose parent is this one, other than `except`.
std::vector<int> Children(int except) {
  std::vector<int> found;
  for (const auto &entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos || std::stoi(name) == except) continue;
    std::ifstream status(entry.path() / "status");
    for (std::string line; std::getline(status, line);)
      if (line.rfind("PPid:", 0) == 0 && std::stoi(line.substr(5)) == getpid()) found.push_back(std::stoi(name));
  }
  return found;
}

// Waits for the program, killing it (and failing) should it not end within a minute.
int WaitBounded(int pid) {
  for (int i = 0; i < 6000; ++i) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::this_thread::sleep_for(milliseconds(10));
  }
  ADD_FAILURE() << "the run did not end after Ctrl-C";
  kill(pid, SIGKILL);
  return WaitTool(pid);
}

TEST(CancelAnywhere, InterruptedMixedBatches) {
  const std::string folder = TestProfileFolder(), in = folder + "/in", out = folder + "/out";
  fs::create_directories(in);
  fs::create_directories(folder + "/config/tonmill");
  const std::string conf = folder + "/config/tonmill/tonmill.conf";
  WriteText(conf, "[General]\nDestinationFormat=WAV\nLanguage=EN\n");
  const std::vector<uint8_t> settings = ReadFileBytes(conf);

  const TTestSignal whole{.Seconds = 8}, image{.Seconds = 6, .Seed = 4};
  WriteSignal(in + "/a.flac", whole, {"-c:a", "flac"});
  WriteSignal(in + "/b.wav", {.Seconds = 8, .Seed = 2});
  WriteSignal(in + "/c.mkv", {.Seconds = 8, .Seed = 3}, {"-c:a", "flac"});  // through the ffmpeg program
  WriteSignal(in + "/album.wav", image);
  WriteText(in + "/album.cue", "FILE \"album.wav\" WAVE\n"
                               "  TRACK 01 AUDIO\n    TITLE \"One\"\n    INDEX 01 00:00:00\n"
                               "  TRACK 02 AUDIO\n    TITLE \"Two\"\n    INDEX 01 00:02:00\n"
                               "  TRACK 03 AUDIO\n    TITLE \"Three\"\n    INDEX 01 00:04:00\n");
  const std::set<size_t> lengths = {size_t(FrameCount(whole)), size_t(FrameCount(image) / 3)};
  const std::vector<std::string> inputs = {in + "/a.flac", in + "/b.wav", in + "/c.mkv", in + "/album.cue"};

  // Orphaned children of the program come to this process, where they show.
  ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  const TSourceGuard guard({in});
  const char *formats[] = {"wav", "flac", "ape"};

  // How long a whole run takes, so that the interrupts fall all over it.
  const auto started = steady_clock::now();
  for (const char *format : formats) {
    std::vector<std::string> args = {TONMILL_BINARY, "/input"};
    args.insert(args.end(), inputs.begin(), inputs.end());
    args.insert(args.end(), {"/output", out + "/full", "/dest", format, "/p", "2", "/q"});
    std::string err;
    ASSERT_EQ(RunTool(args, nullptr, &err), 0) << err;
  }
  const int64_t span = std::max<int64_t>(duration_cast<milliseconds>(steady_clock::now() - started).count() / 3, 50);

  std::mt19937 random(2026);
  int cancelled = 0;
  for (int run = 0; run < 24; ++run) {
    const char *format = formats[run % 3];
    const int64_t after = int64_t(random() % uint64_t(span));
    SCOPED_TRACE(std::string(format) + ", Ctrl-C after " + std::to_string(after) + " ms");
    fs::remove_all(out);
    std::vector<std::string> args = {TONMILL_BINARY, "/input"};
    args.insert(args.end(), inputs.begin(), inputs.end());
    args.insert(args.end(), {"/output", out, "/dest", format, "/p", "2"});
    const int pid = StartTool(args, folder + "/err.txt");
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(milliseconds(after));
    kill(pid, SIGINT);
    const int status = WaitBounded(pid);
    const std::string said = ReadText(folder + "/err.txt");
    for (const int leaked : Children(pid)) {
      ADD_FAILURE() << "process " << leaked << " outlived the run";
      kill(leaked, SIGKILL);
      waitpid(leaked, nullptr, 0);
    }
    // Before the run starts converting, Ctrl-C ends the program as it ends any:
    // by the signal, with nothing written yet.
    if (status == 128 + SIGINT) {
      EXPECT_TRUE(!fs::exists(out) || fs::is_empty(out)) << "ended by Ctrl-C with outputs written";
      continue;
    }
    EXPECT_TRUE(status == 2 || status == 0) << status << ": " << said;
    cancelled += status == 2;
    if (!fs::exists(out)) continue;
    for (const auto &entry : fs::directory_iterator(out)) {
      const std::string name = entry.path().filename();
      EXPECT_FALSE(IsPartialFileName(name)) << name << " stayed behind";
      if (IsPartialFileName(name)) continue;
      std::string err;
      EXPECT_EQ(RunTool({"ffmpeg", "-v", "error", "-err_detect", "crccheck+explode", "-i", entry.path(), "-f",
                         "s16le", folder + "/decoded.raw", "-y"}, nullptr, &err), 0) << name << ": " << err;
      EXPECT_EQ(err, "") << name;
      EXPECT_TRUE(lengths.count(fs::file_size(folder + "/decoded.raw") / 4)) << name << " is not whole";
    }
  }
  EXPECT_GT(cancelled, 0);  // some interrupts came while the run was busy
  EXPECT_EQ(ReadFileBytes(conf), settings);
}

}  // namespace

// Ctrl-C as the run reports its end: the files are written, so the program
// ends as the run did, not by the signal.
TEST(CancelAnywhere, LateCtrlCLeavesTheOutcome) {
  const std::string folder = TestProfileFolder(), out = folder + "/out";
  WriteSignal(folder + "/a.wav", {.Seconds = 1});
  for (int run = 0; run < 5; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    const int pid = StartTool({TONMILL_BINARY, "/input", folder + "/a.wav", "/output", out, "/dest", "wav"},
                              folder + "/err.txt");
    ASSERT_GT(pid, 0);
    for (int i = 0; i < 60000 && ReadText(folder + "/err.txt").find("converted into") == std::string::npos; ++i)
      std::this_thread::sleep_for(microseconds(200));
    kill(pid, SIGINT);
    EXPECT_EQ(WaitBounded(pid), 0) << ReadText(folder + "/err.txt");
    fs::remove_all(out);
  }
}
