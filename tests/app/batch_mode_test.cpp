// SPDX-License-Identifier: GPL-3.0-or-later
// The program itself, converting without a window: exit status, messages on
// standard error, awkward paths and users, stray signals, spreading one file
// over the workers, /verify, and settings left as they were.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>

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

// The most threads the started program had at once, sampled until it ends (left for Wait to reap).
int PeakThreads(int pid) {
  int peak = 0;
  for (siginfo_t info{}; waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;) {
    int count = 0;
    std::error_code ec;
    for (fs::directory_iterator t("/proc/" + std::to_string(pid) + "/task", ec); !ec && t != fs::directory_iterator();
         t.increment(ec))
      ++count;
    peak = std::max(peak, count);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return peak;
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

  // One row of a table of runs: what to set up first, the switches ("/dest
  // wav" is added unless they name a format), how the program starts, the
  // status it must end with, a part of what standard error must say, the
  // output that must hold the test signal ("" for none), and what else to check.
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
  const std::string advanced = "[General]\nDestinationFormat=WAV\nProgSimpleParallelFiles=NO\nFPCPU_WAV=3\n";
  const std::string resample = "Preprocess=YES\nPPResample=YES\nPPResampleTo=48000\nPPChannels=1\nPPSplitBySilence=NO\n";
  const auto stored = [&](const std::string &text) { return [=, this] { WriteText(Conf, "[General]\n" + text); }; };
  const auto probed = [&](const std::string &path, const std::string &says) {
    return [=](const std::string &) { EXPECT_EQ(ProbeStream(path, "codec_name,sample_rate,channels,bit_rate"), says); };
  };
  const auto once = [&](const std::string &says) {
    return [=](const std::string &err) {
      EXPECT_EQ(err.find(says, err.find(says) + 1), std::string::npos) << err;
      EXPECT_EQ(err.find("TWMACoder"), std::string::npos) << err;
      EXPECT_TRUE(fs::is_empty(out));
    };
  };
  const auto twoSources = [&] { fs::copy_file(In + "/a.wav", In + "/b.wav", fs::copy_options::overwrite_existing); };
  const std::string goneSays = "the current folder no longer exists";
  RunRows({
      {"no file matches", {}, {"/input", In + "/*.flac", "/output", out}, {}, 1, "no supported audio file", ""},
      {"the output under a file", {}, {"/input", In, "/output", Folder + "/file/out"}, {}, 1,
       "cannot create the output folder", ""},
      {"the output is a file", {}, {"/input", In + "/a.wav", "/output", Folder + "/file"}, {}, 1,
       "the output \"" + Folder + "/file\" is a file, not a folder", ""},
      {"a source that is no audio", [&] { WriteFileBytes(In + "/bad.flac", {'n', 'o'}); },
       {"/input", In + "/bad.flac", "/output", out}, {}, 1, "converted 0 of 1, failed 1, stopped 0; outputs in " + out + "/",
       "", [&](const std::string &) { fs::remove(In + "/bad.flac"); }},
      {"/p without a number", {}, {"/input", In + "/a.wav", "/output", out, "/p", "two"}, {}, 1, "/p needs", ""},
      // Switches and keys are read without regard to case.
      {"a FLAC level out of range", {},
       {"/INPUT", In + "/a.wav", "/output", out, "/dest", "FLAC", "/COMPRESSION", "11"}, {}, 1, "level from 0 to 8",
       ""},
      // Two sources, one message: the run ends before any job.
      {"/useprocodec", twoSources, {"/input", In, "/output", out, "/dest", "wma", "/useprocodec"}, {}, 1,
       "/useprocodec: ", "", once("/useprocodec: ")},
      {"MP3 at /bitrate 192", {}, {"/input", In + "/a.wav", "/output", out, "/dest", "mp3", "/bitrate", "192"}, {}, 0,
       "", "", probed(out + "/a.mp3", "mp3,44100,2,192000\n")},
      {"a plain /dest ogg keeps the stored quality", stored("OGGQuality=3\n"),
       {"/input", In + "/a.wav", "/output", out, "/dest", "ogg"}, {}, 0, "", "",
       [&](const std::string &) { EXPECT_EQ(ProbeStream(out + "/a.ogg", "codec_name,sample_rate,channels"), "vorbis,44100,2\n"); }},
      {"/DEBUG shows the parameters and writes no audio", {}, {"/DEBUG", "/input", In + "/a.wav", "/output", out}, {},
       0, "WAV Parameters", "", [&](const std::string &) { EXPECT_EQ(fs::file_size(out + "/a.wav"), 44u); }},
      {"a damaged settings file is named once and left", [&] { WriteText(Conf, "[General\nDestinationFormat=FLAC\n"); },
       {"/input", In + "/a.wav", "/output", out}, {}, 0, "\"" + Conf + "\"", out + "/a.wav",
       [&](const std::string &err) {
         EXPECT_EQ(err.find(Conf, err.find(Conf) + Conf.size()), std::string::npos) << err;
         EXPECT_FALSE(fs::exists(Conf + ".bad"));
       }},
      {"input in a locked folder", {}, {"/input", locked + "/a.wav", "/output", out}, {}, 1,
       "cannot read \"" + locked + "/a.wav\": Permission denied", "", {}, true},
      {"output in a locked folder", {}, {"/input", In + "/a.wav", "/output", locked + "/out"}, {}, 1,
       "cannot create the output folder \"" + locked + "/out/\": Permission denied", "", {}, true},
      {"an unreadable sub-folder", {}, {"/input", tree, "/output", out}, {}, 1,
       "cannot read the folder \"" + locked + "/\": Permission denied", out + "/a.wav", {}, true},
      {"an unreadable pattern folder", {}, {"/input", locked + "/*.wav", "/output", out}, {}, 1,
       "cannot read the folder \"" + locked + "/\": Permission denied", "", {}, true},
      {"a stored high priority the user may not take", stored("DestinationFormat=WAV\nProgPriority=2\n"),
       {"/input", In + "/a.wav", "/output", out}, {}, 0, text_priority_refused, out + "/a.wav", {}, true},
      {"relative output, current folder deleted", [&] { fs::create_directory(gone); },
       {"/input", In + "/a.wav", "/output", "out"}, {.Cwd = gone, .RemoveCwd = true}, 1, goneSays + ": \"out/\" cannot be found", ""},
      {"relative input, current folder deleted", [&] { fs::create_directory(gone); },
       {"/input", "a.wav", "/output", out}, {.Cwd = gone, .RemoveCwd = true}, 1, goneSays + ": \"a.wav\" cannot be found", ""},
      {"full paths, current folder deleted", [&] { fs::create_directory(gone); },
       {"/input", In + "/a.wav", "/output", out, "/createfullpath"}, {.Cwd = gone, .RemoveCwd = true}, 0, "", out + In + "/a.wav"},
      {"relative paths from the working folder", {}, {"/input", "in/a.wav", "/output", "rel"}, {.Cwd = Folder}, 0,
       "1 file converted into " + Folder + "/rel/", Folder + "/rel/a.wav"},
      {"quoted ~ for the input and the output", stored(advanced), {"/input", "~/../in/a.wav", "/output", "~/out"},
       {.Env = {"HOME=" + home}}, 0,
       "1 file converted into " + home + "/out/", home + "/out/a.wav"},
      {"/p over the stored advanced mode", stored(advanced), {"/DEBUG", "/input", In + "/a.wav", "/output", out, "/p", "1"},
       {}, 0, "converting 1 at once", ""},
      {"the stored advanced mode without /p", stored(advanced), {"/DEBUG", "/input", In + "/a.wav", "/output", out}, {}, 0,
       "converting 3 at once", ""},
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
      {"verify hybrid WavPack", stored("WVHybrid=YES\n"), {"/input", In + "/a.wav", "/output", out, "/dest", "wavpack", "/verify"},
       {}, 0, "verified 0 lossless outputs ", ""},
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
  }, out);
  EXPECT_EQ(ReadFileBytes(Folder + "/file"), (std::vector<uint8_t>{1, 2, 3}));
}

// A failed run says first, in the chosen language, which file could not be
// read or written and why, then the technical lines under a heading; a
// read-only destination is refused before converting, leaving nothing there.
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

// A signal other than Ctrl-C, SIGTERM and SIGHUP (a closed terminal) leaves
// the cancel alone; each of those three cancels, leaving nothing behind.
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

// One long file with two workers: the idle one encodes spans of it too (the
// program runs more threads), unless "/nospread" or the stored option says
// no; the file is the same byte for byte either way.
TEST_F(BatchMode, OneLongFileIsSpreadUnlessTurnedOff) {
  const TTestSignal music{.Seconds = 15};  // two and a half spans
  WriteMusic(In + "/long.wav", music);
  const std::vector<uint8_t> source = MakeMusic(music);
  const struct {
    const char *Name, *Stored, *Switch;
  } rows[] = {
      {"spread", "", "/q"}, {"the switch", "", "/nospread"}, {"the stored option", "SpreadOverCores=NO\n", "/q"}};
  std::vector<uint8_t> spread;
  int spreadThreads = 0;
  for (const auto &row : rows) {
    SCOPED_TRACE(row.Name);
    WriteText(Conf, std::string("[General]\nLanguage=EN\n") + row.Stored);
    const std::string out = Folder + "/out", output = out + "/long.ape";
    fs::remove_all(out);
    const TSourceGuard guard({In});
    TTonmill run({"/input", In + "/long.wav", "/output", out, "/dest", "ape", "/p", "2", row.Switch});
    const int threads = PeakThreads(run.Pid);
    EXPECT_EQ(run.Wait(), 0) << run.Err();
    EXPECT_TRUE(FFmpegDecode(output, "s16le") == source);
    if (spread.empty()) {
      spreadThreads = threads;
      spread = ReadFileBytes(output);
    } else {
      EXPECT_LT(threads, spreadThreads);
      EXPECT_TRUE(ReadFileBytes(output) == spread);
    }
  }
}

// A long MP3 output too: spread by the idle worker, it differs from one
// worker's but has its length; "/nospread" gives one worker's file.
TEST_F(BatchMode, OneLongMp3IsSpreadUnlessTurnedOff) {
  const TTestSignal music{.Seconds = 15};
  WriteMusic(In + "/long.wav", music);
  WriteText(Conf, "[General]\nLanguage=EN\n");
  std::vector<uint8_t> outputs[3];
  const std::vector<std::string> runs[3] = {{"/p", "1"}, {"/p", "2", "/nospread"}, {"/p", "2"}};
  for (int i = 0; i < 3; ++i) {
    const std::string out = Folder + "/out" + std::to_string(i);
    std::vector<std::string> args = {"/input", In + "/long.wav", "/output", out, "/dest", "mp3", "/q"};
    args.insert(args.end(), runs[i].begin(), runs[i].end());
    std::string err;
    ASSERT_EQ(Tonmill(args, &err), 0) << err;
    outputs[i] = ReadFileBytes(out + "/long.mp3");
    EXPECT_EQ(FFmpegDecode(out + "/long.mp3", "s16le").size(), size_t(FrameCount(music)) * 4);
  }
  EXPECT_TRUE(outputs[1] == outputs[0]);
  EXPECT_FALSE(outputs[2] == outputs[0]);
}

}  // namespace
