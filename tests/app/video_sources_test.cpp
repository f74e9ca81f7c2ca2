// Films as sources, through the ffmpeg program: a CUE sheet over a video
// file gives one output per track, each the film's sound from its own time on,
// and a film named by itself gives its whole first audio stream.
#include <gtest/gtest.h>

#include <fmt/printf.h>

#include <algorithm>
#include <filesystem>

#include "test_support.h"

namespace fs = std::filesystem;

namespace {

constexpr int kSeconds = 12;

struct TFilmRow {
  const char *Extension;
  std::vector<std::string> Codecs;
  int Rate;
  bool Lossless;          // then each track's start is also checked against the whole decode
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

// The film's sound as FFmpeg decodes it on its own, from `start` seconds on
// (seeking before the input, as the program does), 16-bit.
std::vector<int32_t> FFmpegFrom(const std::string &film, double start) {
  std::vector<std::string> cmd = {"ffmpeg", "-v", "error", "-nostdin"};
  if (start > 0) cmd.insert(cmd.end(), {"-ss", fmt::sprintf("%.6f", start)});
  cmd.insert(cmd.end(), {"-i", film, "-map", "0:a:0", "-f", "s16le", "pipe:1"});
  std::string out;
  EXPECT_EQ(RunTool(cmd, &out), 0);
  return AsInt16(std::vector<uint8_t>(out.begin(), out.end()));
}

std::vector<std::string> Outputs(const std::string &folder) {
  std::vector<std::string> names;
  for (const auto &entry : fs::directory_iterator(folder)) names.push_back(entry.path().string());
  std::sort(names.begin(), names.end());
  return names;
}

int Tonmill(const std::vector<std::string> &args, std::string &err) {
  std::vector<std::string> cmd = {TONMILL_BINARY};
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

  const std::vector<int32_t> whole = FFmpegFrom(film, 0);
  for (size_t k = 0; k < kStarts.size(); ++k) {
    SCOPED_TRACE(outputs[k]);
    EXPECT_NE(outputs[k].find(fmt::sprintf("%02d - Song %d.wav", k + 1, k + 1)), std::string::npos);
    const double start = kStarts[k] / 75.0;
    const int64_t first = std::llround(start * row.Rate);
    const int64_t frames = k + 1 < kStarts.size() ? std::llround(kStarts[k + 1] / 75.0 * row.Rate) - first
                                                  : int64_t(whole.size() / 2) - first;
    const std::vector<int32_t> got = AsInt16(FFmpegDecode(outputs[k], "s16le"));
    std::vector<int32_t> expected = FFmpegFrom(film, start);
    if (k + 1 < kStarts.size()) {
      ASSERT_GE(expected.size(), size_t(frames * 2));
      expected.resize(size_t(frames * 2));
      EXPECT_EQ(got.size(), size_t(frames * 2));
    }
    EXPECT_TRUE(got == expected) << got.size() << " samples against " << expected.size();

    // And it starts where the track starts in the film, within FFmpeg's own
    // seeking precision (containers keep times in milliseconds).
    if (row.Lossless && got.size() >= 128) {
      const int64_t tolerance = row.Rate / 500;
      bool found = false;
      for (int64_t d = -tolerance; d <= tolerance && !found; ++d) {
        const int64_t at = (first + d) * 2;
        found = at >= 0 && std::equal(got.begin(), got.begin() + 128, whole.begin() + at);
      }
      EXPECT_TRUE(found) << "track " << k + 1 << " does not start at " << start << " s";
    }
  }

  // The film named by itself: its whole first audio stream.
  ASSERT_EQ(Tonmill({"/input", film, "/output", folder + "/whole", "/dest", "wav"}, err), 0) << err;
  const std::vector<std::string> single = Outputs(folder + "/whole");
  ASSERT_EQ(single.size(), 1u);
  EXPECT_TRUE(AsInt16(FFmpegDecode(single[0], "s16le")) == whole);
}

INSTANTIATE_TEST_SUITE_P(Containers, FilmSources, ::testing::ValuesIn(kFilms),
                         [](const auto &info) { return std::string(info.param.Extension); });

}  // namespace
