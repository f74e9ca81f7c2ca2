// SPDX-License-Identifier: GPL-3.0-or-later
// The options that change what a run writes, met pairwise with every way a
// run can end, through the program in batch mode. Whatever happened, every
// file under an output's name is whole or was asked to be kept short, the
// counts the run prints are the files on disk, and the next run finishes the
// work, leaving alone only what was complete and nothing hidden behind.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <thread>

#include <fmt/format.h>

#include "app/command_line.h"
#include "encoders/format.h"
#include "engine/mirror.h"
#include "engine/partial_output.h"
#include "test_support.h"

using namespace std::chrono;

namespace {

enum class TEnd { Complete, CtrlC, KilledAndRerun, FailingJob, BadSheet };
const char *const EndNames[] = {"completes", "Ctrl-C", "killed, run again", "a job fails", "a bad sheet"};
// A folder part and fields; the album's colon is not safe on FAT.
const char *const NamePattern = "<artist>/<year> <album>/<track> <title>";

struct TRow {
  const char *Format, *Extension;
  TEnd End;
  bool KeepPartial, SkipExisting, KeepGoing, Verify, NoSpread, FullPath, NoTags, ReplayGain, CopyFiles, Names, Mirror;
  bool Stored;  // the options that are on come from the settings file, not the switches
};

// Every pair of values of any two option columns meets in at least one of the
// first fifteen rows; the last five stop every other encoder with its file kept.
// Loudness tags are on every whole output made with /replaygain; album values
// too once one run converted the folder's four files. With /copyfiles the
// folder's cover lands beside the outputs once, after a run that was not stopped.
// With /names every output lies at its tags' path and nowhere else. A mirror
// leaves complete outputs alone as skipping does (no shorter file kept; one
// Ctrl-C, so it saves its list), its list names exactly the outputs on disk,
// and the next run, without the victim's source, removes its output but not a
// file of the user's.
const TRow Rows[] = {
    {"flac", "flac", TEnd::BadSheet, false, false, false, true, false, false, true, false, false, false, false, false},
    {"mp3", "mp3", TEnd::BadSheet, false, true, true, true, true, false, false, false, false, false, true, false},
    {"wavpack", "wv", TEnd::BadSheet, true, true, true, false, false, true, false, true, true, true, false, true},
    {"flac", "flac", TEnd::Complete, true, true, true, true, false, true, true, true, false, true, false, true},
    {"mp3", "mp3", TEnd::Complete, true, false, false, false, false, false, false, false, false, false, false, false},
    {"wavpack", "wv", TEnd::Complete, false, false, false, false, true, false, false, false, true, true, true, true},
    {"flac", "flac", TEnd::CtrlC, false, false, true, true, true, true, false, false, false, false, false, false},
    {"mp3", "mp3", TEnd::CtrlC, true, true, false, false, false, false, true, true, true, true, false, true},
    {"wavpack", "wv", TEnd::CtrlC, false, true, true, true, true, false, false, true, true, true, true, false},
    {"flac", "flac", TEnd::FailingJob, false, true, true, false, false, false, false, false, false, true, true, false},
    {"mp3", "mp3", TEnd::FailingJob, true, true, true, false, true, true, true, true, true, true, false, true},
    {"wavpack", "wv", TEnd::FailingJob, true, false, false, true, true, true, true, true, true, false, true, false},
    {"flac", "flac", TEnd::KilledAndRerun, true, true, false, false, false, false, true, false, false, true, false, false},
    {"mp3", "mp3", TEnd::KilledAndRerun, false, false, true, true, true, true, false, true, true, false, false, true},
    {"wavpack", "wv", TEnd::KilledAndRerun, true, false, false, false, true, true, false, true, true, false, true, false},
    {"wav", "wav", TEnd::CtrlC, true, false, false, true, false, false, false, false, true, true, false, false},
    {"ape", "ape", TEnd::CtrlC, true, false, true, true, true, false, false, true, false, false, false, true},
    {"ogg", "ogg", TEnd::CtrlC, true, false, false, false, false, true, true, true, true, true, false, false},
    {"aac", "aac", TEnd::CtrlC, true, false, true, false, true, false, false, true, false, false, false, false},
    {"wma", "wma", TEnd::FailingJob, true, false, false, false, false, false, true, true, true, true, false, false},
};

int Number(const std::string &text, const std::string &pattern) {
  std::smatch m;
  return std::regex_search(text, m, std::regex(pattern)) ? std::stoi(m[1]) : -1;
}

// What a run printed about its outputs; -1 where it said nothing.
struct TReport {
  int Converted, Of, Failed, Stopped, LeftAlone, Redone, Verified;
  explicit TReport(const std::string &err)
      : Converted(Number(err, R"(converted (\d+) of)")), Of(Number(err, R"(converted \d+ of (\d+))")),
        Failed(Number(err, R"(failed (\d+))")), Stopped(std::max(0, Number(err, R"(stopped (\d+))"))),
        LeftAlone(std::max(0, Number(err, R"(left alone (\d+) existing)"))),
        Redone(std::max(0, Number(err, R"(converted again (\d+) existing)"))),
        Verified(Number(err, R"(verified (\d+) lossless)")) {
    // A run that did everything counts what it left alone among what is done.
    if (Converted < 0) Converted = Number(err, R"((\d+) (?:files?|tracks?)[^\n]* converted into)") - LeftAlone;
  }
};

// Whether the output's tags hold `field=value`, in whatever case its kind of tags keeps.
bool HasTag(const std::string &path, const std::string &field, const std::string &value = "") {
  std::string out;
  RunTool({"ffprobe", "-v", "error", "-show_entries", "format_tags:stream_tags", "-of", "default=nw=1", path}, &out);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
  return out.find(":" + field + "=" + value) != std::string::npos;
}

class OptionPairs : public ::testing::Test {
 protected:
  void SetUp() override {
    Folder = TestProfileFolder();
    In = Folder + "/in";
    fs::create_directories(In);
    fs::create_directories(Folder + "/config/tonmill");
    // Two long ones first, so that a stop finds them under way and the victim waits for a free worker.
    const TTestSignal signals[] = {{.Seconds = 30, .Seed = 1},
                                   {.Seconds = 8, .Seed = 2},
                                   {.Rate = 48000, .Channels = 1, .Bits = 24, .Seconds = 1.5, .Seed = 3},
                                   {.Seconds = 1, .Seed = 5}};
    const char *names[] = {"long", "mid", "s2", "victim"};
    for (int i = 0; i < 4; ++i)
      Sources[names[i]] = {WriteSignal(In + "/" + names[i] + ".flac", signals[i],
                                       {"-c:a", "flac", "-metadata", fmt::format("title=Title of {}", names[i]),
                                        "-metadata", "artist=Pairs", "-metadata", "album=Rows: all", "-metadata",
                                        "date=2024", "-metadata", fmt::format("track={}", i + 1)}),
                           signals[i]};
    WriteText(In + "/cover.jpg", "the album's cover");
    Intact = Folder + "/victim.flac";
    fs::copy_file(Sources["victim"].first, Intact);
    WriteSignal(In + "/t.flac", {.Seconds = 2, .Seed = 4}, {"-c:a", "flac"});
    Sheet = WriteText(In + "/t.cue", "FILE \"t.flac\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                                     "  TRACK zz AUDIO\n    INDEX 01 00:0x:00\n");
  }

  // Where the stem's output lies below the output folder (and below its full path).
  static std::string Tail(const TRow &row, const std::string &stem) {
    const int track = stem == "long" ? 1 : stem == "mid" ? 2 : stem == "s2" ? 3 : 4;
    return row.Names ? fmt::format("Pairs/2024 Rows_ all/{:02} Title of {}.{}", track, stem, row.Extension)
                     : stem + "." + row.Extension;
  }

  std::vector<std::string> Args(const TRow &row, const std::string &out, bool withSheet, bool withVictim = true) const {
    std::vector<std::string> args = {"/input"};
    for (const char *name : {"long", "mid", "s2", "victim"})
      if (withVictim || std::string(name) != "victim") args.push_back(Sources.at(name).first);
    if (withSheet && row.End == TEnd::BadSheet) args.push_back(Sheet);
    args.insert(args.end(), {"/output", out, "/dest", row.Format, "/p", "2"});
    if (row.FullPath) args.push_back("/createfullpath");
    if (row.Stored) return args;
    if (row.Names) args.insert(args.end(), {"/names", NamePattern});
    if (row.Mirror) args.push_back("/mirror");
    const std::pair<bool, const char *> switches[] = {
        {row.KeepPartial, "/keeppartial"}, {row.SkipExisting, "/skipexisting"}, {row.KeepGoing, "/keepgoing"},
        {row.Verify, "/verify"}, {row.NoSpread, "/nospread"}, {row.NoTags, "/notags"},
        {row.ReplayGain, "/replaygain"}, {row.CopyFiles, "/copyfiles"}};
    for (const auto &[on, name] : switches)
      if (on) args.push_back(name);
    return args;
  }

  void Settings(const TRow &row) const {
    std::string text = "[General]\nLanguage=EN\n";
    const auto yes = [](bool on) { return on ? "YES" : "NO"; };
    if (row.Stored)
      text += fmt::format("KeepPartial={}\nSkipExisting={}\nKeepGoing={}\nVerify={}\nSpreadOverCores={}\nWriteTags={}\n"
                          "ReplayGain={}\nCopyFiles={}\nUseNamePattern={}\nNamePattern={}\nMirror={}\n",
                          yes(row.KeepPartial), yes(row.SkipExisting), yes(row.KeepGoing), yes(row.Verify),
                          yes(!row.NoSpread), yes(!row.NoTags), yes(row.ReplayGain), yes(row.CopyFiles),
                          yes(row.Names), NamePattern, yes(row.Mirror));
    WriteText(Folder + "/config/tonmill/tonmill.conf", text);
  }

  // Every file under `out`: outputs by stem, hidden part files and anything else apart.
  struct TSeen {
    std::map<std::string, std::string> Outputs;
    std::vector<std::string> Hidden, Others;
    int Covers = 0;  // the source folder's cover, copied beside the outputs
    bool Listed = false;  // a mirror's list in the root
  };
  TSeen Look(const TRow &row, const std::string &out) const {
    TSeen seen;
    if (!fs::exists(out)) return seen;
    for (const auto &entry : fs::recursive_directory_iterator(out)) {
      if (!entry.is_regular_file()) continue;
      const fs::path p = entry.path();
      if (IsPartialFileName(p.filename().string()))
        seen.Hidden.push_back(p);
      else if (p.filename() == "cover.jpg")
        ++seen.Covers;
      else if (p == fs::path(out) / MirrorManifestName)
        seen.Listed = true;
      else if (const auto it = std::find_if(Sources.begin(), Sources.end(), [&](const auto &s) {
                 return p.string().ends_with("/" + Tail(row, s.first));
               });
               it != Sources.end())
        seen.Outputs[it->first] = p;
      else
        seen.Others.push_back(p);
    }
    return seen;
  }

  // The hidden file the long source's output is written under, once it exists.
  std::string LongPart(const TRow &row, const std::string &out) const {
    const std::string name = PartialFileName(fs::path(Tail(row, "long")).filename());
    for (int i = 0; i < 3000; ++i) {
      if (fs::exists(out))
        for (const auto &entry : fs::recursive_directory_iterator(out))
          if (entry.path().filename() == name) return entry.path();
      std::this_thread::sleep_for(milliseconds(10));
    }
    return out + "/" + name;
  }

  // Whole: decodes to its source's length (the samples of a lossless one), tags as the row says.
  bool Whole(const TRow &row, const std::string &stem, const std::string &path) const {
    const TTestSignal &s = Sources.at(stem).second;
    const std::vector<uint8_t> decoded = FFmpegDecode(path, s.Bits == 24 ? "s24le" : "s16le");
    const TFormatRow *format = FormatRow(DestinationFromSwitch(row.Format));
    if (format->Lossless && format->Lossless(nullptr)) return decoded == MakeSamples(s);
    const int64_t frames = int64_t(decoded.size()) / s.Channels / (s.Bits == 24 ? 3 : 2);
    return frames >= FrameCount(s) - 1 && frames <= FrameCount(s) + 2048;  // an encoder's padding at most
  }

  // A mirror's list names the outputs on disk, each with its source and as
  // the program left it: nothing it did not write, nothing it may not remove.
  void CheckList(const TRow &row, const std::string &out, const TSeen &seen) const {
    EXPECT_TRUE(row.Mirror ? seen.Listed || seen.Outputs.empty() : !seen.Listed) << "a list without /mirror";
    if (!row.Mirror) return;
    const TMirrorManifest list = ReadMirrorManifest(out + "/");
    EXPECT_FALSE(list.Damaged);
    std::map<std::string, std::string> listed;
    for (const TMirrorEntry &e : list.Entries) {
      listed[e.Output] = e.Source;
      struct stat st {};
      const bool there = lstat((out + "/" + e.Output).c_str(), &st) == 0;
      const int64_t mtime = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
      EXPECT_TRUE(there && e.Size == st.st_size && e.MTime == mtime)
          << e.Output << " is listed as written (size " << e.Size << ") but is not there as written";
    }
    EXPECT_EQ(listed.size(), seen.Outputs.size());
    for (const auto &[stem, path] : seen.Outputs) {
      const std::string output = Tail(row, stem);
      EXPECT_TRUE(listed[output] == fs::path(Sources.at(stem).first).lexically_normal().string()) << output;
    }
  }

  std::string Folder, In, Sheet, Intact;
  std::map<std::string, std::pair<std::string, TTestSignal>> Sources;
};

TEST_F(OptionPairs, EveryFileUnderAnOutputsNameIsWholeAndCountedWhateverEndsTheRun) {
  int cell = 0;
  for (const TRow &row : Rows) {
    const std::string out = Folder + "/out" + std::to_string(++cell);
    const std::vector<std::string> args = Args(row, out, true);
    std::string described = fmt::format("row {}: {}, {}{}:", cell, row.Format, EndNames[int(row.End)],
                                        row.Stored ? ", stored" : "");
    for (size_t i = 6; i < args.size(); ++i) described += " " + args[i];
    SCOPED_TRACE(described);
    Settings(row);
    fs::copy_file(Intact, Sources["victim"].first, fs::copy_options::overwrite_existing);

    TTonmill run(args);
    const bool skip = row.SkipExisting || row.Mirror;
    // A second Ctrl-C once the first is taken, where no shorter file is to be kept.
    const bool twice = row.End == TEnd::CtrlC && !row.Mirror && (!row.KeepPartial || skip);
    if (row.End != TEnd::Complete && row.End != TEnd::BadSheet) {
      WaitForGrowth(LongPart(row, out), 32768);
      // A mirror is cancelled once it wrote an output, which its list must keep.
      if (row.Mirror && row.End == TEnd::CtrlC) WaitForGrowth(out + "/" + Tail(row, "mid"), 0);
      if (row.End == TEnd::CtrlC) {
        kill(run.Pid, SIGINT);
        while (twice && SignalPending(run.Pid, SIGINT)) std::this_thread::sleep_for(microseconds(100));
        if (twice) kill(run.Pid, SIGINT);
      } else if (row.End == TEnd::KilledAndRerun) {
        kill(run.Pid, SIGKILL);
      } else {  // held while the victim, not yet started, is spoiled or taken away
        kill(run.Pid, SIGSTOP);
        if (cell % 2) fs::remove(Sources["victim"].first);
        else WriteFileBytes(Sources["victim"].first, std::vector<uint8_t>(4096, 0x5A));
        kill(run.Pid, SIGCONT);
      }
    }
    int status = run.Wait();
    std::string err = run.Err();
    if (row.End == TEnd::KilledAndRerun) {
      EXPECT_EQ(status, 128 + SIGKILL);
      EXPECT_FALSE(Look(row, out).Hidden.empty()) << "a killed run leaves its hidden file";
      status = Tonmill(args, &err);
    }
    SCOPED_TRACE("the run said:\n" + err);
    const int expected = row.End == TEnd::CtrlC ? 2 : row.End == TEnd::FailingJob || row.End == TEnd::BadSheet ? 1 : 0;
    EXPECT_EQ(status, expected) << err;

    const TReport report(err);
    const TSeen seen = Look(row, out);
    // A run that stopped before any job says no count: it converted nothing.
    const int converted = report.Converted < 0 && status == 1 ? 0 : report.Converted;
    // A second Ctrl-C ends the program there: it says nothing more and keeps nothing short.
    const bool keptShort = row.KeepPartial && !skip &&
                           ((row.End == TEnd::CtrlC && !twice) || (row.End == TEnd::FailingJob && !row.KeepGoing));
    int whole = 0, short_ = 0;
    for (const auto &[stem, path] : seen.Outputs) {
      if (Whole(row, stem, path)) {
        ++whole;
        EXPECT_EQ(HasTag(path, "title", "title of " + stem + "\n"), !row.NoTags) << path;
        EXPECT_EQ(HasTag(path, "replaygain_track_gain"), row.ReplayGain) << path;
        EXPECT_EQ(path != out + "/" + Tail(row, stem), row.FullPath && !row.Mirror) << path;
      } else {
        ++short_;
        EXPECT_TRUE(keptShort) << path << " is cut short\n" << err;
        EXPECT_GT(FFmpegDecode(path, "s16le").size(), 0u) << path << " holds no audio";
      }
    }
    EXPECT_TRUE(seen.Others.empty()) << seen.Others.front();
    if (row.End == TEnd::CtrlC || row.End == TEnd::Complete) {
      EXPECT_EQ(seen.Covers, row.End == TEnd::Complete && row.CopyFiles) << err;
    }
    EXPECT_TRUE(seen.Hidden.empty()) << seen.Hidden.front();
    CheckList(row, out, seen);
    if (keptShort) {
      // Unless the stop found it being verified: an output stopped there is
      // not kept (what it holds was never checked), which a slow machine shows.
      const bool longKept = seen.Outputs.count("long") && !Whole(row, "long", seen.Outputs.at("long"));
      EXPECT_TRUE(longKept || (row.Verify && !seen.Outputs.count("long"))) << "long is kept short";
      EXPECT_GE(whole, converted + report.LeftAlone) << err;
      EXPECT_LE(whole + short_, converted + report.LeftAlone + report.Stopped) << err;
    } else if (!twice) {
      EXPECT_EQ(whole, converted + report.LeftAlone) << err;
    }
    if (report.Of >= 0) { EXPECT_EQ(report.Of, converted + report.Failed + report.Stopped) << err; }
    if (row.End == TEnd::FailingJob || row.End == TEnd::BadSheet) {
      EXPECT_NE(err.find(row.End == TEnd::FailingJob ? Sources["victim"].first : Sheet), std::string::npos) << err;
      EXPECT_EQ(report.Failed, 1) << err;
      if (row.KeepGoing) { EXPECT_EQ(whole, row.End == TEnd::BadSheet ? 4 : 3) << err; }
      if (!row.KeepGoing && row.End == TEnd::BadSheet) { EXPECT_EQ(whole, 0) << err; }
      if (!row.KeepGoing && row.End == TEnd::FailingJob) { EXPECT_TRUE(!seen.Outputs.count("long") || keptShort) << err; }
    }
    if (row.Verify && report.Converted >= 0 && report.Verified >= 0) {
      EXPECT_EQ(report.Verified, std::string(row.Format) == "mp3" ? 0 : converted) << err;
    }
    if (!twice) { EXPECT_EQ(report.Verified >= 0, row.Verify) << err; }

    // Skipping, what the next run finds spoiled is converted again: a
    // whole output cut in half, one older than its source, an unrelated file.
    // Mirroring, the victim's source is gone by the next run, and a file of
    // the user's lies in the destination: at its output's name when it has none.
    std::string mine;
    if (row.Mirror) {
      fs::remove(Sources["victim"].first);
      mine = seen.Outputs.count("victim") ? fs::path(seen.Outputs.at("victim")).replace_filename("mine.txt").string()
                                          : out + "/" + Tail(row, "victim");
      fs::create_directories(fs::path(mine).parent_path());
      WriteText(mine, "the user's own file");
    } else if (row.End == TEnd::FailingJob) {
      fs::copy_file(Intact, Sources["victim"].first, fs::copy_options::overwrite_existing);
    }
    std::map<std::string, fs::file_time_type> untouched;
    int spoiled = short_;
    if (skip) {
      for (const auto &[stem, path] : seen.Outputs) {
        if (!Whole(row, stem, path)) continue;
        if (stem == "mid") CutInHalf(path);
        else if (stem == "s2") fs::last_write_time(Sources[stem].first, fs::last_write_time(path) + microseconds(1));
        else if (stem != "victim" || !row.Mirror) untouched[stem] = fs::last_write_time(path);
        spoiled += stem == "mid" || stem == "s2";
      }
      if (!row.Mirror && !seen.Outputs.count("victim") && !seen.Outputs.empty()) {
        WriteText(fs::path(seen.Outputs.begin()->second).replace_filename(fs::path(Tail(row, "victim")).filename()),
                  "an unrelated file");
        ++spoiled;
      }
    }
    std::string again;
    EXPECT_EQ(Tonmill(Args(row, out, false, !row.Mirror), &again), 0) << again;
    if (row.Mirror) {
      EXPECT_EQ(ReadText(mine), "the user's own file") << again;
      fs::remove(mine);
      EXPECT_EQ(Number(again, R"(removed (\d+) output)"), seen.Outputs.count("victim") ? 1 : -1) << again;
    }
    const int sources = row.Mirror ? 3 : 4;
    const TSeen after = Look(row, out);
    CheckList(row, out, after);
    EXPECT_TRUE(after.Hidden.empty()) << after.Hidden.front();
    EXPECT_TRUE(after.Others.empty()) << after.Others.front() << " (a numbered name?)";
    EXPECT_EQ(after.Outputs.size(), size_t(sources)) << again;
    EXPECT_EQ(after.Covers, row.CopyFiles) << again;
    for (const auto &[stem, path] : after.Outputs) {
      EXPECT_TRUE(Whole(row, stem, path)) << path << "\n" << again;
      EXPECT_EQ(HasTag(path, "replaygain_track_gain"), row.ReplayGain) << path;
      if (!skip) { EXPECT_EQ(HasTag(path, "replaygain_album_gain"), row.ReplayGain) << path; }
    }
    const TReport next(again);
    EXPECT_EQ(next.Converted + next.LeftAlone, sources) << again;
    EXPECT_EQ(next.LeftAlone, int(untouched.size())) << again;
    EXPECT_EQ(next.Redone, skip ? spoiled : 0) << again;
    for (const auto &[stem, time] : untouched)
      EXPECT_EQ(fs::last_write_time(after.Outputs.at(stem)), time) << stem << " was rewritten";
  }
}

// Two skipping runs at once into one folder, the second started while the
// first writes: neither fails, and every output is there once, whole.
TEST(ResumeRuns, TwoSkippingRunsAtOnceShareTheOutputs) {
  const std::string folder = TestProfileFolder(), out = folder + "/out";
  std::vector<std::string> args = {"/input"};
  const TTestSignal signals[] = {{.Seconds = 30, .Seed = 0}, {.Seconds = 2, .Seed = 1}, {.Seconds = 2, .Seed = 2}};
  for (int i = 0; i < 3; ++i)
    args.push_back(WriteSignal(fmt::format("{}/s{}.flac", folder, i), signals[i], {"-c:a", "flac"}));
  args.insert(args.end(), {"/output", out, "/dest", "flac", "/p", "1", "/skipexisting"});
  TTonmill first(args);
  WaitForGrowth(PartialFileName(out + "/s0.flac"), 32768);
  kill(first.Pid, SIGSTOP);  // held half-way while the second one starts
  TTonmill second(args);
  std::this_thread::sleep_for(milliseconds(1500));
  kill(first.Pid, SIGCONT);
  EXPECT_EQ(first.Wait(), 0) << first.Err();
  EXPECT_EQ(second.Wait(), 0) << second.Err();
  EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 3) << "no hidden file, no numbered name";
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(FFmpegDecode(fmt::format("{}/s{}.flac", out, i), "s16le"), MakeSamples(signals[i])) << i;
}

}  // namespace
