// SPDX-License-Identifier: GPL-3.0-or-later
// The program converting without a window: exit status, what it says, awkward paths, users and signals,
// the files copied beside the outputs, outputs named from hostile tags, a mirror of a library.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "base/texts.h"
#include "engine/mirror.h"
#include "engine/name_pattern.h"
#include "engine/partial_output.h"
#include "test_support.h"

namespace {

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
  const std::string home = Folder + "/home", pattern = Folder + "/pattern", library = Folder + "/library";
  fs::create_directories(home + "/Music/Album");
  fs::create_directories(pattern);
  WriteSignal(In + "/a.wav", TTestSignal{});
  WriteFileBytes(Folder + "/file", {1, 2, 3});
  for (const std::string &to : {locked + "/a.wav", tree + "/a.wav", library + "/sub/a.wav", Folder + "/sheet/i.wav"}) {
    fs::create_directories(fs::path(to).parent_path());
    fs::copy_file(In + "/a.wav", to);
  }
  fs::permissions(locked, fs::perms::owner_all);
  // A track that ends before it starts.
  const std::string sheet = WriteText(Folder + "/sheet/album.cue", "FILE \"i.wav\" WAVE\n  TRACK 01 AUDIO\n"
                                      "    INDEX 01 00:00:30\n  TRACK 02 AUDIO\n    INDEX 01 00:00:10\n");
  WriteSignal(Folder + "/v.flac", {.Bits = 24}, {"-c:a", "flac"});
  for (uint32_t i = 0; i < 3; ++i) WriteSignal(fmt::format("{}/t{}.flac", pattern, i), {.Seed = i}, {"-c:a", "flac"});
  WriteSignal(pattern + "/other.wav", {});
  const auto stored = [&](const std::string &text) { return [=, this] { WriteText(Conf, "[General]\n" + text); }; };
  const TTestSignal music{.Seconds = 15};
  RunRows({
      {"no file matches", {}, {"/input", In + "/*.flac", "/output", out}, {}, 1, "no supported audio file", ""},
      {"a mirror into a folder it may not write",
       [&] {
         fs::create_directory(out + "/sub");
         fs::permissions(out + "/sub", fs::perms(0755));
       },
       {"/input", library, "/output", out, "/mirror"}, {}, 1, "sub/a.wav\". Permission denied", "", {}, true},
      {"the output is a file", {}, {"/input", In + "/a.wav", "/output", Folder + "/file"}, {}, 1,
       "the output \"" + Folder + "/file\" is a file, not a folder", ""},
      // Switches and keys are read without regard to case.
      {"FLAC level out of range", {}, {"/INPUT", In + "/a.wav", "/output", out, "/dest", "FLAC", "/COMPRESSION", "11"},
       {}, 1, "level from 0 to 8", ""},
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
      // The window's program: a language file that cannot be read at start ends it, saying why.
      {"no language file", {}, {}, {.Env = {"TONMILL_LANG_DIR=" + gone, "QT_QPA_PLATFORM=offscreen"}}, 1,
       "Cannot open the language file \"" + gone + "/french.lng\"", ""},
      {"a malformed sheet", {}, {"/input", In + "/a.wav", sheet, "/output", out, "/dest", "flac"}, {}, 1,
       "converted 0 of", "", [&](const std::string &err) {
         EXPECT_NE(err.find(sheet), std::string::npos) << err;
         EXPECT_TRUE(fs::is_empty(out));
       }},
      {"verify stored, resampled and mixed down",
       stored("Preprocess=YES\nPPResample=YES\nPPResampleTo=48000\nPPChannels=1\nPPSplitBySilence=NO\nVerify=YES\n"),
       {"/input", Folder + "/v.flac", "/output", out, "/dest", "flac"}, {}, 0, "verified 1 lossless output ", "",
       [&](const std::string &) { EXPECT_EQ(ProbeStream(out + "/v.flac", "sample_rate,channels"), "48000,1\n"); }},
      {"a pattern converts what it matches", {}, {"/input", pattern + "/*.flac", "/output", out, "/p", "2"}, {}, 0,
       "3 files converted", "", [&](const std::string &) {
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
      // A long MP3 spread by the idle worker differs from one worker's but has its length; "/nospread" gives that one.
      {"one worker's MP3", [&] { WriteMusic(In + "/long.wav", music); },
       {"/input", In + "/long.wav", "/output", out, "/dest", "mp3", "/q", "/p", "1"}, {}, 0, "", "", [&](auto &) {
         fs::copy_file(out + "/long.mp3", Folder + "/one.mp3");
       }},
      {"/nospread", {}, {"/input", In + "/long.wav", "/output", out, "/dest", "mp3", "/q", "/p", "2", "/nospread"}, {},
       0, "", "", [&](auto &) { EXPECT_TRUE(ReadFileBytes(out + "/long.mp3") == ReadFileBytes(Folder + "/one.mp3")); }},
      {"one MP3 spread", {}, {"/input", In + "/long.wav", "/output", out, "/dest", "mp3", "/q", "/p", "2"}, {}, 0, "",
       "", [&](auto &) {
         EXPECT_FALSE(ReadFileBytes(out + "/long.mp3") == ReadFileBytes(Folder + "/one.mp3"));
         EXPECT_EQ(FFmpegDecode(out + "/long.mp3", "s16le").size(), size_t(FrameCount(music)) * 4);
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


// Every regular file below `folder`, hidden ones included, as paths relative to it, sorted.
std::vector<std::string> Tree(const std::string &folder) {
  std::vector<std::string> files;
  std::error_code ec;
  for (fs::recursive_directory_iterator f(folder, ec); !ec && f != fs::recursive_directory_iterator(); f.increment(ec))
    if (f->is_regular_file()) files.push_back(fs::relative(f->path(), folder).string());
  std::sort(files.begin(), files.end());
  return files;
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
         EXPECT_EQ(Tree(out + "/Album"), (TNames{"a.wav", "booklet.pdf", "cover.jpg", "folder.PNG", "rip.log"}));
         copied(album, out + "/Album", {"booklet.pdf", "cover.jpg", "folder.PNG", "rip.log"});
         EXPECT_EQ(Tree(out + "/Other"), (TNames{"b.wav", "scan.png"}));
       }},
      {"the stored option and patterns", [&] { WriteText(Conf, "[General]\nCopyFiles=YES\nCopyPatterns=*.txt\n"); },
       full, home, 0, "copied 4 files", "", [&](const std::string &) {
         EXPECT_EQ(Tree(out + "/Album"), (TNames{"a.wav", "cover.jpg", "folder.PNG", "notes.txt"}));
       }},
      {"never the sources, nor over the outputs", {}, with(full, {"/copyfiles", "*", "/dest", "flac"}), home, 0, "", "",
       [&](const std::string &) {
         EXPECT_EQ(Tree(out + "/Album"), (TNames{"a.flac", "back.jpg", "booklet.pdf", "cover.jpg", "folder.PNG",
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
         EXPECT_EQ(Tree(out), (TNames{"a.wav", "b.wav"}));
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

// Outputs named from their tags: hostile tags (written by ffmpeg) land on
// safe paths below the output folder, empty fields on fixed words, two
// sources of one name are numbered, a sheet's tracks take the sheet's tags;
// every output decodes to its source. An unknown field starts nothing.
TEST_F(BatchMode, NamesFromTags) {
  const std::string out = Folder + "/out";
  std::string accents;  // 300 bytes
  for (int i = 0; i < 150; ++i) accents += "é";
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
        // Through a short name: the decoder's file beside a 254-byte name would be too long.
        fs::copy_file(out + "/" + file, Folder + "/decoded.flac", fs::copy_options::overwrite_existing);
        const std::vector<uint8_t> samples = FFmpegDecode(Folder + "/decoded.flac", "s16le");
        EXPECT_TRUE(tracks || samples == MakeSamples(TTestSignal{})) << file;
        joined.insert(joined.end(), samples.begin(), samples.end());
      }
      EXPECT_TRUE(!tracks || joined == MakeSamples(TTestSignal{}));
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

// What a folder holds, by path below it: the samples of each audio file (as
// ffmpeg decodes them) or the bytes of any other, as their count and a hash;
// the mirror's list left out. With `as`, what a fresh conversion of it holds:
// the same samples in files of that extension.
std::map<std::string, std::string> Holds(const std::string &root, const char *as = nullptr) {
  std::map<std::string, std::string> files;
  std::vector<std::string> paths;
  for (const auto &e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file() && e.path().filename() != MirrorManifestName) paths.push_back(e.path().string());
  for (const std::string &path : paths) {
    const std::string ext = fs::path(path).extension().string();
    const bool audio = ext == ".flac" || ext == ".wav" || ext == ".wv";
    std::vector<uint8_t> bytes;
    try {
      bytes = audio ? FFmpegDecode(path, "s16le") : ReadFileBytes(path);
    } catch (const std::exception &) {
      fs::remove(path + ".decoded.raw");
      bytes = ReadFileBytes(path);  // not audio after all
    }
    fs::path rel = path.substr(root.size() + 1);
    if (as) rel.replace_extension(as);
    files[rel.string()] =
        fmt::format("{} {:x}", bytes.size(), std::hash<std::string>()(std::string(bytes.begin(), bytes.end())));
  }
  return files;
}

// Every file below root with its size and time: what a dry run must leave as it is.
std::map<std::string, std::pair<uintmax_t, fs::file_time_type>> Stamps(const std::string &root) {
  std::map<std::string, std::pair<uintmax_t, fs::file_time_type>> stamps;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec))
    stamps[it->path().string()] = {it->is_regular_file() ? it->file_size() : 0, it->last_write_time()};
  return stamps;
}

// A library of 30 sources in nested folders (WAV, FLAC, WavPack) mirrored into
// FLAC; then sources are added, changed, renamed and deleted, a file is put
// into the mirror by hand and an output is replaced by the user. The dry run
// lists exactly what the mirror then does and touches nothing; the mirror
// then holds what a fresh conversion would, the user's files survive, and a
// mirror killed at any point and run again ends the same.
TEST_F(BatchMode, MirrorFollowsTheLibraryAndRemovesOnlyItsOwn) {
  WriteText(Conf, "[General]\nLanguage=EN\n");
  const std::string lib = Folder + "/lib", dest = Folder + "/mirror";
  const char *kinds[] = {".wav", ".flac", ".wv"};
  auto source = [&](const std::string &rel, uint32_t seed) {
    fs::create_directories(fs::path(lib + "/" + rel).parent_path());
    return WriteSignal(lib + "/" + rel, TTestSignal{.Channels = 1 + int(seed % 2), .Seconds = 0.2, .Seed = seed});
  };
  for (int i = 0; i < 30; ++i)
    source(fmt::format("Artist {}/Album {}/{:02d}{}", i / 10, i / 5 % 2, i, kinds[i % 3]), uint32_t(i + 1));
  auto mirror = [&](const std::string &from, const std::string &into, const std::vector<std::string> &more = {}) {
    std::vector<std::string> args = {"/input", from, "/output", into, "/dest", "flac", "/mirror", "/p", "2"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  };
  std::string err, out;
  ASSERT_EQ(Tonmill(mirror(lib, dest), &err), 0) << err;
  EXPECT_EQ(Holds(dest), Holds(lib, ".flac"));
  const std::string before = Folder + "/before";  // the mirror as it was, for the killed runs
  ASSERT_EQ(RunTool({"cp", "-a", dest, before}), 0);

  // The changes, and what the dry run must list for them.
  std::set<std::string> listed;
  auto convert = [&](const std::string &rel) {
    listed.insert("convert " + lib + "/" + rel + " -> " + dest + "/" + fs::path(rel).replace_extension(".flac").string());
  };
  auto remove = [&](const std::string &rel) { listed.insert("remove " + dest + "/" + rel); };
  // Added (in a new folder; with the list's separator and escape in a name), then changed, so newer.
  const std::pair<const char *, uint32_t> changes[] = {
      {"Artist 3/New/01.wav", 101}, {"Artist 3/New/02\ttab \\ back.wav", 103}, {"Artist 0/Album 0/05.flac", 102},
      {"Artist 1/Album 0/10.flac", 203}, {"Artist 2/Album 1/28.flac", 204}};
  for (const auto &[rel, seed] : changes) {
    source(rel, seed);
    convert(rel);
  }
  fs::rename(lib + "/Artist 0/Album 1/06.wav", lib + "/Artist 0/Album 1/06 renamed.wav");
  remove("Artist 0/Album 1/06.flac");
  convert("Artist 0/Album 1/06 renamed.wav");
  fs::rename(lib + "/Artist 2/Album 0", lib + "/Artist 2/Album 0 (2020)");  // a renamed folder: 5 outputs move
  for (int i = 20; i < 25; ++i) {
    remove(fmt::format("Artist 2/Album 0/{:02d}.flac", i));
    convert(fmt::format("Artist 2/Album 0 (2020)/{:02d}{}", i, kinds[i % 3]));
  }
  for (const char *rel : {"Artist 1/Album 1/15.wav", "Artist 1/Album 1/16.flac"}) {  // deleted
    fs::remove(lib + "/" + rel);
    remove(fs::path(rel).replace_extension(".flac").string());
  }
  // The user's: a file of their own, and an output they replaced whose source is then deleted.
  WriteText(dest + "/Artist 0/Album 0/notes.txt", "mine");
  WriteText(dest + "/Artist 1/Album 1/17.flac", "my own 17");
  fs::remove(lib + "/Artist 1/Album 1/17.wv");
  std::map<std::string, std::string> expected = Holds(lib, ".flac");
  expected["Artist 0/Album 0/notes.txt"] = Holds(dest)["Artist 0/Album 0/notes.txt"];
  expected["Artist 1/Album 1/17.flac"] = Holds(dest)["Artist 1/Album 1/17.flac"];

  const auto stamps = Stamps(dest);
  ASSERT_EQ(Tonmill(mirror(lib, dest, {"/dryrun"}), &err, {}, &out), 0) << err;
  std::set<std::string> lines;
  std::istringstream said(out);
  for (std::string line; std::getline(said, line);) lines.insert(line);
  EXPECT_EQ(lines, listed);
  EXPECT_EQ(Stamps(dest), stamps) << "a dry run changes nothing";
  EXPECT_FALSE(fs::exists(dest + "/Artist 3")) << "a dry run makes no folder";

  ASSERT_EQ(Tonmill(mirror(lib, dest), &err), 0) << err;
  EXPECT_EQ(Holds(dest), expected);
  EXPECT_NE(err.find("Artist 1/Album 1/17.flac: left in place"), std::string::npos) << err;
  EXPECT_FALSE(fs::exists(dest + "/Artist 2/Album 0")) << "the folder its outputs left empty";
  EXPECT_TRUE(fs::exists(dest + "/Artist 1/Album 1")) << "the folder that still holds the user's file";
  ASSERT_EQ(Tonmill(mirror(lib, dest, {"/dryrun"}), &err, {}, &out), 0) << err;
  EXPECT_EQ(out, "") << "nothing left to do";
  EXPECT_EQ(ReadMirrorManifest(dest + "/").Entries.size(), expected.size() - 2);

  // Killed after a number of new outputs (from a mirror of the library as it
  // was, so with removals, or from nothing), then a source whose output was
  // written is deleted, and the mirror runs again: the end is the same.
  expected.erase("Artist 0/Album 0/notes.txt");
  expected.erase("Artist 1/Album 1/17.flac");
  const std::pair<bool, size_t> kills[] = {{true, 0}, {true, 3}, {false, 1}, {false, 15}};
  for (const auto &[fromBefore, after] : kills) {
    SCOPED_TRACE(std::to_string(fromBefore) + " " + std::to_string(after));
    const std::string copy = Folder + "/copy", into = Folder + "/killed";
    fs::remove_all(copy);
    fs::remove_all(into);
    ASSERT_EQ(RunTool({"cp", "-a", lib, copy}), 0);
    ASSERT_TRUE(!fromBefore || RunTool({"cp", "-a", before, into}) == 0);
    const fs::file_time_type started = fs::file_time_type::clock::now() - std::chrono::milliseconds(20);
    const auto written = [&] {  // outputs of this run so far
      size_t n = 0;
      std::error_code ec;
      for (fs::recursive_directory_iterator it(into, ec), end; !ec && it != end; it.increment(ec))
        n += it->path().extension() == ".flac" && fs::last_write_time(it->path(), ec) > started;
      return n;
    };
    TTonmill run(mirror(copy, into, {"/p", "1"}));
    for (siginfo_t info{}; written() < after && waitid(P_PID, run.Pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                           info.si_pid == 0;) {
    }
    kill(run.Pid, SIGKILL);
    run.Wait();
    // A written output whose source goes before the next run: gone with it.
    std::map<std::string, std::string> end = expected;
    for (const auto &[rel, samples] : end)
      if (fs::exists(into + "/" + rel) && fs::path(rel).stem().string().size() == 2) {
        const std::string gone = (fs::path(copy + "/" + rel).replace_extension("")).string();
        for (const char *kind : kinds) fs::remove(gone + kind);
        end.erase(rel);
        break;
      }
    ASSERT_EQ(Tonmill(mirror(copy, into), &err), 0) << err;
    EXPECT_EQ(Holds(into), end);
    const TMirrorManifest manifest = ReadMirrorManifest(into + "/");
    EXPECT_FALSE(manifest.Damaged);
    EXPECT_EQ(manifest.Entries.size(), end.size());
  }

  // A list cut short removes nothing; the next one is whole again.
  const std::string list = dest + "/" + MirrorManifestName, text = ReadText(list);
  WriteText(list, text.substr(0, text.size() / 2));
  fs::remove(lib + "/Artist 0/Album 0/01.flac");
  ASSERT_EQ(Tonmill(mirror(lib, dest), &err), 0) << err;
  EXPECT_NE(err.find("cannot be read; nothing is removed"), std::string::npos) << err;
  EXPECT_TRUE(fs::exists(dest + "/Artist 0/Album 0/01.flac"));
  EXPECT_FALSE(ReadMirrorManifest(dest + "/").Damaged);

  // A folder of the mirror replaced by a link to a copy elsewhere: nothing
  // there is removed, however alike.
  const std::string elsewhere = Folder + "/elsewhere";
  ASSERT_EQ(RunTool({"cp", "-a", dest + "/Artist 0/Album 1", elsewhere}), 0);
  fs::remove_all(dest + "/Artist 0/Album 1");
  fs::create_directory_symlink(elsewhere, dest + "/Artist 0/Album 1");
  fs::remove(lib + "/Artist 0/Album 1/07.flac");
  ASSERT_EQ(Tonmill(mirror(lib, dest), &err), 0) << err;
  EXPECT_TRUE(fs::exists(elsewhere + "/07.flac")) << err;
}

}  // namespace
