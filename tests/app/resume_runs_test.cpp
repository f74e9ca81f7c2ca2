// SPDX-License-Identifier: GPL-3.0-or-later
// Library runs that go on past failed files and resume where an interrupted
// run stopped: through the program in batch mode and through the window.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include <fmt/format.h>

#include "app/settings_store.h"
#include "app/windows/Unit1.h"
#include "base/texts.h"
#include "engine/partial_output.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

// Modification times of every file in a folder, by name, to the nanosecond.
std::map<std::string, int64_t> Times(const std::string &folder) {
  std::map<std::string, int64_t> times;
  for (const auto &entry : fs::directory_iterator(folder)) {
    struct stat s;
    stat(entry.path().c_str(), &s);
    times[entry.path().filename().string()] = int64_t(s.st_mtim.tv_sec) * 1000000000 + s.st_mtim.tv_nsec;
  }
  return times;
}

// Gives `path` a modification time just after that of `than`.
void MakeNewer(const std::string &path, const std::string &than) {
  struct stat s;
  ASSERT_EQ(stat(than.c_str(), &s), 0);
  timespec times[2] = {s.st_atim, s.st_mtim};
  times[1].tv_nsec += 1000;
  if (times[1].tv_nsec >= 1000000000) times[1].tv_nsec -= 999999000, ++times[1].tv_sec;  // still after
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

class ResumeRuns : public ::testing::Test {
 protected:
  void SetUp() override {
    Folder = TestProfileFolder();
    In = Folder + "/in";
    Out = Folder + "/out";
    fs::create_directories(In);
    fs::create_directories(Folder + "/config/tonmill");
  }
  // The settings the program reads (batch mode writes none).
  void Settings(const std::string &lines) {
    WriteText(Folder + "/config/tonmill/tonmill.conf", "[General]\nLanguage=EN\n" + lines);
  }
  std::string Folder, In, Out;
};

// Twenty sources, three of them bad: two that are no audio at all (their
// audio information cannot be read) and a victim, good when the run starts
// and spoiled while the long first source converts, so that its job fails.
struct TTwenty {
  std::vector<std::pair<std::string, TTestSignal>> Good;
  std::vector<std::string> Bad;
  std::string Intact;  // the victim as it starts
  explicit TTwenty(const std::string &in) {
    for (uint32_t i = 0; i < 17; ++i) {
      const TTestSignal signal{.Seconds = i == 0 ? 60 : 0.5 + 0.1 * i, .Seed = i};
      Good.push_back({WriteSignal(fmt::format("{}/s{:02}.flac", in, i), signal, {"-c:a", "flac"}), signal});
    }
    Bad = {WriteText(in + "/m_not_audio.flac", "not audio"), WriteText(in + "/n_not_audio.wav", "RIFF, not a wave"),
           in + "/victim.flac"};
    Intact = WriteSignal(in + "/../intact.flac", {}, {"-c:a", "flac"});
  }
  std::vector<std::string> Inputs() const {  // the long one first
    std::vector<std::string> inputs;
    for (const auto &good : Good) inputs.push_back(good.first);
    inputs.insert(inputs.end(), Bad.begin(), Bad.end());
    return inputs;
  }
};

}  // namespace

// Without the switch the run stops before it starts; with it (or stored)
// every good source is converted, sample for sample, and every bad one named.
TEST_F(ResumeRuns, KeepGoingConvertsEverythingItCanAndListsTheRest) {
  const TTwenty sources(In);
  struct TRow {
    const char *Name;
    std::string Stored;
    std::vector<std::string> Switches;
    int Converted;
    std::string Counts;
  } rows[] = {
      {"stops at the first failure", "", {}, 0, "converted 0 of 20, failed 2, stopped 18"},
      {"/keepgoing", "", {"/keepgoing"}, 17, "converted 17 of 20, failed 3, stopped 0"},
      {"stored", "KeepGoing=YES\n", {}, 17, "converted 17 of 20, failed 3, stopped 0"},
  };
  for (const TRow &row : rows) {
    SCOPED_TRACE(row.Name);
    fs::remove_all(Out);
    Settings(row.Stored);
    fs::copy_file(sources.Intact, sources.Bad[2], fs::copy_options::overwrite_existing);
    std::vector<std::string> args = {TONMILL_BINARY, "/input"};
    for (const std::string &input : sources.Inputs()) args.push_back(input);
    args.insert(args.end(), {"/output", Out, "/dest", "flac", "/p", "1"});
    args.insert(args.end(), row.Switches.begin(), row.Switches.end());
    const int pid = StartTool(args, Folder + "/err.txt");
    ASSERT_GT(pid, 0);
    if (row.Converted) {  // held while the victim is spoiled, once the long one is under way
      WaitForGrowth(PartialFileName(Out + "/s00.flac"), 32768);
      kill(pid, SIGSTOP);
      WriteFileBytes(sources.Bad[2], std::vector<uint8_t>(4096, 0x5A));
      kill(pid, SIGCONT);
    }
    EXPECT_EQ(WaitTool(pid), 1);
    const std::string err = ReadText(Folder + "/err.txt");
    EXPECT_NE(err.find(row.Counts), std::string::npos) << err;
    int converted = 0;
    for (const auto &[source, signal] : sources.Good) {
      const std::string output = Out + "/" + fs::path(source).stem().string() + ".flac";
      if (!fs::exists(output)) continue;
      ++converted;
      EXPECT_EQ(FFmpegDecode(output, "s16le"), MakeSamples(signal)) << output;
    }
    EXPECT_EQ(converted, row.Converted);
    // Each bad source is named on standard error and left no output, hidden or not.
    const size_t failures = row.Converted ? 3 : 2;
    for (size_t b = 0; b < failures; ++b) EXPECT_NE(err.find(sources.Bad[b]), std::string::npos) << err;
    size_t files = 0;
    for (const auto &entry : fs::directory_iterator(Out)) {
      ++files;
      EXPECT_FALSE(IsPartialFileName(entry.path().filename().string())) << entry.path();
    }
    EXPECT_EQ(files, size_t(row.Converted));
  }
}

// Convert, delete two outputs, make one stale and stop the run rewriting it
// half-way (by Ctrl-C, or killed), then run again with /skipexisting: only the
// missing and the half-written outputs are written, each complete; the others
// keep their modification times, and nothing gets a numbered name.
TEST_F(ResumeRuns, SkipExistingResumesAnInterruptedRun) {
  Settings("");
  const TTestSignal longSignal{.Seconds = 300};
  std::vector<std::pair<std::string, TTestSignal>> sources = {
      {WriteSignal(In + "/long.flac", longSignal, {"-c:a", "flac"}), longSignal}};
  for (uint32_t i = 0; i < 5; ++i) {
    const TTestSignal signal{.Seconds = 1, .Seed = i};
    sources.push_back({WriteSignal(In + "/s" + std::to_string(i) + ".flac", signal, {"-c:a", "flac"}), signal});
  }
  std::vector<std::string> args = {TONMILL_BINARY, "/input"};
  for (const auto &source : sources) args.push_back(source.first);  // long first
  args.insert(args.end(), {"/output", Out, "/dest", "flac", "/p", "1"});
  std::vector<std::string> skipping = args;
  skipping.push_back("/skipexisting");

  for (const int stop : {SIGINT, SIGKILL}) {
    SCOPED_TRACE(stop == SIGINT ? "Ctrl-C" : "killed");
    fs::remove_all(Out);
    std::string err;
    ASSERT_EQ(RunTool(args, nullptr, &err), 0) << err;
    const std::map<std::string, int64_t> first = Times(Out);
    ASSERT_EQ(first.size(), 6u);
    fs::remove(Out + "/s1.flac");
    fs::remove(Out + "/s3.flac");
    MakeNewer(In + "/long.flac", Out + "/long.flac");  // its output is stale now

    const int pid = StartTool(skipping, Folder + "/err.txt");
    ASSERT_GT(pid, 0);
    WaitForGrowth(PartialFileName(Out + "/long.flac"), 32768);
    kill(pid, stop);
    EXPECT_EQ(WaitTool(pid), stop == SIGINT ? 2 : 128 + SIGKILL) << ReadText(Folder + "/err.txt");
    std::map<std::string, int64_t> stopped = Times(Out);
    if (stop == SIGKILL) {
      EXPECT_TRUE(stopped.erase(fs::path(PartialFileName(Out + "/long.flac")).filename().string()));
    }
    for (const auto &[name, time] : stopped) EXPECT_EQ(first.at(name), time) << name << " was rewritten";
    EXPECT_EQ(stopped.size(), 4u);

    ASSERT_EQ(RunTool(skipping, nullptr, &err), 0) << err;
    EXPECT_NE(err.find("left alone 3 existing outputs"), std::string::npos) << err;
    const std::map<std::string, int64_t> resumed = Times(Out);
    EXPECT_EQ(resumed.size(), 6u) << "no hidden file, no numbered name";
    for (const auto &[name, time] : resumed) {
      const bool written = name == "long.flac" || name == "s1.flac" || name == "s3.flac";
      EXPECT_EQ(time != first.at(name), written) << name;
    }
    for (const auto &[source, signal] : sources)
      EXPECT_EQ(FFmpegDecode(Out + "/" + fs::path(source).stem().string() + ".flac", "s16le"), MakeSamples(signal))
          << source;
  }
}

// With /skipexisting only a complete output is left alone: a file kept shorter
// by a stopped /keeppartial run, an output cut in half and an unrelated file
// under the name, all newer than their sources, are converted again, whole,
// and the summary says why; in a lossy format too, whose decoder adds its
// delay and padding.
TEST_F(ResumeRuns, SkipExistingLeavesAloneOnlyCompleteOutputs) {
  Settings("");
  const TTestSignal whole{.Seconds = 3, .Seed = 1}, cut{.Seconds = 3, .Seed = 2}, text{.Seconds = 3, .Seed = 3},
      kept{.Seconds = 40, .Seed = 4};
  const std::vector<std::pair<std::string, TTestSignal>> sources = {
      {WriteSignal(In + "/whole.flac", whole, {"-c:a", "flac"}), whole},
      {WriteSignal(In + "/cut.flac", cut, {"-c:a", "flac"}), cut},
      {WriteSignal(In + "/text.flac", text, {"-c:a", "flac"}), text},
      {WriteSignal(In + "/kept.flac", kept, {"-c:a", "flac"}), kept}};
  for (const std::string format : {"flac", "mp3"}) {
    SCOPED_TRACE(format);
    fs::remove_all(Out);
    auto output = [&](const std::string &name) { return Out + "/" + name + "." + format; };
    auto run = [&](const std::vector<std::string> &inputs, const std::vector<std::string> &switches) {
      std::vector<std::string> args = {TONMILL_BINARY, "/input"};
      args.insert(args.end(), inputs.begin(), inputs.end());
      args.insert(args.end(), {"/output", Out, "/dest", format, "/p", "1"});
      args.insert(args.end(), switches.begin(), switches.end());
      return args;
    };
    std::string err;
    ASSERT_EQ(RunTool(run({sources[0].first, sources[1].first}, {}), nullptr, &err), 0) << err;
    CutInHalf(output("cut"));
    WriteText(output("text"), "an unrelated file, 28 bytes");
    const int pid = StartTool(run({sources[3].first}, {"/keeppartial"}), Folder + "/err.txt");
    WaitForGrowth(PartialFileName(output("kept")), 65536);
    kill(pid, SIGINT);
    ASSERT_EQ(WaitTool(pid), 2) << ReadText(Folder + "/err.txt");
    const std::map<std::string, int64_t> before = Times(Out);
    ASSERT_EQ(before.size(), 4u);

    std::vector<std::string> inputs;
    for (const auto &source : sources) inputs.push_back(source.first);
    ASSERT_EQ(RunTool(run(inputs, {"/skipexisting"}), nullptr, &err), 0) << err;
    EXPECT_NE(err.find("left alone 1 existing output,"), std::string::npos) << err;
    // A FLAC file cut short has a damaged last frame; an MP3 file is only shorter.
    EXPECT_NE(err.find(format == "flac" ? "converted again 3 existing outputs: 1 of another length than the source, "
                                          "2 not readable as audio to the end"
                                        : "converted again 3 existing outputs: 2 of another length than the source, "
                                          "1 not readable as audio to the end"),
              std::string::npos)
        << err;
    const std::map<std::string, int64_t> after = Times(Out);
    ASSERT_EQ(after.size(), 4u) << "no hidden file, no numbered name";
    for (const auto &[name, time] : after) EXPECT_EQ(time == before.at(name), name == "whole." + format) << name;
    for (const auto &[source, signal] : sources) {
      const std::vector<uint8_t> decoded = FFmpegDecode(output(fs::path(source).stem().string()), "s16le");
      if (format == "flac")
        EXPECT_EQ(decoded, MakeSamples(signal)) << source;
      else  // the encoder's delay and padding, at most
        EXPECT_NEAR(double(decoded.size() / 4), double(FrameCount(signal)), 3 * 1152) << source;
    }
  }
}

// Two runs at once into one folder, both skipping what exists, the second
// started while the first writes: neither fails, and every output is there
// once, whole, under its own name.
TEST_F(ResumeRuns, TwoSkippingRunsAtOnceShareTheOutputs) {
  Settings("");
  std::vector<std::pair<std::string, TTestSignal>> sources;
  for (uint32_t i = 0; i < 3; ++i) {
    const TTestSignal signal{.Seconds = i == 0 ? 30.0 : 2.0, .Seed = i};
    sources.push_back({WriteSignal(In + "/s" + std::to_string(i) + ".flac", signal, {"-c:a", "flac"}), signal});
  }
  std::vector<std::string> args = {TONMILL_BINARY, "/input"};
  for (const auto &source : sources) args.push_back(source.first);
  args.insert(args.end(), {"/output", Out, "/dest", "flac", "/p", "1", "/skipexisting"});
  const int first = StartTool(args, Folder + "/err1.txt");
  WaitForGrowth(PartialFileName(Out + "/s0.flac"), 32768);
  kill(first, SIGSTOP);  // held half-way while the second one starts
  const int second = StartTool(args, Folder + "/err2.txt");
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  kill(first, SIGCONT);
  EXPECT_EQ(WaitTool(first), 0) << ReadText(Folder + "/err1.txt");
  EXPECT_EQ(WaitTool(second), 0) << ReadText(Folder + "/err2.txt");
  EXPECT_EQ(Times(Out).size(), 3u) << "no hidden file, no numbered name";
  for (const auto &[source, signal] : sources)
    EXPECT_EQ(FFmpegDecode(Out + "/" + fs::path(source).stem().string() + ".flac", "s16le"), MakeSamples(signal))
        << source;
}

// The window, with both options stored: the error report lists every failed
// source once the rest is converted; beside the sources, a second run writes
// nothing (no "_001" names) and a third rewrites only the output whose source
// changed, under its own name.
TEST_F(ResumeRuns, TheWindowKeepsGoingAndSkipsWhatExists) {
  TSettingsStore store;
  ASSERT_EQ(store.WriteSettings({{"KeepGoing", true}, {"SkipExisting", true}}), "");
  std::vector<std::string> errors;
  auto window = std::make_unique<Tmain>(TParsedCommandLine{}, store);
  window->ShowError = [&](const std::string &report) { errors.push_back(report); };
  window->ShowMessage = [](const QString &) {};
  window->show();
  const TTestSignal a{.Seconds = 1, .Seed = 1}, b{.Seconds = 2, .Seed = 2};
  const std::string sourceA = WriteSignal(In + "/a.wav", a), sourceB = WriteSignal(In + "/b.wav", b);
  const std::string bad = WriteText(In + "/bad.flac", "not audio");
  const std::string broken = WriteBrokenMp3(In + "/broken.mp3", 1.0);
  window->DropFiles({sourceA, bad, broken, sourceB}, false);
  window->cbSameAsSource->setChecked(true);
  window->rbFLAC->click();

  window->bStart->click();
  ASSERT_EQ(errors.size(), 1u);
  for (const std::string &name : {bad, broken}) EXPECT_NE(errors[0].find(name), std::string::npos) << errors[0];
  EXPECT_EQ(window->lProgress1->text().toStdString(), FormatText(text_run_counts, 2, 4, 2, 0));
  EXPECT_EQ(FFmpegDecode(In + "/a.flac", "s16le"), MakeSamples(a));
  EXPECT_EQ(FFmpegDecode(In + "/b.flac", "s16le"), MakeSamples(b));
  const std::map<std::string, int64_t> first = Times(In);

  window->DropFiles({sourceA, sourceB}, false);
  window->bStart->click();
  EXPECT_EQ(Times(In), first);
  EXPECT_EQ(window->lProgress1->text().toStdString(), FormatText(text_run_skipped, 0, 2, 2));

  MakeNewer(sourceA, In + "/a.flac");
  const std::map<std::string, int64_t> touched = Times(In);
  window->bStart->click();
  const std::map<std::string, int64_t> third = Times(In);
  ASSERT_EQ(third.size(), first.size()) << "no numbered name";
  for (const auto &[name, time] : third) EXPECT_EQ(time != touched.at(name), name == "a.flac") << name;
  EXPECT_EQ(FFmpegDecode(In + "/a.flac", "s16le"), MakeSamples(a));
  EXPECT_EQ(errors.size(), 1u);
}
