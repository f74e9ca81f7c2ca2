// SPDX-License-Identifier: GPL-3.0-or-later
// The program itself, converting without a window: exit status, messages on
// standard error, awkward paths and users, stray signals, spreading one file
// over the workers, /verify, outputs named from hostile tags, and settings
// left as they were.
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
#include "engine/name_pattern.h"
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

// "/copyfiles": a folder's covers and the files matching the patterns land
// beside its outputs, byte for byte and with their times; never over a newer
// file, never twice, never the sources, and never into one folder from two.
TEST_F(BatchMode, FilesBesideTheMusicAreCopiedOnce) {
  const std::string album = In + "/Album", other = In + "/Other", out = Folder + "/out";
  fs::create_directories(album + "/sub");
  fs::create_directories(other);
  WriteSignal(album + "/a.wav", {});
  WriteSignal(other + "/b.wav", {});
  const auto then = fs::file_time_type::clock::now() - std::chrono::hours(24 * 400);
  for (const char *name : {"cover.jpg", "folder.PNG", "back.jpg", "booklet.pdf", "rip.log", "notes.txt", "sub/cover.jpg"}) {
    WriteText(album + "/" + name, std::string("beside ") + name);
    fs::last_write_time(album + "/" + name, then + std::chrono::nanoseconds(123456789));
  }
  WriteText(other + "/scan.png", "the only picture");
  fs::permissions(album + "/rip.log", fs::perms::owner_read | fs::perms::owner_write);  // private
  // Every file under `folder`, hidden ones included, as "name" or "sub/name".
  const auto listing = [](const std::string &folder) {
    std::vector<std::string> names;
    for (const auto &e : fs::recursive_directory_iterator(folder))
      if (!e.is_directory()) names.push_back(fs::relative(e.path(), folder).string());
    std::sort(names.begin(), names.end());
    return names;
  };
  using TNames = std::vector<std::string>;
  // `names` are in `folder`, the same bytes with the same time and permissions as in `from`.
  const auto copied = [](const std::string &from, const std::string &folder, const TNames &names) {
    for (const std::string &name : names) {
      EXPECT_EQ(ReadText(folder + "/" + name), ReadText(from + "/" + name)) << name;
      EXPECT_EQ(fs::last_write_time(folder + "/" + name), fs::last_write_time(from + "/" + name)) << name;
      EXPECT_EQ(fs::status(folder + "/" + name).permissions(), fs::status(from + "/" + name).permissions()) << name;
    }
  };
  const TRunHow home{.Env = {"HOME=" + In}};  // full paths start below In
  const std::vector<std::string> full = {"/input", In, "/output", out, "/createfullpath"};
  const auto with = [&](std::vector<std::string> args, const std::vector<std::string> &more) {
    args.insert(args.end(), more.begin(), more.end());
    return args;
  };
  const auto mine = [&] { WriteText(out + "/Album/cover.jpg", "mine"); };
  RunRows({
      {"covers and the patterns, full paths", {}, with(full, {"/copyfiles", "*.LOG *.pdf"}), home, 0,
       "copied 5 files beside the outputs (0 there already", out + "/Album/a.wav", [&](const std::string &) {
         EXPECT_EQ(listing(out + "/Album"), (TNames{"a.wav", "booklet.pdf", "cover.jpg", "folder.PNG", "rip.log"}));
         copied(album, out + "/Album", {"booklet.pdf", "cover.jpg", "folder.PNG", "rip.log"});
         EXPECT_EQ(listing(out + "/Other"), (TNames{"b.wav", "scan.png"}));
       }},
      {"the stored option and patterns", [&] { WriteText(Conf, "[General]\nCopyFiles=YES\nCopyPatterns=*.txt\n"); },
       full, home, 0, "copied 4 files", "", [&](const std::string &) {
         EXPECT_EQ(listing(out + "/Album"), (TNames{"a.wav", "cover.jpg", "folder.PNG", "notes.txt"}));
       }},
      {"never the sources, nor over the outputs", {}, with(full, {"/copyfiles", "*", "/dest", "flac"}), home, 0, "", "",
       [&](const std::string &) {
         EXPECT_EQ(listing(out + "/Album"), (TNames{"a.flac", "back.jpg", "booklet.pdf", "cover.jpg", "folder.PNG",
                                                    "notes.txt", "rip.log"}));
       }},
      {"a newer file is left, an older one replaced",
       [&] {
         fs::create_directories(out + "/Album");
         mine();
         WriteText(out + "/Album/rip.log", "older");
         fs::last_write_time(out + "/Album/rip.log", then);
       },
       with(full, {"/copyfiles", "*.log"}), home, 0, "copied 3 files beside the outputs (1 there already", "",
       [&](const std::string &) {
         EXPECT_EQ(ReadText(out + "/Album/cover.jpg"), "mine");
         copied(album, out + "/Album", {"rip.log", "folder.PNG"});
       }},
      {"a second run copies nothing", {}, with(full, {"/copyfiles", "*.log"}), home, 0, "copied 4 files", "",
       [&](const std::string &) {
         const auto before = fs::last_write_time(out + "/Album");
         std::string err;
         EXPECT_EQ(Tonmill(with(full, {"/copyfiles", "*.log", "/dest", "wav", "/skipexisting"}), &err, home), 0);
         EXPECT_NE(err.find("copied 0 files beside the outputs (4 there already"), std::string::npos) << err;
         EXPECT_EQ(fs::last_write_time(out + "/Album"), before);  // nothing made, renamed or removed there
       }},
      {"one flat folder for two source folders gets none", {}, {"/input", In, "/output", out, "/copyfiles"}, {}, 0,
       "warning: " + out + ": ", "", [&](const std::string &) {
         EXPECT_EQ(listing(out), (TNames{"a.wav", "b.wav"}));
       }},
      {"a flat folder for one source folder", {}, {"/input", album, "/output", out, "/copyfiles", ""}, {}, 0,
       "copied 2 files", out + "/a.wav"},
      {"a file that cannot be copied is named", [&] { fs::create_directories(out + "/Album/cover.jpg"); },
       with(full, {"/copyfiles"}), home, 0, "warning: " + album + "/cover.jpg: ", "", [&](const std::string &) {
         copied(album, out + "/Album", {"folder.PNG"});
       }},
      {"a failed run copies nothing", [&] { WriteFileBytes(other + "/bad.flac", {'n', 'o'}); },
       with(full, {"/copyfiles"}), home, 1, "failed 1", "", [&](const std::string &) {
         fs::remove(other + "/bad.flac");
         EXPECT_FALSE(fs::exists(out + "/Album/cover.jpg"));
       }},
      // Kept going, the folders of what converted get their files all the same.
      {"a run that kept going", [&] { WriteFileBytes(other + "/bad.flac", {'n', 'o'}); },
       with(full, {"/copyfiles", "/keepgoing"}), home, 1, "failed 1", "", [&](const std::string &) {
         fs::remove(other + "/bad.flac");
         copied(album, out + "/Album", {"cover.jpg", "folder.PNG"});
       }},
      {"a folder in the patterns", {}, with(full, {"/copyfiles", "sub/*"}), home, 1, "/copyfiles: \"sub/*\" names a folder", ""},
  }, out);
}

// Every regular file below `folder`, as paths relative to it, sorted.
std::vector<std::string> Tree(const std::string &folder) {
  std::vector<std::string> files;
  std::error_code ec;
  for (fs::recursive_directory_iterator f(folder, ec); !ec && f != fs::recursive_directory_iterator(); f.increment(ec))
    if (f->is_regular_file()) files.push_back(fs::relative(f->path(), folder).string());
  std::sort(files.begin(), files.end());
  return files;
}

// Outputs named from their tags: hostile tags (written by ffmpeg) land on
// safe paths below the output folder, empty fields on fixed words, two
// sources of one name are numbered, a sheet's tracks take the sheet's tags;
// every output decodes to its source. An unknown field starts nothing.
TEST_F(BatchMode, NamesFromTags) {
  const std::string out = Folder + "/out";
  const std::string accents = [] {
    std::string t;
    for (int i = 0; i < 150; ++i) t += "é";  // 300 bytes
    return t;
  }();
  // A FLAC source of the test signal in a fresh input folder, with these tags.
  const auto source = [&](const std::string &name, const std::vector<std::string> &tags) {
    std::vector<std::string> args;
    for (const std::string &tag : tags) args.insert(args.end(), {"-metadata", tag});
    return WriteSignal(In + "/" + name, TTestSignal{}, args);
  };
  const auto fresh = [&] {
    fs::remove_all(In);
    fs::create_directories(In + "/Rips");
  };
  const auto one = [&](const std::vector<std::string> &tags) {
    return [=] {
      fresh();
      source("Rips/src.flac", tags);
    };
  };
  // The tree the run made, each file decoding to the signal (a sheet's tracks: to it joined).
  const auto made = [&](const std::vector<std::string> &expected, bool tracks = false) {
    return [=, this](const std::string &) {
      EXPECT_EQ(Tree(out), expected);
      std::vector<uint8_t> joined;
      for (const std::string &file : Tree(out)) {
        // Through a short link: the decoder's file beside a 254-byte name would be too long.
        const std::string link = Folder + "/decoded.flac";
        fs::remove(link);
        fs::create_symlink(out + "/" + file, link);
        const std::vector<uint8_t> samples = FFmpegDecode(link, "s16le");
        if (!tracks) {
          EXPECT_TRUE(samples == MakeSamples(TTestSignal{})) << file;
        }
        joined.insert(joined.end(), samples.begin(), samples.end());
      }
      if (tracks) {
        EXPECT_TRUE(joined == MakeSamples(TTestSignal{}));
      }
    };
  };
  const std::string standard = kDefaultNamePattern;
  const auto run = [&](const std::string &pattern) {
    return std::vector<std::string>{"/input", In, "/output", out, "/dest", "flac", "/names", pattern};
  };
  RunRows({
      {"unsafe characters", one({"artist=AC/DC", "album=Back: in *Black*?", "title=Hells \"Bells\" <a|b>\\", "track=1/10"}),
       run(standard), {}, 0, "", "", made({"AC_DC/Back_ in _Black__/01 - Hells _Bells_ _a_b__.flac"})},
      {"dots and a way up", one({"artist=..", "album=../../etc", "title=...."}), run(standard), {}, 0, "", "",
       made({"Unknown artist/_.._etc/00 - src.flac"})},
      {"control characters, empty album", one({"artist=a\tb\x01" "c", "title=line\nbreak", "track=7"}), run(standard),
       {}, 0, "", "", made({"a_b_c/Unknown album/07 - line_break.flac"})},
      {"300-byte title and album", one({"artist=Ærøskøbing", "album=" + std::string(300, 'a'), "title=" + accents}),
       run(standard), {}, 0, "", "",
       made({"Ærøskøbing/" + FitFileName(std::string(300, 'a'), "", 255) + "/" +
             FitFileName("00 - " + accents, ".flac", kOutputNameMax)})},
      {"no tags at all", one({}), run(standard), {}, 0, "", "", made({"Unknown artist/Unknown album/00 - src.flac"})},
      {"device names, trailing dots and spaces", one({"artist=CON", "album=Best of. ", "title= Mr. Brown."}),
       run(standard), {}, 0, "", "", made({"CON_/Best of/00 - Mr. Brown.flac"})},
      {"every field", one({"artist=Solo", "album_artist=Various", "album=Mix", "date=2019-05-01", "disc=2/3", "track=3",
                           "title=Song", "genre=Jazz"}),
       run("<ALBUMARTIST>/<year> - <album>/<disc>-<track> <artist> - <title> [<genre>] (<name>, <folder>)"), {}, 0,
       "", "", made({"Various/2019 - Mix/2-03 Solo - Song [Jazz] (src, Rips).flac"})},
      {"the pattern's own way up", one({"artist=A", "title=T"}), run("../<artist>/./../<title>"), {}, 0, "", "",
       made({"A/T.flac"})},
      {"two sources on one name",
       [&] {
         fresh();
         for (const char *name : {"x.flac", "Rips/y.flac"}) source(name, {"artist=A", "album=B", "title=T", "track=1"});
       },
       run(standard), {}, 0, "", "", made({"A/B/01 - T.flac", "A/B/01 - T_001.flac"})},
      {"a sheet's tracks",
       [&] {
         fresh();
         source("image.flac", {"artist=Other", "date=2001"});
         WriteText(In + "/image.cue", "PERFORMER \"Band\"\nTITLE \"Live\"\nFILE \"image.flac\" WAVE\n"
                                      "  TRACK 01 AUDIO\n    TITLE \"Intro\"\n    INDEX 01 00:00:00\n"
                                      "  TRACK 02 AUDIO\n    TITLE \"..\"\n    INDEX 01 00:00:30\n");
       },
       {"/input", In + "/image.cue", "/output", out, "/dest", "flac", "/names", "<artist>/<album> (<year>)/<track> - <title>"},
       {}, 0, "", "", made({"Band/Live (2001)/01 - Intro.flac", "Band/Live (2001)/02 - image.flac"}, true)},
      {"the stored pattern",
       [&] {
         one({"genre=Pop", "title=T"})();
         WriteText(Conf, "[General]\nUseNamePattern=YES\nNamePattern=<genre>/<title>\n");
       },
       {"/input", In, "/output", out, "/dest", "flac"}, {}, 0, "", "", made({"Pop/T.flac"})},
      {"an unknown field", one({"title=T"}), run("<artist>/<titel>"), {}, 1, "unknown field <titel>", "",
       made({})},
      {"nothing to name by", one({"title=T"}), run("/./"), {}, 1, "names nothing", "", made({})},
  }, out);
}

}  // namespace
