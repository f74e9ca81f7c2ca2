// SPDX-License-Identifier: GPL-3.0-or-later
// The program converting without a window: exit status, what it says, awkward paths, users and signals.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "base/texts.h"
#include "engine/partial_output.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

// Whether a signal sent to the process waits there, not yet taken.
bool SignalPending(int pid, int signal) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("ShdPnd:", 0) == 0) return std::stoull(line.substr(7), nullptr, 16) >> (signal - 1) & 1;
  return false;
}

class BatchMode : public ::testing::Test {
 protected:
  void SetUp() override {
    Other = std::make_unique<TOtherUser>();
    Folder = Other->CannotRun.empty() ? Other->Folder : TestFolder();
    fs::create_directories(Folder + "/config/tonmill");
    Conf = Folder + "/config/tonmill/tonmill.conf";
    setenv("XDG_CONFIG_HOME", (Folder + "/config").c_str(), 1);
    In = Folder + "/in";
    fs::create_directories(In);
  }
  void TearDown() override {
    if (OtherUserLeftOut) GTEST_SKIP() << "the runs as another user are left out: " << Other->CannotRun;
  }

  // A run: set-up, switches ("/dest wav" unless given), how it starts, its status, part of what it says,
  // the output that holds the test signal ("" for none), further checks.
  struct TRunRow {
    const char *Name;
    std::function<void()> Prepare;
    std::vector<std::string> Args;
    TRunHow How;
    int Status;
    std::string Says;
    std::string Output;
    std::function<void(const std::string &err)> Check = {};
    bool Nobody = false;                // run by the other user
    std::function<void()> During = {};  // while it runs
  };

  // Runs each row into a fresh `out` open to every user, from the stored settings below.
  void RunRows(const std::vector<TRunRow> &rows, const std::string &out) {
    for (const TRunRow &row : rows) {
      SCOPED_TRACE(row.Name);
      if (row.Nobody && !Other->CannotRun.empty()) {
        OtherUserLeftOut = true;
        continue;
      }
      fs::remove_all(out);
      fs::create_directory(out);
      fs::permissions(out, fs::perms::all);  // the unprivileged user writes here
      WriteText(Conf, "[General]\nDestinationFormat=WAV\nLanguage=FR\nProgParallelFiles=4\n");
      if (row.Prepare) row.Prepare();
      const std::string settings = ReadText(Conf);
      std::vector<std::string> args = row.Args;
      if (std::find(args.begin(), args.end(), "/dest") == args.end()) args.insert(args.end(), {"/dest", "wav"});
      TRunHow how = row.How;
      if (row.Nobody) how.As = Other.get();
      const TSourceGuard guard({In});
      TTonmill run(args, how);
      if (row.During) row.During();
      EXPECT_EQ(run.Wait(), row.Status) << run.Err();
      const std::string err = run.Err();
      EXPECT_NE(err.find(row.Says), std::string::npos) << err;
      if (!row.Output.empty()) { EXPECT_EQ(FFmpegDecode(row.Output, "s16le"), MakeSamples(TTestSignal{})) << row.Output; }
      if (row.Check) row.Check(err);
      EXPECT_EQ(ReadText(Conf), settings) << "a batch run never writes the settings";
    }
  }

  std::string Folder, Conf, In;
  std::unique_ptr<TOtherUser> Other;
  bool OtherUserLeftOut = false;
};

// Each ends with the status it must and says why; what converts holds the source's samples.
TEST_F(BatchMode, RunsThatConvertOrSayWhyNot) {
  const std::string out = Folder + "/out", tree = Folder + "/tree", locked = tree + "/locked", gone = Folder + "/gone";
  const std::string home = Folder + "/home", pattern = Folder + "/pattern";
  fs::create_directories(home + "/Music/Album");
  fs::create_directories(pattern);
  WriteSignal(In + "/a.wav", TTestSignal{});
  WriteFileBytes(Folder + "/file", {1, 2, 3});
  fs::create_directories(locked);
  fs::copy_file(In + "/a.wav", locked + "/a.wav");
  fs::copy_file(In + "/a.wav", tree + "/a.wav");
  fs::permissions(locked, fs::perms::owner_all);
  const std::string resample = "Preprocess=YES\nPPResample=YES\nPPResampleTo=48000\nPPChannels=1\nPPSplitBySilence=NO\n";
  const auto stored = [&](const std::string &text) { return [=, this] { WriteText(Conf, "[General]\n" + text); }; };
  RunRows({
      {"no file matches", {}, {"/input", In + "/*.flac", "/output", out}, {}, 1, "no supported audio file", ""},
      {"the output is a file", {}, {"/input", In + "/a.wav", "/output", Folder + "/file"}, {}, 1,
       "the output \"" + Folder + "/file\" is a file, not a folder", ""},
      // Switches and keys are read without regard to case.
      {"a FLAC level out of range", {},
       {"/INPUT", In + "/a.wav", "/output", out, "/dest", "FLAC", "/COMPRESSION", "11"}, {}, 1, "level from 0 to 8",
       ""},
      {"MP3 at /bitrate 192", {}, {"/input", In + "/a.wav", "/output", out, "/dest", "mp3", "/bitrate", "192"}, {}, 0,
       "", "", [&](const std::string &) {
         EXPECT_EQ(ProbeStream(out + "/a.mp3", "codec_name,sample_rate,channels,bit_rate"), "mp3,44100,2,192000\n");
       }},
      {"a damaged settings file is named once and left", [&] { WriteText(Conf, "[General\nDestinationFormat=FLAC\n"); },
       {"/input", In + "/a.wav", "/output", out}, {}, 0, "\"" + Conf + "\"", out + "/a.wav",
       [&](const std::string &err) {
         EXPECT_EQ(err.find(Conf, err.find(Conf) + Conf.size()), std::string::npos) << err;
         EXPECT_FALSE(fs::exists(Conf + ".bad"));
       }},
      {"output in a locked folder", {}, {"/input", In + "/a.wav", "/output", locked + "/out"}, {}, 1,
       "cannot create the output folder \"" + locked + "/out/\": Permission denied", "", {}, true},
      {"an unreadable sub-folder", {}, {"/input", tree, "/output", out}, {}, 1,
       "cannot read the folder \"" + locked + "/\": Permission denied", out + "/a.wav", {}, true},
      {"a stored high priority the user may not take", stored("DestinationFormat=WAV\nProgPriority=2\n"),
       {"/input", In + "/a.wav", "/output", out}, {}, 0, text_priority_refused, out + "/a.wav", {}, true},
      {"relative output, current folder deleted", [&] { fs::create_directory(gone); },
       {"/input", In + "/a.wav", "/output", "out"}, {.Cwd = gone, .RemoveCwd = true}, 1,
       "the current folder no longer exists: \"out/\" cannot be found", ""},
      {"full paths, current folder deleted", [&] { fs::create_directory(gone); },
       {"/input", In + "/a.wav", "/output", out, "/createfullpath"}, {.Cwd = gone, .RemoveCwd = true}, 0, "", out + In + "/a.wav"},
      {"relative paths from the working folder", {}, {"/input", "in/a.wav", "/output", "rel"}, {.Cwd = Folder}, 0,
       "1 file converted into " + Folder + "/rel/", Folder + "/rel/a.wav"},
      {"a file size limit (ulimit -f)", {}, {"/input", In + "/a.wav", "/output", out}, {.FileSizeKiB = 64}, 1,
       "File too large", "", [&](const std::string &err) {
         EXPECT_TRUE(fs::is_empty(out));  // the hidden file too
         EXPECT_NE(err.find("(ulimit -f)"), std::string::npos) << err;  // not "the disk is full"
       }},
      {"a closed standard error ends no run", {}, {"/input", In + "/a.wav", "/output", out}, {.ClosedErr = true}, 0, "",
       out + "/a.wav"},
      // A lossless output is decoded again and compared; a hybrid one is not.
      {"verify stored, resampled and mixed down",
       [&] {
         WriteSignal(In + "/v.flac", {.Bits = 24}, {"-c:a", "flac"});
         stored(resample + "Verify=YES\n")();
       },
       {"/input", In + "/v.flac", "/output", out, "/dest", "flac"}, {}, 0, "verified 1 lossless output ", "",
       [&](const std::string &) { EXPECT_EQ(ProbeStream(out + "/v.flac", "sample_rate,channels"), "48000,1\n"); }},
      {"a pattern converts what it matches",
       [&] {
         for (uint32_t i = 0; i < 3; ++i)
           WriteSignal(pattern + "/t" + std::to_string(i) + ".flac", {.Seed = i}, {"-c:a", "flac"});
         WriteSignal(pattern + "/other.wav", {});
       },
       {"/input", pattern + "/*.flac", "/output", out, "/p", "2"}, {}, 0, "3 files converted", "",
       [&](const std::string &) {
         EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 3);
         for (uint32_t i = 0; i < 3; ++i)
           EXPECT_EQ(FFmpegDecode(out + "/t" + std::to_string(i) + ".wav", "s16le"), MakeSamples({.Seed = i}));
       }},
      // A source under the home folder keeps its folders from there, any other from the root.
      {"full paths", [&] { WriteSignal(home + "/Music/Album/song.wav", {}); },
       {"/input", home + "/Music/Album/song.wav", In + "/a.wav", "/output", out, "/createfullpath"},
       {.Env = {"HOME=" + home}}, 0, "", out + "/Music/Album/song.wav",
       [&](const std::string &) { EXPECT_EQ(FFmpegDecode(out + In + "/a.wav", "s16le"), MakeSamples({})); }},
      // Audio before track 1 and a pregap, kept as their own (how sheets are cut: CueSheets, SourceParts).
      {"/hiddentrack and /ownpregaps",
       [&] {
         WriteText(In + "/a.cue", "FILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:15\n"
                                  "  TRACK 02 AUDIO\n    INDEX 00 00:00:30\n    INDEX 01 00:00:45\n");
       },
       {"/input", In + "/a.cue", "/output", out, "/hiddentrack", "/ownpregaps"}, {}, 0,
       "3 tracks of 1 file converted", "", [&](const std::string &) {
         fs::remove(In + "/a.cue");
         const std::vector<uint8_t> all = MakeSamples({});
         const auto span = [&](int from, int to) {  // in CD frames
           return std::vector<uint8_t>(all.begin() + from * 2352, all.begin() + to * 2352);
         };
         EXPECT_EQ(FFmpegDecode(out + "/00 - Hidden track.wav", "s16le"), span(0, 15));
         EXPECT_EQ(FFmpegDecode(out + "/01 - a.wav", "s16le"), span(15, 30));
         EXPECT_EQ(FFmpegDecode(out + "/02 - a.wav", "s16le"), span(30, 75));
       }},
  }, out);
  EXPECT_EQ(ReadFileBytes(Folder + "/file"), (std::vector<uint8_t>{1, 2, 3}));
}

// A failed run says first, in the chosen language, which file and why, then the technical lines under a
// heading; a read-only destination is refused before converting, leaving nothing there.
TEST_F(BatchMode, AFailureSaysWhichFileAndWhy) {
  TScratchDisk disk(Folder + "/disk", "16m");
  const std::string out = Folder + "/out", disked = disk.Folder + "/a.wav";
  WriteFileBytes(In + "/bad.flac", {'n', 'o'});
  const std::string broken = WriteBrokenMp3(In + "/broken.mp3", 1.5);
  WriteSignal(In + "/long.wav", {.Seconds = 60});
  WriteSignal(In + "/a.wav", TTestSignal{});
  fs::copy_file(In + "/a.wav", In + "/locked.wav");
  fs::permissions(In + "/locked.wav", fs::perms::owner_read | fs::perms::owner_write);
  const auto in = [&](const std::string &language) { return [=, this] { WriteText(Conf, "[General]\nLanguage=" + language + "\n"); }; };
  const auto says = [](const std::string &why, bool english) {
    return "tonmill: " + why + (english ? "\ntonmill: Details:\n" : "\ntonmill: Подробности:\n");
  };
  const auto technical = [](const std::string &err) {
    const size_t at = std::min(err.find("Details:\n"), err.find("Подробности:\n"));
    EXPECT_NE(err.find_first_not_of("\n", err.find('\n', at) + 1), std::string::npos) << "the technical lines follow";
    for (const char *never : {"LastCall = ,", "ErrorCode = 0", "Encoder error"})
      EXPECT_EQ(err.find(never), std::string::npos) << never << " in " << err;
  };
  const std::string read = "Could not read “", readRu = "Не удалось прочитать «";
  const auto vanish = [&] {
    WaitForGrowth(PartialFileName(out + "/long.mp3"));
    fs::remove_all(out);
  };
  std::vector<TRunRow> rows = {
      {"not audio", in("EN"), {"/input", In + "/bad.flac", "/output", out}, {}, 1,
       says(read + In + "/bad.flac”: it is not an audio file this program can read.", true), "", technical},
      {"damaged, Russian", in("RU"), {"/input", broken, "/output", out}, {}, 1,
       says(readRu + broken + "»: файл повреждён на отметке 0:01.", false), "", technical},
      {"folder vanished", in("EN"), {"/input", In + "/long.wav", "/output", out, "/dest", "mp3"}, {}, 1,
       says("Could not write “" + out + "/long.mp3”: its folder no longer exists.", true), "", technical, false, vanish},
      {"permission denied, Russian", in("RU"), {"/input", In + "/locked.wav", "/output", out}, {}, 1,
       says(readRu + In + "/locked.wav»: доступ запрещён.", false), "", technical, true},
  };
  if (disk.Mounted)
    rows.insert(rows.end(), {
        {"disk full", [&] { in("EN")(); disk.LeaveFree(0); }, {"/input", In + "/a.wav", "/output", disk.Folder}, {}, 1,
         says("Could not write “" + disked + "”: the disk is full.", true), "", [&](const std::string &err) { disk.Unfill(); technical(err); }},
        {"a read-only destination", [&] { in("EN")(); disk.SetReadOnly(true); }, {"/input", In + "/a.wav", "/output", disk.Folder, "/dest", "flac"},
         {}, 1, "tonmill: cannot write into the output folder \"" + disk.Folder + "/\"", "", [&](const std::string &) {
           EXPECT_TRUE(fs::is_empty(disk.Folder));
           disk.SetReadOnly(false);
         }}});
  RunRows(rows, out);
}

// Ctrl-C, SIGTERM and SIGHUP cancel, leaving nothing behind; another signal leaves the cancel alone.
TEST_F(BatchMode, StraySignalsLeaveTheCancelAlone) {
  WriteSignal(In + "/long.wav", {.Seconds = 120});
  for (const int cancel : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(cancel);
    fs::remove_all(Folder + "/out");
    TTonmill run({"/input", In, "/output", Folder + "/out", "/p", "1", "/dest", "wav"}, {.IgnoreUsr1 = true});
    WaitForGrowth(PartialFileName(Folder + "/out/long.wav"));
    kill(run.Pid, SIGUSR1);  // not ours to watch; the cancel comes once it is dealt with
    while (SignalPending(run.Pid, SIGUSR1)) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    kill(run.Pid, cancel);
    EXPECT_EQ(run.Wait(), 2);
    EXPECT_NE(run.Err().find("cancelled: converted 0 of 1, failed 0, stopped 1; outputs in " + Folder + "/out/"),
              std::string::npos) << run.Err();
    EXPECT_TRUE(fs::is_empty(Folder + "/out"));  // the hidden file too
  }
  // Ctrl-C as the run reports its end: the files are written, so the program ends as the run did.
  fs::remove_all(Folder + "/out");
  TTonmill run({"/input", WriteSignal(In + "/short.wav", {}), "/output", Folder + "/out", "/dest", "wav"});
  for (int i = 0; i < 60000 && run.Err().find("converted into") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  kill(run.Pid, SIGINT);
  EXPECT_EQ(run.Wait(), 0) << run.Err();
}

}  // namespace
