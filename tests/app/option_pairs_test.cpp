// SPDX-License-Identifier: GPL-3.0-or-later
// The options that change what a run writes, met pairwise with every way a
// run can end, through the program in batch mode. Whatever happened, every
// file under an output's name is whole or was asked to be kept short, the
// counts the run prints are the files on disk, and the next run leaves no
// hidden file behind.
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <map>
#include <regex>
#include <thread>

#include <fmt/format.h>

#include "engine/partial_output.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

enum class TEnd { Complete, CtrlC, KilledAndRerun, FailingJob, BadSheet };

const char *EndName(TEnd end) {
  switch (end) {
    case TEnd::Complete: return "completes";
    case TEnd::CtrlC: return "Ctrl-C";
    case TEnd::KilledAndRerun: return "killed, run again";
    case TEnd::FailingJob: return "a job fails";
    case TEnd::BadSheet: return "a bad sheet";
  }
  return "";
}

struct TRow {
  const char *Format, *Extension;
  TEnd End;
  bool KeepPartial, SkipExisting, KeepGoing, Verify, NoSpread, FullPath, NoTags;
};

// Every pair of values of any two columns meets in at least one row.
const TRow Rows[] = {
    {"flac", "flac", TEnd::BadSheet, false, false, false, true, false, false, true},
    {"mp3", "mp3", TEnd::BadSheet, false, true, true, true, true, false, false},
    {"wavpack", "wv", TEnd::BadSheet, true, true, true, false, false, true, false},
    {"flac", "flac", TEnd::Complete, true, true, true, true, false, true, true},
    {"mp3", "mp3", TEnd::Complete, true, false, false, false, false, false, false},
    {"wavpack", "wv", TEnd::Complete, false, false, false, false, true, false, false},
    {"flac", "flac", TEnd::CtrlC, false, false, true, true, true, true, false},
    {"mp3", "mp3", TEnd::CtrlC, true, true, false, false, false, false, true},
    {"wavpack", "wv", TEnd::CtrlC, false, true, true, true, true, false, false},
    {"flac", "flac", TEnd::FailingJob, false, true, true, false, false, false, false},
    {"mp3", "mp3", TEnd::FailingJob, true, true, true, false, true, true, true},
    {"wavpack", "wv", TEnd::FailingJob, true, false, false, true, true, true, true},
    {"flac", "flac", TEnd::KilledAndRerun, true, true, false, false, false, false, true},
    {"mp3", "mp3", TEnd::KilledAndRerun, false, false, true, true, true, true, false},
    {"wavpack", "wv", TEnd::KilledAndRerun, true, false, false, false, true, true, false},
};

struct TSource {
  std::string Path;
  TTestSignal Signal;
};

// What a run printed about its outputs.
struct TReport {
  int Converted = -1, LeftAlone = 0, Stopped = 0, Verified = -1;
};

int Number(const std::string &text, const std::string &pattern) {
  std::smatch m;
  return std::regex_search(text, m, std::regex(pattern)) ? std::stoi(m[1]) : -1;
}

TReport ReadReport(const std::string &err) {
  TReport r;
  r.LeftAlone = std::max(0, Number(err, R"(left alone (\d+) existing)"));
  r.Converted = Number(err, R"(converted (\d+) of)");
  // A run that did everything counts what it left alone among what is done.
  if (r.Converted < 0) r.Converted = Number(err, R"((\d+) (?:files?|tracks?)[^\n]* converted into)") - r.LeftAlone;
  r.Stopped = std::max(0, Number(err, R"(stopped (\d+))"));
  r.Verified = Number(err, R"(verified (\d+) lossless)");
  return r;
}

std::string Title(const std::string &path) {
  std::string out;
  RunTool({"ffprobe", "-v", "error", "-show_entries", "format_tags=title", "-of", "default=nw=1:nk=1", path}, &out);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

class OptionPairs : public ::testing::Test {
 protected:
  void SetUp() override {
    Folder = TestProfileFolder();
    In = Folder + "/in";
    fs::create_directories(In);
    fs::create_directories(Folder + "/config/tonmill");
    WriteText(Folder + "/config/tonmill/tonmill.conf", "[General]\nLanguage=EN\n");
    // The long one first, so that a stop finds it under way.
    const TTestSignal signals[] = {{.Seconds = 60, .Seed = 1},
                                   {.Seconds = 1, .Seed = 2},
                                   {.Rate = 48000, .Channels = 1, .Bits = 24, .Seconds = 1.5, .Seed = 3}};
    const char *names[] = {"long", "s1", "s2"};
    for (int i = 0; i < 3; ++i)
      Sources[names[i]] = {WriteSignal(In + "/" + names[i] + ".flac", signals[i],
                                       {"-c:a", "flac", "-metadata", fmt::format("title=Title of {}", names[i])}),
                           signals[i]};
    Bad = WriteText(In + "/bad.flac", "not audio at all");
    WriteSignal(In + "/t.flac", {.Seconds = 2, .Seed = 4}, {"-c:a", "flac"});
    Sheet = WriteText(In + "/t.cue",
                      "FILE \"t.flac\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                      "  TRACK zz AUDIO\n    INDEX 01 00:0x:00\n");
  }

  std::vector<std::string> Command(const TRow &row, const std::string &out, bool withBad) const {
    std::vector<std::string> args = {TONMILL_BINARY, "/input", Sources.at("long").Path, Sources.at("s1").Path,
                                     Sources.at("s2").Path};
    if (withBad && row.End == TEnd::FailingJob) args.push_back(Bad);
    if (withBad && row.End == TEnd::BadSheet) args.push_back(Sheet);
    args.insert(args.end(), {"/output", out, "/dest", row.Format, "/p", "2"});
    const std::pair<bool, const char *> switches[] = {
        {row.KeepPartial, "/keeppartial"}, {row.SkipExisting, "/skipexisting"}, {row.KeepGoing, "/keepgoing"},
        {row.Verify, "/verify"},           {row.NoSpread, "/nospread"},         {row.FullPath, "/createfullpath"},
        {row.NoTags, "/notags"}};
    for (const auto &[on, name] : switches)
      if (on) args.push_back(name);
    return args;
  }

  // Every file under `out`, by stem; hidden part files counted apart.
  struct TSeen {
    std::map<std::string, std::string> Outputs;
    std::vector<std::string> Hidden, Others;
  };
  TSeen Look(const TRow &row, const std::string &out) const {
    TSeen seen;
    if (!fs::exists(out)) return seen;
    for (const auto &entry : fs::recursive_directory_iterator(out)) {
      if (!entry.is_regular_file()) continue;
      const fs::path p = entry.path();
      if (IsPartialFileName(p.filename().string()))
        seen.Hidden.push_back(p);
      else if (p.extension() == std::string(".") + row.Extension && Sources.count(p.stem().string()))
        seen.Outputs[p.stem().string()] = p;
      else
        seen.Others.push_back(p);
    }
    return seen;
  }

  // The hidden file the long source's output is written under, once it exists.
  std::string LongPart(const TRow &row, const std::string &out) const {
    const std::string name = PartialFileName(std::string("long.") + row.Extension);
    for (int i = 0; i < 3000; ++i) {
      if (fs::exists(out))
        for (const auto &entry : fs::recursive_directory_iterator(out))
          if (entry.path().filename() == name) return entry.path();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return out + "/" + name;
  }

  // Whole: decodes to exactly its source's frames.
  bool Whole(const std::string &stem, const std::string &path) const {
    const TTestSignal &s = Sources.at(stem).Signal;
    const size_t bytes = FFmpegDecode(path, "s16le").size();
    return bytes == size_t(FrameCount(s)) * s.Channels * 2;
  }

  std::string Folder, In, Bad, Sheet;
  std::map<std::string, TSource> Sources;
};

}  // namespace

TEST_F(OptionPairs, EveryFileUnderAnOutputsNameIsWholeAndCountedWhateverEndsTheRun) {
  int cell = 0;
  for (const TRow &row : Rows) {
    const std::string out = Folder + "/out" + std::to_string(++cell);
    const std::vector<std::string> command = Command(row, out, true);
    std::string described = std::string(row.Format) + ", " + EndName(row.End) + ":";
    for (size_t i = 6; i < command.size(); ++i) described += " " + command[i];
    SCOPED_TRACE(described);

    // The run, ended the row's way.
    const std::string errFile = Folder + "/err.txt";
    int status;
    if (row.End == TEnd::CtrlC || row.End == TEnd::KilledAndRerun) {
      const int pid = StartTool(command, errFile);
      ASSERT_GT(pid, 0);
      WaitForGrowth(LongPart(row, out), 32768);
      kill(pid, row.End == TEnd::CtrlC ? SIGINT : SIGKILL);
      status = WaitTool(pid);
      if (row.End == TEnd::KilledAndRerun) {
        EXPECT_EQ(status, 128 + SIGKILL);
        std::string err;
        status = RunTool(command, nullptr, &err);
        WriteText(errFile, err);
      }
    } else {
      std::string err;
      status = RunTool(command, nullptr, &err);
      WriteText(errFile, err);
    }
    const std::string err = ReadText(errFile);
    const int expected = row.End == TEnd::CtrlC ? 2 : row.End == TEnd::FailingJob || row.End == TEnd::BadSheet ? 1 : 0;
    EXPECT_EQ(status, expected) << err;

    // What is on disk against what the run said.
    const TReport report = ReadReport(err);
    const TSeen seen = Look(row, out);
    // A run that stopped before any job says no count: it converted nothing.
    const int converted = report.Converted < 0 && status == 1 ? 0 : report.Converted;
    int whole = 0, short_ = 0;
    for (const auto &[stem, path] : seen.Outputs) {
      if (Whole(stem, path)) {
        ++whole;
        EXPECT_EQ(Title(path), row.NoTags ? "" : fmt::format("Title of {}", stem)) << path;
        EXPECT_EQ(fs::path(path).parent_path() != fs::path(out), row.FullPath) << path;
      } else {
        ++short_;
        EXPECT_TRUE(row.KeepPartial && row.End == TEnd::CtrlC) << path << " is cut short\n" << err;
      }
    }
    EXPECT_TRUE(seen.Others.empty()) << seen.Others.front();
    // Kept stopped outputs are counted stopped, short or (stopped at the very end) whole.
    const int kept = row.KeepPartial && row.End == TEnd::CtrlC ? report.Stopped : 0;
    EXPECT_GE(whole, converted + report.LeftAlone) << err;
    EXPECT_LE(whole + short_, converted + report.LeftAlone + kept) << err;
    if (row.End == TEnd::FailingJob || row.End == TEnd::BadSheet) {
      EXPECT_NE(err.find(row.End == TEnd::FailingJob ? Bad : Sheet), std::string::npos) << err;
      EXPECT_EQ(whole, row.KeepGoing ? 3 : 0) << err;
    }
    if (row.Verify && std::string(row.Format) != "mp3" && report.Converted >= 0) {
      EXPECT_EQ(report.Verified, report.Converted) << err;
    }

    // The next run, left to complete, finishes the work and leaves nothing hidden.
    std::string again;
    EXPECT_EQ(RunTool(Command(row, out, false), nullptr, &again), 0) << again;
    const TSeen after = Look(row, out);
    EXPECT_TRUE(after.Hidden.empty()) << after.Hidden.front();
    EXPECT_TRUE(after.Others.empty()) << after.Others.front() << " (a numbered name?)";
    EXPECT_EQ(after.Outputs.size(), 3u) << again;
    for (const auto &[stem, path] : after.Outputs) EXPECT_TRUE(Whole(stem, path)) << path << "\n" << again;
    const TReport next = ReadReport(again);
    EXPECT_EQ(next.Converted + next.LeftAlone, row.SkipExisting ? 3 : next.Converted) << again;
  }
}
