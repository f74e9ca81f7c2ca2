// SPDX-License-Identifier: GPL-3.0-or-later
// Films as sources, through the ffmpeg program: a CUE sheet over a video
// file gives one output per track, each exactly its span of the film's whole
// sound, and a film named by itself gives its whole first audio stream. An
// ffmpeg that misbehaves, or none at all, never hangs a run nor leaves a
// process behind, and a film cut short is warned about.
#include <gtest/gtest.h>

#include <fmt/printf.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "test_support.h"

namespace fs = std::filesystem;

namespace {

constexpr int kSeconds = 12;

struct TFilmRow {
  const char *Extension;
  std::vector<std::string> Codecs;
  int Rate;
  bool Lossless;          // then each track is checked sample for sample against the whole decode
  const char *SheetName;  // beside "film.<ext>"
};

void PrintTo(const TFilmRow &row, std::ostream *os) { *os << row.Extension; }

const TFilmRow kFilms[] = {
    {"mkv", {"-c:v", "mpeg4", "-c:a", "flac"}, 48000, true, "film.mkv.cue"},
    {"avi", {"-c:v", "mpeg4", "-c:a", "pcm_s16le"}, 44100, true, "concert.cue"},
    {"flv", {"-c:v", "flv1", "-c:a", "pcm_s16le"}, 44100, true, "concert.cue"},
    {"mpg", {"-c:v", "mpeg2video", "-c:a", "mp2"}, 48000, false, "film.cue"},
    {"vob", {"-c:v", "mpeg2video", "-c:a", "ac3"}, 48000, false, "concert.cue"},
};

// INDEX 01 of each track in CD frames (75 a second).
const std::vector<int> kStarts = {0, 3 * 75 + 17, 7 * 75 + 38, 10 * 75 + 1};

std::string Film(const std::string &folder, const TFilmRow &row) {
  const std::string path = folder + "/film." + row.Extension;
  const std::string rate = std::to_string(row.Rate), seconds = std::to_string(kSeconds);
  std::vector<std::string> cmd = {
      "ffmpeg", "-v", "error", "-y", "-nostdin", "-f", "lavfi", "-i", "testsrc=size=64x48:rate=25:d=" + seconds,
      "-f", "lavfi", "-i", "sine=f=330:r=" + rate + ":d=" + seconds, "-f", "lavfi", "-i",
      "anoisesrc=a=0.2:seed=7:r=" + rate + ":d=" + seconds, "-filter_complex", "[1][2]amerge=inputs=2[a]",
      "-map", "0", "-map", "[a]"};
  cmd.insert(cmd.end(), row.Codecs.begin(), row.Codecs.end());
  cmd.push_back(path);
  std::string err;
  EXPECT_EQ(RunTool(cmd, nullptr, &err), 0) << err;
  return path;
}

// The film's whole sound as FFmpeg decodes it on its own, 16-bit.
std::vector<int32_t> FFmpegWhole(const std::string &film) {
  std::string out;
  EXPECT_EQ(RunTool({"ffmpeg", "-v", "error", "-nostdin", "-i", film, "-map", "0:a:0", "-f", "s16le", "pipe:1"}, &out), 0);
  return AsInt16(std::vector<uint8_t>(out.begin(), out.end()));
}

std::vector<std::string> Outputs(const std::string &folder) {
  std::vector<std::string> names;
  for (const auto &entry : fs::directory_iterator(folder)) names.push_back(entry.path().string());
  std::sort(names.begin(), names.end());
  return names;
}

// The program under a bound: a run that hangs is killed and fails the test.
int Tonmill(const std::vector<std::string> &args, std::string &err) {
  std::vector<std::string> cmd = {"/usr/bin/timeout", "-s", "KILL", "180", TONMILL_BINARY};
  cmd.insert(cmd.end(), args.begin(), args.end());
  return RunTool(cmd, nullptr, &err);
}

class FilmSources : public ::testing::TestWithParam<TFilmRow> {};

TEST_P(FilmSources, ACueSheetCutsTheFilmsSoundIntoTracks) {
  const TFilmRow &row = GetParam();
  const std::string folder = TestProfileFolder();
  const std::string film = Film(folder, row);
  std::string sheet = "PERFORMER \"Live Band\"\nTITLE \"Concert\"\nFILE \"film." + std::string(row.Extension) + "\" MP3\n";
  for (size_t k = 0; k < kStarts.size(); ++k)
    sheet += fmt::sprintf("  TRACK %02d AUDIO\n    TITLE \"Song %d\"\n    INDEX 01 %02d:%02d:%02d\n", k + 1, k + 1,
                          kStarts[k] / 75 / 60, kStarts[k] / 75 % 60, kStarts[k] % 75);
  WriteText(folder + "/" + row.SheetName, sheet);

  std::string err;
  ASSERT_EQ(Tonmill({"/input", folder + "/" + row.SheetName, "/output", folder + "/out", "/dest", "wav"}, err), 0)
      << err;
  const std::vector<std::string> outputs = Outputs(folder + "/out");
  ASSERT_EQ(outputs.size(), kStarts.size()) << err;

  // The tracks tile the film's whole sound: each is exactly its span (lossy
  // codecs: of the same length, their samples within the codec's own frame).
  const std::vector<int32_t> whole = FFmpegWhole(film);
  size_t tiled = 0;
  for (size_t k = 0; k < kStarts.size(); ++k) {
    SCOPED_TRACE(outputs[k]);
    EXPECT_NE(outputs[k].find(fmt::sprintf("%02d - Song %d.wav", k + 1, k + 1)), std::string::npos);
    const size_t first = size_t(std::llround(kStarts[k] / 75.0 * row.Rate)) * 2;
    const size_t end = k + 1 < kStarts.size() ? size_t(std::llround(kStarts[k + 1] / 75.0 * row.Rate)) * 2 : whole.size();
    const std::vector<int32_t> got = AsInt16(FFmpegDecode(outputs[k], "s16le"));
    ASSERT_EQ(got.size(), end - first);
    if (row.Lossless) {
      EXPECT_TRUE(std::equal(got.begin(), got.end(), whole.begin() + ptrdiff_t(first))) << "track " << k + 1;
    } else {  // in place: a frame off, the noise in the sound would not match
      const std::vector<int32_t> span(whole.begin() + ptrdiff_t(first), whole.begin() + ptrdiff_t(end));
      EXPECT_GT(SnrDb(span, got, 2), 20.0) << "track " << k + 1;
    }
    tiled += got.size();
  }
  EXPECT_EQ(tiled, whole.size());

  // The film named by itself: its whole first audio stream.
  ASSERT_EQ(Tonmill({"/input", film, "/output", folder + "/whole", "/dest", "wav"}, err), 0) << err;
  const std::vector<std::string> single = Outputs(folder + "/whole");
  ASSERT_EQ(single.size(), 1u);
  EXPECT_TRUE(AsInt16(FFmpegDecode(single[0], "s16le")) == whole);
}

INSTANTIATE_TEST_SUITE_P(Containers, FilmSources, ::testing::ValuesIn(kFilms),
                         [](const auto &info) { return std::string(info.param.Extension); });

// The real ffmpeg, found on PATH before any test changes it.
std::string RealFFmpeg() {
  const std::string path = std::getenv("PATH");
  for (size_t from = 0; from <= path.size();) {
    size_t end = path.find(':', from);
    if (end == std::string::npos) end = path.size();
    const std::string candidate = path.substr(from, end - from) + "/ffmpeg";
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    from = end + 1;
  }
  return "ffmpeg";
}

// Whether process `pid` still runs (a zombie waiting for its parent does not).
bool Running(const std::string &pid) {
  const std::string stat = ReadText("/proc/" + pid + "/stat");
  const size_t close = stat.rfind(')');
  return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

// An `ffmpeg` on PATH in place of the real one, or none at all. REAL stands
// for the real program, PIDS for a file the script notes its processes in.
struct TFakeRow {
  const char *Name;
  const char *Script;     // nullptr: the real ffmpeg; "": no ffmpeg anywhere
  const char *Extension;  // of the film, "mka" read without ffmpeg
  bool Truncated;         // the film is cut in half
  int Status;             // of the run
  const char *Says;       // in what the run reports
};

void PrintTo(const TFakeRow &row, std::ostream *os) { *os << row.Name; }

const TFakeRow kFakes[] = {
    {"closes_output_and_stays",
     "case \" $* \" in *\" pipe:1 \"*) echo $$ >>PIDS; exec >&- 2>&-; exec sleep 600;; esac\nexec REAL \"$@\"\n",
     "mkv", false, 1, "still running 5 seconds after the end of its output"},
    {"wrapper_child_outlives_it", "REAL \"$@\"\nstatus=$?\nsleep 600 &\necho $! >>PIDS\nexit $status\n", "mkv", false, 0,
     "converted"},
    {"none_at_all", "", "mkv", false, 1, "The sound of films is read by the ffmpeg program, which was not found"},
    {"impossible_report",
     "echo \"Input #0, matroska,webm, from '$4':\n  Duration: 00:00:12.00, start: 0.000000, bitrate: 843 kb/s\n"
     "  Stream #0:0: Audio: pcm_s16le, 0 Hz, 65535 channels, s16\" >&2\nexit 1\n",
     "mkv", false, 1, "it is not an audio file this program can read"},
    {"ends_early_saying_done", "case \" $* \" in *\" pipe:1 \"*) REAL \"$@\" | head -c 300000; exit 0;; esac\nexec REAL \"$@\"\n",
     "mkv", false, 0, "warning: "},
    {"truncated_mkv", nullptr, "mkv", true, 0, "warning: "},
    {"truncated_mka", nullptr, "mka", true, 0, "warning: "},
};

class FakeFFmpeg : public ::testing::TestWithParam<TFakeRow> {};

TEST_P(FakeFFmpeg, EndsInBoundedTimeAndLeavesNothingRunning) {
  const TFakeRow &row = GetParam();
  const std::string folder = TestProfileFolder();
  const std::string film = folder + "/film." + row.Extension;
  std::vector<std::string> make = {"ffmpeg", "-v", "error", "-y", "-nostdin", "-f", "lavfi", "-i",
                                   "sine=f=330:r=48000:d=12"};
  if (std::string(row.Extension) != "mka")
    make.insert(make.end(), {"-f", "lavfi", "-i", "testsrc=size=64x48:rate=25:d=12", "-map", "0", "-map", "1"});
  make.insert(make.end(), {"-ac", "2", "-c:a", "flac", film});
  ASSERT_EQ(RunTool(make), 0);
  if (row.Truncated) CutInHalf(film);

  const std::string bin = folder + "/bin", pids = folder + "/pids", oldPath = std::getenv("PATH");
  fs::create_directory(bin);
  if (row.Script && *row.Script) {
    std::string script = std::string("#!/bin/sh\n") + row.Script;
    for (const auto &[mark, value] : {std::pair<std::string, std::string>{"REAL", RealFFmpeg()}, {"PIDS", pids}})
      for (size_t at; (at = script.find(mark)) != std::string::npos;) script.replace(at, mark.size(), value);
    WriteText(bin + "/ffmpeg", script);
    fs::permissions(bin + "/ffmpeg", fs::perms::owner_all);
  }
  if (row.Script) setenv("PATH", (*row.Script ? bin + ":" + oldPath : bin).c_str(), 1);
  std::string err;
  const int status = Tonmill({"/input", film, "/output", folder + "/out", "/dest", "wav"}, err);
  setenv("PATH", oldPath.c_str(), 1);

  EXPECT_EQ(status, row.Status) << err;
  EXPECT_NE(err.find(row.Says), std::string::npos) << err;
  // Nothing the program started outlives its run.
  std::istringstream started(ReadText(pids));
  for (std::string pid; std::getline(started, pid);) {
    EXPECT_FALSE(Running(pid)) << "process " << pid << " outlived the run";
    if (Running(pid)) kill(std::stoi(pid), SIGKILL);
  }
  if (row.Status == 0) {
    const std::vector<std::string> outputs = Outputs(folder + "/out");
    ASSERT_EQ(outputs.size(), 1u);
    if (!row.Truncated && std::string(row.Says) != "warning: ") {
      EXPECT_TRUE(FFmpegDecode(outputs[0], "s16le") == FFmpegDecode(film, "s16le"));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Programs, FakeFFmpeg, ::testing::ValuesIn(kFakes),
                         [](const auto &info) { return std::string(info.param.Name); });

}  // namespace
