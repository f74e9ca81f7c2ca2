// SPDX-License-Identifier: GPL-3.0-or-later
// The program itself, converting without a window: exit status, messages on
// standard error, cancel by signal, and settings left as they were.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include <fmt/printf.h>

#include "app/command_line.h"
#include "base/texts.h"
#include "engine/partial_output.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

// How a run is started when the surroundings are awkward.
struct TStart {
  std::string Cwd = {};      // working folder ("" keeps the test's)
  bool RemoveCwd = false;    // the working folder is deleted before the program starts
  bool Nobody = false;       // runs as the other user, from its copy of the program
  bool ClosedErr = false;    // standard error is a pipe whose reader has gone
  bool IgnoreUsr1 = false;   // SIGUSR1 is ignored, as a parent may leave it
  bool Guarded = false;      // killed after five minutes, should it hang
  int FileSizeLimit = 0;     // "ulimit -f": no file may grow past this many KiB
};

// Starts the program; its standard error goes to errFile unless ClosedErr.
int Start(std::vector<std::string> args, const TStart &how, const std::string &errFile,
          const TOtherUser *other = nullptr) {
  if (how.Nobody)
    args = other->Command(args);
  else
    args.insert(args.begin(), TONMILL_BINARY);
  // The guard stands between the test and the program, so it is left out where signals are sent.
  if (how.Guarded) args.insert(args.begin(), {"timeout", "-s", "KILL", "300"});
  std::vector<char *> argv;
  for (std::string &a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  int closed[2] = {-1, -1};
  if (how.ClosedErr && pipe(closed) == 0) close(closed[0]);
  const pid_t pid = fork();
  if (pid == 0) {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGPIPE, SIG_DFL);
    signal(SIGUSR1, how.IgnoreUsr1 ? SIG_IGN : SIG_DFL);
    signal(SIGXFSZ, SIG_DFL);
    if (how.FileSizeLimit) {
      const rlimit limit{rlim_t(how.FileSizeLimit) * 1024, RLIM_INFINITY};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(121);
    }
    if (!how.Cwd.empty() && (chdir(how.Cwd.c_str()) != 0 || (how.RemoveCwd && rmdir(how.Cwd.c_str()) != 0)))
      _exit(120);
    const int null = open("/dev/null", O_RDWR);
    const int err = how.ClosedErr ? closed[1] : open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(null, 0);
    dup2(null, 1);
    dup2(err, 2);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  if (closed[1] >= 0) close(closed[1]);
  return pid;
}

// Whether a signal sent to the process waits there, not yet taken.
bool SignalPending(int pid, int signal) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("ShdPnd:", 0) == 0) return std::stoull(line.substr(7), nullptr, 16) >> (signal - 1) & 1;
  return false;
}

// The most threads the started program had at once, sampled until it ends
// (it is left for WaitTool to reap).
int PeakThreads(int pid) {
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  int peak = 0;
  for (;;) {
    siginfo_t info{};
    if (waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid != 0) return peak;
    int count = 0;
    std::error_code ec;
    for (fs::directory_iterator t(tasks, ec); !ec && t != fs::directory_iterator(); t.increment(ec)) ++count;
    peak = std::max(peak, count);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

class BatchMode : public ::testing::Test {
 protected:
  void SetUp() override { UseFolder(TestFolder()); }

  // The test's files in `folder`: its settings, and the sources under "in".
  void UseFolder(const std::string &folder) {
    Folder = folder;
    fs::create_directories(Folder + "/config/tonmill");
    Conf = Folder + "/config/tonmill/tonmill.conf";
    WriteText(Conf, "[General]\nDestinationFormat=WAV\nLanguage=FR\nProgParallelFiles=4\n");
    setenv("XDG_CONFIG_HOME", (Folder + "/config").c_str(), 1);
    In = Folder + "/in";
    fs::create_directories(In);
  }

  // The test's files where the other user can reach them, for runs as that user.
  void UseOtherUser() {
    Other = std::make_unique<TOtherUser>();
    UseFolder(Other->Folder);
  }

  // Whether a run as the other user can be made; when not, the test is marked skipped at the end.
  bool OtherUserRuns() {
    if (!Other) {
      ADD_FAILURE() << "the test did not call UseOtherUser()";
      return false;
    }
    OtherUserLeftOut |= !Other->CannotRun.empty();
    return Other->CannotRun.empty();
  }

  void TearDown() override {
    if (OtherUserLeftOut) GTEST_SKIP() << "the runs as another user are left out: " << Other->CannotRun;
  }

  int Tonmill(std::vector<std::string> args, std::string *err = nullptr) {
    const TSourceGuard guard({In});
    args.insert(args.begin(), TONMILL_BINARY);
    return RunTool(args, nullptr, err);
  }

  // One row of a table of runs: what to set up first, the switches ("/dest
  // wav" is added unless they name a format), how the program starts, the
  // status it must end with, a part of what standard error must say, the
  // output that must hold the test signal ("" for none), and what else to check.
  struct TRunRow {
    const char *Name;
    std::function<void()> Prepare;
    std::vector<std::string> Args;
    TStart How;
    int Status;
    std::string Says;
    std::string Output;
    std::function<void()> Check = {};
  };

  // Runs each row into a fresh `out` open to every user, killed should it hang.
  void RunRows(const std::vector<TRunRow> &Rows, const std::string &out) {
    for (const TRunRow &row : Rows) {
      SCOPED_TRACE(row.Name);
      if (row.How.Nobody && !OtherUserRuns()) continue;
      fs::remove_all(out);
      fs::create_directory(out);
      fs::permissions(out, fs::perms::all);  // the unprivileged user writes here
      if (row.Prepare) row.Prepare();
      std::vector<std::string> args = row.Args;
      if (std::find(args.begin(), args.end(), "/dest") == args.end()) args.insert(args.end(), {"/dest", "wav"});
      TStart how = row.How;
      how.Guarded = true;
      const TSourceGuard guard({In});
      const int pid = Start(args, how, Folder + "/err.txt", Other.get());
      ASSERT_GT(pid, 0);
      EXPECT_EQ(WaitTool(pid), row.Status);
      const std::string err = ReadText(Folder + "/err.txt");
      EXPECT_NE(err.find(row.Says), std::string::npos) << err;
      if (!row.Output.empty() && fs::exists(row.Output))
        EXPECT_EQ(FFmpegDecode(row.Output, "s16le"), MakeSamples(TTestSignal{}));
      else
        EXPECT_TRUE(row.Output.empty()) << row.Output << " is missing";
      if (row.Check) row.Check();
    }
  }

  std::string Folder, Conf, In;
  std::unique_ptr<TOtherUser> Other;
  bool OtherUserLeftOut = false;
};

TEST_F(BatchMode, ConvertsAPatternAndLeavesTheSettingsAlone) {
  const std::vector<uint8_t> settings = ReadFileBytes(Conf);
  for (uint32_t i = 0; i < 3; ++i) WriteSignal(In + "/t" + std::to_string(i) + ".flac", {.Seed = i}, {"-c:a", "flac"});
  WriteSignal(In + "/other.wav", TTestSignal{});
  std::string err;
  EXPECT_EQ(Tonmill({"/input", In + "/*.flac", "/output", Folder + "/out", "/p", "2"}, &err), 0) << err;
  for (uint32_t i = 0; i < 3; ++i)
    EXPECT_EQ(FFmpegDecode(Folder + "/out/t" + std::to_string(i) + ".wav", "s16le"), MakeSamples({.Seed = i}));
  EXPECT_FALSE(fs::exists(Folder + "/out/other.wav"));
  EXPECT_EQ(ReadFileBytes(Conf), settings);
}

// A sheet's tracks are what the run wrote: the summary counts them.
TEST_F(BatchMode, ASheetOfTwelveTracksIsCountedByItsTracks) {
  const TTestSignal s{.Seconds = 6};
  WriteSignal(In + "/album.flac", s, {"-c:a", "flac"});
  std::string sheet = "FILE \"album.flac\" WAVE\n";
  for (int t = 0; t < 12; ++t)
    sheet += fmt::sprintf("  TRACK %02d AUDIO\n    TITLE \"Song %d\"\n    INDEX 01 00:%02d:%02d\n", t + 1, t + 1,
                          t * 36 / 75, t * 36 % 75);
  WriteText(In + "/album.cue", sheet);
  std::string err;
  ASSERT_EQ(Tonmill({"/input", In + "/album.cue", "/output", Folder + "/out"}, &err), 0) << err;
  EXPECT_NE(err.find("12 tracks of 1 file converted into " + Folder + "/out/"), std::string::npos) << err;
  EXPECT_EQ(std::distance(fs::directory_iterator(Folder + "/out"), fs::directory_iterator()), 12);

  // Whole files alone keep the plain count.
  WriteSignal(In + "/single.wav", s);
  ASSERT_EQ(Tonmill({"/input", In + "/single.wav", "/output", Folder + "/out2"}, &err), 0) << err;
  EXPECT_NE(err.find("1 file converted into"), std::string::npos) << err;
}

TEST_F(BatchMode, ADamagedSettingsFileIsReportedAndLeftAsItIs) {
  const std::string text = "[General\nDestinationFormat=FLAC\n";
  WriteText(Conf, text);
  WriteSignal(In + "/a.wav", TTestSignal{});
  std::string err;
  EXPECT_EQ(Tonmill({"/input", In + "/a.wav", "/output", Folder + "/out", "/dest", "wav"}, &err), 0) << err;
  EXPECT_EQ(FFmpegDecode(Folder + "/out/a.wav", "s16le"), MakeSamples(TTestSignal{}));
  const size_t said = err.find("\"" + Conf + "\"");
  EXPECT_NE(said, std::string::npos) << err;
  EXPECT_EQ(err.find(Conf, said + Conf.size()), std::string::npos) << err;  // once
  EXPECT_EQ(ReadText(Conf), text);
  EXPECT_FALSE(fs::exists(Conf + ".bad"));
}

// Each ends with status 1 and says why; the keys a format takes reach its output.
TEST_F(BatchMode, InputsThatCannotBeConvertedAndTheFormatKeys) {
  const std::string out = Folder + "/out";
  WriteSignal(In + "/a.wav", TTestSignal{});
  WriteFileBytes(Folder + "/file", {1, 2, 3});
  const auto noAudio = [&] { WriteFileBytes(In + "/bad.flac", {'n', 'o'}); };
  const auto probed = [&](const std::string &path, const std::string &says) {
    return [=] { EXPECT_EQ(ProbeStream(path, "codec_name,bit_rate"), says); };
  };
  const auto twoSources = [&] { fs::copy_file(In + "/a.wav", In + "/b.wav", fs::copy_options::overwrite_existing); };
  const auto saidOnce = [&](const std::string &says) {
    return [=, this] {
      const std::string err = ReadText(Folder + "/err.txt");
      EXPECT_EQ(err.find(says, err.find(says) + 1), std::string::npos) << err;
      EXPECT_EQ(err.find("TWMACoder"), std::string::npos) << err;
      EXPECT_TRUE(fs::is_empty(out));
    };
  };
  RunRows({
      {"no file matches", {}, {"/input", In + "/*.flac", "/output", out}, {}, 1, "no supported audio file", ""},
      {"the output under a file", {}, {"/input", In, "/output", Folder + "/file/out"}, {}, 1,
       "cannot create the output folder", ""},
      {"a source that is no audio", noAudio, {"/input", In + "/bad.flac", "/output", out}, {}, 1,
       "converted 0 of 1, failed 1, stopped 0; outputs in " + out + "/", ""},
      {"/p without a number", {}, {"/input", In + "/a.wav", "/output", out, "/p", "two"}, {}, 1, "/p needs", ""},
      {"a FLAC level out of range", {}, {"/input", In + "/a.wav", "/output", out, "/dest", "flac", "/compression", "11"},
       {}, 1, "level from 0 to 8", ""},
      // Two sources, one message: the run ends before any job.
      {"/useprocodec", twoSources, {"/input", In, "/output", out, "/dest", "wma", "/useprocodec"}, {}, 1,
       "/useprocodec: ", "", saidOnce("/useprocodec: ")},
      {"/loseless", twoSources, {"/input", In, "/output", out, "/dest", "wma", "/quality", "50", "/loseless"}, {}, 1,
       "/loseless: ", "", saidOnce("/loseless: ")},
      {"MP3 at /bitrate 192", {}, {"/input", In + "/a.wav", "/output", out, "/dest", "mp3", "/bitrate", "192"}, {}, 0,
       "", "", probed(out + "/a.mp3", "mp3,192000\n")},
      {"FLAC at /compression 5", {}, {"/input", In + "/a.wav", "/output", out, "/dest", "FLAC", "/compression", "5"},
       {}, 0, "", out + "/a.flac"},
      {"/DEBUG shows the parameters and writes no audio", {}, {"/DEBUG", "/input", In + "/a.wav", "/output", out}, {},
       0, "WAV Parameters", "", [&] { EXPECT_EQ(fs::file_size(out + "/a.wav"), 44u); }},
  }, out);
}

TEST_F(BatchMode, ADamagedSourceConvertsAndIsTheOnlyOneNamed) {
  const TTestSignal good;
  WriteSignal(In + "/good.wav", good);
  CutInHalf(WriteSignal(In + "/bad.flac", {.Seconds = 3}, {"-c:a", "flac"}));
  std::string err;
  EXPECT_EQ(Tonmill({"/input", In, "/output", Folder + "/out", "/dest", "wav", "/p", "2"}, &err), 0) << err;
  const std::string line = "tonmill: warning: " + In + "/bad.flac: ";
  const size_t at = err.find(line);
  ASSERT_NE(at, std::string::npos) << err;
  EXPECT_NE(err.find(" s of 3.00 s decoded", at), std::string::npos) << err;
  EXPECT_EQ(err.find("warning", at + line.size()), std::string::npos) << err;
  EXPECT_NE(err.find("2 files converted"), std::string::npos) << err;
  EXPECT_EQ(FFmpegDecode(Folder + "/out/good.wav", "s16le"), MakeSamples(good));
  const size_t decoded = FFmpegDecode(Folder + "/out/bad.wav", "s16le").size();
  EXPECT_GT(decoded, size_t(44100 * 4));
  EXPECT_LT(decoded, size_t(2 * 44100 * 4));
}

// A failed run says first, in the chosen language, which file could not be
// read or written and why, then the technical lines under a heading.
TEST_F(BatchMode, AFailureSaysWhichFileAndWhy) {
  UseOtherUser();
  TScratchDisk disk(Folder + "/disk", "16m");
  const std::string out = Folder + "/out";
  WriteFileBytes(In + "/bad.flac", {'n', 'o'});
  const std::string broken = WriteBrokenMp3(In + "/broken.mp3", 1.5);
  WriteSignal(In + "/long.wav", {.Seconds = 60});
  WriteSignal(In + "/a.wav", TTestSignal{});
  fs::copy_file(In + "/a.wav", In + "/locked.wav");
  fs::permissions(In + "/locked.wav", fs::perms::owner_read | fs::perms::owner_write);
  struct TRow {
    const char *Name;
    std::vector<std::string> Args;
    std::string English, Russian;
    std::function<void()> During = {};
    bool Nobody = false;  // an unprivileged user, who may not read the source
  };
  const std::string read = "Could not read “", write = "Could not write “";
  const std::string readRu = "Не удалось прочитать «", writeRu = "Не удалось записать «";
  std::vector<TRow> rows = {
      {"not audio", {"/input", In + "/bad.flac", "/output", out, "/dest", "wav"},
       read + In + "/bad.flac”: it is not an audio file this program can read.",
       readRu + In + "/bad.flac»: это не аудиофайл, который программа может прочитать."},
      {"damaged", {"/input", broken, "/output", out, "/dest", "wav"},
       read + broken + "”: it is damaged at 0:01.", readRu + broken + "»: файл повреждён на отметке 0:01."},
      {"folder vanished", {"/input", In + "/long.wav", "/output", out, "/dest", "mp3"},
       write + out + "/long.mp3”: its folder no longer exists.", writeRu + out + "/long.mp3»: его папки больше нет.",
       [&] {
         WaitForGrowth(PartialFileName(out + "/long.mp3"));
         fs::remove_all(out);
       }},
      {"permission denied", {"/input", In + "/locked.wav", "/output", out, "/dest", "wav"},
       read + In + "/locked.wav”: permission is denied.", readRu + In + "/locked.wav»: доступ запрещён.", {}, true},
  };
  if (disk.Mounted)
    rows.push_back({"disk full", {"/input", In + "/a.wav", "/output", disk.Folder, "/dest", "wav"},
                    write + disk.Folder + "/a.wav”: the disk is full.", writeRu + disk.Folder + "/a.wav»: диск заполнен.",
                    {}});
  for (const TRow &row : rows) {
    if (row.Nobody && !OtherUserRuns()) continue;
    for (const std::string language : {"EN", "RU"}) {
      SCOPED_TRACE(row.Name + (" in " + language));
      WriteText(Conf, "[General]\nLanguage=" + language + "\n");
      fs::create_directories(out);
      fs::permissions(out, fs::perms::all);
      if (disk.Mounted) disk.LeaveFree(0);  // only the disk's row writes there
      const int pid = Start(row.Args, {.Nobody = row.Nobody, .Guarded = true}, Folder + "/err.txt", Other.get());
      ASSERT_GT(pid, 0);
      if (row.During) row.During();
      EXPECT_EQ(WaitTool(pid), 1);
      disk.Unfill();
      const std::string err = ReadText(Folder + "/err.txt");
      const std::string heading = language == "EN" ? "Details:" : "Подробности:";
      const std::string said = "tonmill: " + (language == "EN" ? row.English : row.Russian) + "\ntonmill: " + heading + "\n";
      const size_t at = err.find(said);
      EXPECT_NE(at, std::string::npos) << err;
      if (at != std::string::npos) {
        EXPECT_NE(err.find_first_not_of("\n", at + said.size()), std::string::npos) << "the technical lines follow";
      }
      for (const char *never : {"LastCall = ,", "ErrorCode = 0", "Encoder error"})
        EXPECT_EQ(err.find(never), std::string::npos) << never << " in " << err;
    }
  }
}

// A destination on a read-only disk: the run refuses before converting,
// naming the folder, leaves nothing there, and ends with status 1.
TEST_F(BatchMode, AReadOnlyDestinationIsNamed) {
  TScratchDisk disk(Folder + "/disk", "1m");
  if (!disk.Mounted) GTEST_SKIP() << "a read-only tmpfs needs root";
  WriteText(Conf, "[General]\nLanguage=EN\n");
  WriteSignal(In + "/a.wav", TTestSignal{});
  disk.SetReadOnly(true);
  std::string err;
  EXPECT_EQ(Tonmill({"/input", In + "/a.wav", "/output", disk.Folder, "/dest", "flac"}, &err), 1);
  EXPECT_NE(err.find("tonmill: cannot write into the output folder \"" + disk.Folder + "/\""), std::string::npos)
      << err;
  EXPECT_TRUE(fs::is_empty(disk.Folder));
  disk.SetReadOnly(false);
}

TEST_F(BatchMode, InterruptCancelsCleanly) {
  for (int i = 0; i < 3; ++i) WriteSignal(In + "/long" + std::to_string(i) + ".wav", {.Seconds = 120});
  const std::string errFile = Folder + "/err.txt";
  const int pid = StartTool({TONMILL_BINARY, "/input", In, "/output", Folder + "/out", "/p", "2"}, errFile);
  ASSERT_GT(pid, 0);
  // Once the first output grows, interrupt.
  WaitForGrowth(PartialFileName(Folder + "/out/long0.wav"));
  kill(pid, SIGINT);
  EXPECT_EQ(WaitTool(pid), 2);
  // What the run did and where, no failure.
  const std::string said = ReadText(errFile);
  const std::string counts = "cancelled: converted ";
  const size_t at = said.find(counts);
  ASSERT_NE(at, std::string::npos) << said;
  EXPECT_NE(said.find(" of 3, failed 0, stopped "), std::string::npos) << said;
  EXPECT_NE(said.find("; outputs in " + Folder + "/out/"), std::string::npos) << said;
  // What was stopped is gone, hidden file and all; on a busy machine a job
  // may have ended before the Ctrl-C came, and its output is whole.
  const size_t converted = std::stoul(said.substr(at + counts.size()));
  EXPECT_LT(converted, 3u);
  size_t files = 0;
  for (const auto &entry : fs::directory_iterator(Folder + "/out")) {
    ++files;
    EXPECT_EQ(FFmpegDecode(entry.path(), "s16le").size(), size_t(FrameCount({.Seconds = 120})) * 4)
        << entry.path().filename();
  }
  EXPECT_EQ(files, converted);
}

// The hidden files of unfinished outputs in a folder.
std::vector<std::string> HiddenFiles(const std::string &folder) {
  std::vector<std::string> names;
  for (const auto &entry : fs::directory_iterator(folder))
    if (IsPartialFileName(entry.path().filename().string())) names.push_back(entry.path().filename().string());
  return names;
}

// Every way a run can end early, for each format: nothing under an output's
// name is ever shorter than its source (ffmpeg decodes each), no hidden file
// stays behind (after the next run, when the first was killed), and with
// /keeppartial the stopped jobs' shorter files are there under their names.
TEST_F(BatchMode, NoOutputUnderItsNameIsEverCutShort) {
  // a ends well before b, and z takes its place while b goes on.
  const TTestSignal aSignal{.Seconds = 60}, bSignal{.Seconds = 300}, shortSignal{.Seconds = 1};
  const std::string a = WriteSignal(In + "/a.flac", aSignal, {"-c:a", "flac"});
  const std::string b = WriteSignal(In + "/b.flac", bSignal, {"-c:a", "flac"});
  const std::string c = WriteSignal(In + "/c.flac", shortSignal, {"-c:a", "flac"});
  // Changed while a and b are under way, it fails its job.
  const std::string victim = In + "/z.flac";

  enum TStop { Cancel, CancelTwice, Kill, OtherFails, SourceDeleted };
  struct TWay {
    const char *Name;
    TStop Stop;
    bool Keep;
    int Status;
  };
  const TWay ways[] = {
      {"Ctrl-C", Cancel, false, 2},
      {"Ctrl-C, /keeppartial", Cancel, true, 2},
      {"Ctrl-C twice", CancelTwice, false, 2},
      {"killed, then a second run", Kill, false, 128 + SIGKILL},
      {"another job fails", OtherFails, false, 1},
      {"another job fails, /keeppartial", OtherFails, true, 1},
      {"a source deleted", SourceDeleted, false, 1},
      {"a source deleted, /keeppartial", SourceDeleted, true, 1},
  };
  const std::string out = Folder + "/out", errFile = Folder + "/err.txt";
  for (const std::string format : {"wav", "flac", "mp3", "ape", "ogg", "wavpack", "aac", "wma"}) {
    const std::string ext = format == "wavpack" ? "wv" : format;
    // The ways without /keeppartial end every format's jobs alike (its
    // encoder is stopped and finished the same way, and the file goes):
    // three formats of different kinds show them; every format shows how
    // its stopped encoder leaves a kept file.
    const bool everyWay = format == "wav" || format == "flac" || format == "wavpack";
    for (const TWay &way : ways) {
      if (!everyWay && !way.Keep) continue;
      SCOPED_TRACE(format + ": " + way.Name);
      fs::remove_all(out);
      fs::copy_file(c, victim, fs::copy_options::overwrite_existing);
      std::vector<std::string> args = {TONMILL_BINARY, "/input", a, b, victim, "/output", out,
                                       "/dest", format, "/p", "2"};
      if (way.Keep) args.push_back("/keeppartial");
      const int pid = StartTool(args, errFile);
      ASSERT_GT(pid, 0);
      WaitForGrowth(PartialFileName(out + "/b." + ext), 32768);
      // The program is held while the victim changes: z must not start first.
      if (way.Stop == OtherFails || way.Stop == SourceDeleted) kill(pid, SIGSTOP);
      switch (way.Stop) {
        case Cancel:
          kill(pid, SIGINT);
          break;
        case CancelTwice:
          kill(pid, SIGINT);
          while (SignalPending(pid, SIGINT)) std::this_thread::sleep_for(std::chrono::microseconds(100));
          kill(pid, SIGINT);
          break;
        case Kill:
          kill(pid, SIGKILL);
          break;
        case OtherFails:
          WriteFileBytes(victim, std::vector<uint8_t>(4096, 0x5A));
          break;
        case SourceDeleted:
          fs::remove(victim);
          break;
      }
      kill(pid, SIGCONT);  // harmless when it was not held
      EXPECT_EQ(WaitTool(pid), way.Status) << ReadText(errFile);
      if (way.Stop == Kill) {
        EXPECT_FALSE(HiddenFiles(out).empty()) << "a killed run leaves its hidden files";
        std::string err;
        EXPECT_EQ(Tonmill({"/input", c, "/output", out, "/dest", format}, &err), 0) << err;
      }
      EXPECT_EQ(HiddenFiles(out), std::vector<std::string>());
      std::vector<std::string> shorter;
      for (const auto &entry : fs::directory_iterator(out)) {
        const std::string name = entry.path().filename().string();
        if (IsPartialFileName(name)) continue;
        const int64_t whole = FrameCount(name[0] == 'a' ? aSignal : name[0] == 'b' ? bSignal : shortSignal);
        try {
          const int64_t decoded = int64_t(FFmpegDecode(entry.path().string(), "s16le").size() / 4);
          if (decoded < whole) shorter.push_back(name);
          if (decoded == 0) ADD_FAILURE() << name << " holds no audio";
        } catch (const std::exception &e) {
          ADD_FAILURE() << e.what();
        }
      }
      // b is always stopped, a only when it was still going.
      if (way.Keep) {
        EXPECT_TRUE(std::count(shorter.begin(), shorter.end(), "b." + ext));
        for (const std::string &name : shorter) EXPECT_TRUE(name == "a." + ext || name == "b." + ext) << name;
      } else {
        EXPECT_EQ(shorter, std::vector<std::string>());
      }
    }
  }
}

// Folders the user may not enter, a current folder that was deleted and
// things that are no regular file under the output's name: each run ends by
// itself, saying what is wrong, or converts into the next free name.
TEST_F(BatchMode, AwkwardPathsNeitherCrashNorHang) {
  UseOtherUser();
  WriteSignal(In + "/a.wav", TTestSignal{});
  const std::string locked = Folder + "/locked", out = Folder + "/out", gone = Folder + "/gone";
  fs::create_directories(locked);
  fs::copy_file(In + "/a.wav", locked + "/a.wav");
  fs::permissions(locked, fs::perms::owner_all);
  const std::string gonePrefix = "the current folder no longer exists";
  RunRows({
      {"input in a locked folder", {}, {"/input", locked + "/a.wav", "/output", out}, {.Nobody = true}, 1,
       "cannot read \"" + locked + "/a.wav\": Permission denied", ""},
      {"output in a locked folder", {}, {"/input", In + "/a.wav", "/output", locked + "/out"}, {.Nobody = true},
       1, "cannot create the output folder \"" + locked + "/out/\": Permission denied", ""},
      {"relative output, current folder deleted", [&] { fs::create_directory(gone); },
       {"/input", In + "/a.wav", "/output", "out"}, {.Cwd = gone, .RemoveCwd = true}, 1,
       gonePrefix + ": \"out/\" cannot be found", ""},
      {"relative input, current folder deleted", [&] { fs::create_directory(gone); },
       {"/input", "a.wav", "/output", out}, {.Cwd = gone, .RemoveCwd = true}, 1,
       gonePrefix + ": \"a.wav\" cannot be found", ""},
      {"full paths, current folder deleted", [&] { fs::create_directory(gone); },
       {"/input", In + "/a.wav", "/output", out, "/createfullpath"}, {.Cwd = gone, .RemoveCwd = true}, 0, "",
       out + In + "/a.wav"},
      {"a pipe under the output name", [&] { mkfifo((out + "/a.wav").c_str(), 0644); },
       {"/input", In + "/a.wav", "/output", out}, {}, 0, "", out + "/a_001.wav"},
      {"a folder under the output name", [&] { fs::create_directories(out + "/a.wav"); },
       {"/input", In + "/a.wav", "/output", out}, {}, 0, "", out + "/a_001.wav"},
      {"a file size limit (ulimit -f)", {}, {"/input", In + "/a.wav", "/output", out}, {.FileSizeLimit = 64}, 1,
       "File too large", "", [&] {
         EXPECT_TRUE(fs::is_empty(out));  // the hidden file too
         EXPECT_NE(ReadText(Folder + "/err.txt").find("(ulimit -f)"), std::string::npos);  // not "the disk is full"
       }},
  }, out);
}

// HOME points at a test folder for as long as it lives, even when an assertion ends the test.
struct THome {
  explicit THome(const std::string &home) : Old(getenv("HOME") ? getenv("HOME") : "") {
    fs::create_directories(home);
    setenv("HOME", home.c_str(), 1);
  }
  ~THome() { setenv("HOME", Old.c_str(), 1); }
  std::string Old;
};

// The words of an example line as a shell hands them over: single quotes kept
// whole and unexpanded, an unquoted leading "~" made the home folder.
std::vector<std::string> ShellWords(const std::string &line, const std::string &home) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false, quoted = false, wordQuoted = false;
  for (const char c : line + " ") {
    if (c == '\'') {
      quoted = !quoted;
      inWord = wordQuoted = true;
    } else if (c == ' ' && !quoted) {
      if (inWord) words.push_back(!wordQuoted && word[0] == '~' ? home + word.substr(1) : word);
      word.clear();
      inWord = wordQuoted = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  return words;
}

// Full paths start at the home folder for a source under it, at the root for any other.
TEST_F(BatchMode, FullPathsStartAtTheHomeFolder) {
  const std::string home = Folder + "/home";
  const THome homeForTheTest(home);
  fs::create_directories(home + "/Music/Album");
  const TTestSignal s;
  const std::string inHome = WriteSignal(home + "/Music/Album/song.wav", s), outside = WriteSignal(In + "/other.wav", s);
  std::string err;
  ASSERT_EQ(Tonmill({"/input", inHome, outside, "/output", Folder + "/out", "/dest", "wav", "/createfullpath"}, &err), 0)
      << err;
  EXPECT_EQ(FFmpegDecode(Folder + "/out/Music/Album/song.wav", "s16le"), MakeSamples(s));
  EXPECT_EQ(FFmpegDecode(Folder + "/out" + In + "/other.wav", "s16le"), MakeSamples(s));
}

// Every example of the README, as a user with music in ~/Music types it.
TEST_F(BatchMode, EveryReadmeExampleWorks) {
  const std::string home = Folder + "/home";
  const THome homeForTheTest(home);
  fs::create_directories(home + "/Music/album");
  TTestSignal s;
  for (const char *name : {"a.flac", "b.flac"}) WriteSignal(home + "/Music/" + name, s, {"-c:a", "flac"});
  WriteSignal(home + "/Music/album/c.wav", s);
  std::ifstream readme(TONMILL_SOURCE_DIR "/README.md");
  int batch = 0, window = 0;
  for (std::string line; std::getline(readme, line);) {
    if (line.rfind("    build/tonmill", 0) != 0) continue;
    SCOPED_TRACE(line);
    std::vector<std::string> words = ShellWords(line.substr(0, line.find('#')), home);
    words.erase(words.begin());
    const TParsedCommandLine parsed = ParseCommandLine(words);
    EXPECT_TRUE(parsed.Errors.empty());
    if (parsed.Mode != TParsedCommandLine::mBatch) {
      // The window opens on these; its own tests cover what it does with them.
      for (const std::string &path : parsed.SendToPaths) EXPECT_TRUE(fs::exists(path)) << path;
      ++window;
      continue;
    }
    std::string err;
    ASSERT_EQ(Tonmill(words, &err), 0) << err;
    const std::string out = parsed.Options.OutputFolder;
    EXPECT_EQ(out.rfind(home + "/", 0), 0u) << out;
    for (const char *name : {"a", "b"}) {
      // LAME's delay and padding are taken off by ffmpeg: the length is the source's.
      EXPECT_EQ(FFmpegDecode(out + name + ".mp3", "s16le").size(), MakeSamples(s).size()) << name;
    }
    EXPECT_FALSE(fs::exists(out + "c.mp3"));
    ++batch;
  }
  EXPECT_EQ(batch, 1);
  EXPECT_EQ(window, 2);
}

// What a user meets on the command line: a quoted "~", folders that cannot be
// read, a file where the output folder should be, and "/p" over the stored mode.
TEST_F(BatchMode, CommandLineAsAUserMeetsIt) {
  UseOtherUser();
  const std::string home = Folder + "/home";
  const THome homeForTheTest(home);
  WriteSignal(In + "/a.wav", TTestSignal{});
  const std::string locked = In + "/locked", out = Folder + "/out";
  fs::create_directories(locked);
  WriteSignal(locked + "/b.wav", TTestSignal{});
  fs::permissions(locked, fs::perms::owner_all);
  WriteFileBytes(Folder + "/file", {1});
  const std::string advanced = "[General]\nDestinationFormat=WAV\nProgSimpleParallelFiles=NO\nFPCPU_WAV=3\n";
  const auto storedAdvancedMode = [&] { WriteText(Conf, advanced); };
  RunRows({
      {"quoted ~ for the input and the output", storedAdvancedMode, {"/input", "~/../in/a.wav", "/output", "~/out"}, {}, 0,
       "1 file converted into " + home + "/out/", home + "/out/a.wav"},
      {"an unreadable sub-folder", storedAdvancedMode, {"/input", In, "/output", out}, {.Nobody = true}, 1,
       "cannot read the folder \"" + locked + "/\": Permission denied", out + "/a.wav"},
      {"an unreadable pattern folder", storedAdvancedMode, {"/input", locked + "/*.wav", "/output", out}, {.Nobody = true}, 1,
       "cannot read the folder \"" + locked + "/\": Permission denied", ""},
      {"the output is a file", storedAdvancedMode, {"/input", In + "/a.wav", "/output", Folder + "/file"}, {}, 1,
       "the output \"" + Folder + "/file\" is a file, not a folder", ""},
      {"/p over the stored advanced mode", storedAdvancedMode, {"/DEBUG", "/input", In + "/a.wav", "/output", out, "/p", "1"}, {}, 0,
       "converting 1 at once", ""},
      {"the stored advanced mode without /p", storedAdvancedMode, {"/DEBUG", "/input", In + "/a.wav", "/output", out}, {}, 0,
       "converting 3 at once", ""},
      {"a stored high priority the user may not take",
       [&] { WriteText(Conf, "[General]\nDestinationFormat=WAV\nProgPriority=2\n"); },
       {"/input", In + "/a.wav", "/output", out}, {.Nobody = true}, 0, text_priority_refused, out + "/a.wav"},
      {"stored preprocessing resamples and remixes",
       [&] {
         WriteText(Conf, "[General]\nPreprocess=YES\nPPResample=YES\nPPResampleTo=48000\nPPChannels=1\n"
                         "PPSplitBySilence=NO\n");
       },
       {"/input", In + "/a.wav", "/output", out}, {}, 0, "", "",
       [&] { EXPECT_EQ(ProbeStream(out + "/a.wav", "sample_rate,channels"), "48000,1\n"); }},
    }, out);
  EXPECT_EQ(ReadFileBytes(Folder + "/file"), std::vector<uint8_t>{1});
}

// A signal other than Ctrl-C, SIGTERM and SIGHUP (a closed terminal) leaves
// the cancel alone, and a closed standard error does not end a run that
// converted everything.
TEST_F(BatchMode, StraySignalsAndAClosedStandardError) {
  for (int i = 0; i < 2; ++i) WriteSignal(In + "/long" + std::to_string(i) + ".wav", {.Seconds = 120});
  for (const int cancel : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(cancel);
    fs::remove_all(Folder + "/out");
    const int pid = Start({"/input", In, "/output", Folder + "/out", "/p", "1"}, {.IgnoreUsr1 = true},
                          Folder + "/err.txt");
    ASSERT_GT(pid, 0);
    WaitForGrowth(PartialFileName(Folder + "/out/long0.wav"));
    kill(pid, SIGUSR1);  // not ours to watch; the cancel comes once it is dealt with
    while (SignalPending(pid, SIGUSR1)) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    kill(pid, cancel);
    EXPECT_EQ(WaitTool(pid), 2);
    EXPECT_NE(ReadText(Folder + "/err.txt").find("cancelled"), std::string::npos);
    EXPECT_TRUE(fs::is_empty(Folder + "/out"));  // the hidden file too
  }

  WriteSignal(In + "/short.wav", TTestSignal{});
  const int pid = Start({"/input", In + "/short.wav", "/output", Folder + "/out"}, {.ClosedErr = true}, "");
  ASSERT_GT(pid, 0);
  EXPECT_EQ(WaitTool(pid), 0);
  EXPECT_EQ(FFmpegDecode(Folder + "/out/short.wav", "s16le"), MakeSamples(TTestSignal{}));
}

// One long file with two workers: the idle one encodes spans of it too (the
// program runs more threads), unless "/nospread" or the stored option says
// no; the file is the same byte for byte either way.
TEST_F(BatchMode, OneLongFileIsSpreadUnlessTurnedOff) {
  const TTestSignal music{.Seconds = 20};
  WriteMusic(In + "/long.wav", music);
  struct TRow {
    const char *Name;
    std::string Stored;
    std::vector<std::string> Switches;
  };
  const TRow rows[] = {{"spread", "", {}},
                       {"the switch", "", {"/nospread"}},
                       {"the stored option", "SpreadOverCores=NO\n", {}}};
  std::vector<uint8_t> spread;
  int spreadThreads = 0;
  for (const TRow &row : rows) {
    SCOPED_TRACE(row.Name);
    WriteText(Conf, "[General]\nLanguage=EN\n" + row.Stored);
    const std::string out = Folder + "/out";
    fs::remove_all(out);
    std::vector<std::string> args = {"/input", In + "/long.wav", "/output", out, "/dest", "ape", "/p", "2", "/q"};
    args.insert(args.end(), row.Switches.begin(), row.Switches.end());
    const TSourceGuard guard({In});
    const int pid = Start(args, TStart{}, Folder + "/err.txt");  // unguarded: the pid is the program's
    ASSERT_GT(pid, 0);
    const int threads = PeakThreads(pid);
    EXPECT_EQ(WaitTool(pid), 0) << ReadText(Folder + "/err.txt");
    if (spread.empty()) {
      spread = ReadFileBytes(out + "/long.ape");
      spreadThreads = threads;
      EXPECT_EQ(FFmpegDecode(out + "/long.ape", "s16le"), MakeMusic(music));
    } else {
      EXPECT_EQ(ReadFileBytes(out + "/long.ape"), spread);
      EXPECT_LT(threads, spreadThreads);
    }
  }
}

// FLAC settings the dialog offers beyond the streamable subset at 44.1 kHz
// (long blocks, high orders): each converts, in one piece and spread, to a
// file flac itself passes, holding the source's samples; both ways alike.
TEST_F(BatchMode, FLACSettingsBeyondTheStreamableSubset) {
  const TTestSignal music{.Seconds = 15};  // two and a half spans
  WriteMusic(In + "/long.wav", music);
  const std::vector<uint8_t> source = MakeMusic(music);
  const std::pair<const char *, const char *> rows[] = {{"block size 8192", "FLACBuffer=8192\n"},
                                                        {"block size 16384", "FLACBuffer=16384\n"},
                                                        {"LPC order 32", "FLACl=32\n"},
                                                        {"partition order 15", "FLACrmax=15\n"}};
  for (const auto &[name, stored] : rows) {
    WriteText(Conf, std::string("[General]\nLanguage=EN\n") + stored);
    std::vector<uint8_t> onePiece;
    for (const bool spread : {false, true}) {
      SCOPED_TRACE(std::string(name) + (spread ? ", spread" : ", one piece"));
      const std::string out = Folder + "/out", output = out + "/long.flac";
      fs::remove_all(out);
      std::vector<std::string> args = {"/input", In + "/long.wav", "/output", out, "/dest", "flac", "/p", "2", "/q"};
      if (!spread) args.push_back("/nospread");
      std::string err;
      ASSERT_EQ(Tonmill(args, &err), 0) << err;
      EXPECT_EQ(RunTool({"flac", "-t", "-s", output}, nullptr, &err), 0) << err;
      EXPECT_TRUE(FFmpegDecode(output, "s16le") == source);
      if (spread) EXPECT_TRUE(ReadFileBytes(output) == onePiece);
      else onePiece = ReadFileBytes(output);
    }
  }
}

TEST_F(BatchMode, HelpAndVersion) {
  std::string out;
  EXPECT_EQ(RunTool({TONMILL_BINARY, "--help"}, &out), 0);
  EXPECT_NE(out.find("/input"), std::string::npos);
  EXPECT_EQ(RunTool({TONMILL_BINARY, "--version"}, &out), 0);
  EXPECT_EQ(out.rfind("tonmill ", 0), 0u);
}

}  // namespace
