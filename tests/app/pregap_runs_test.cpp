// SPDX-License-Identifier: GPL-3.0-or-later
// CUE sheets with a hidden track before track 1 and with pregaps (INDEX 00),
// laid over one generated image and converted by the program under every
// combination of /hiddentrack and /ownpregaps. Whatever the cut, the outputs
// laid end to end are the image (from the first kept sample), each as long
// as the sheet says.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "test_support.h"

namespace fs = std::filesystem;

namespace {

constexpr int kSamplesPerCdFrame = 44100 / 75;
constexpr int kFrameBytes = 4;  // 16-bit stereo
constexpr int kImageCdFrames = 230;

// One track of a sheet, in CD frames; -1: no INDEX 00 line.
struct TTrack {
  int Index00;
  int Index01;
};

struct TSheetRow {
  const char *Name;
  std::vector<TTrack> Tracks;
};

const TSheetRow kSheets[] = {
    {"plain", {{-1, 0}, {-1, 40}, {-1, 95}}},
    {"audio_before_track_1", {{-1, 30}, {-1, 80}, {-1, 140}}},
    {"pregaps", {{-1, 0}, {37, 45}, {90, 100}}},
    {"pregap_of_track_1_at_zero", {{0, 30}, {60, 70}, {-1, 110}, {150, 151}}},
    {"pregap_of_track_1_late", {{12, 30}, {60, 70}}},
};

struct TOptions {
  bool Hidden, OwnPregaps;
};

std::string CueTime(int frames) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", frames / 75 / 60, frames / 75 % 60, frames % 75);
  return text;
}

std::string Sheet(const TSheetRow &row) {
  std::string text = "PERFORMER \"The Band\"\nTITLE \"Pregaps\"\nFILE \"image.flac\" WAVE\n";
  for (size_t k = 0; k < row.Tracks.size(); ++k) {
    const std::string number = fmt::format("{:02}", k + 1);
    text += std::string("  TRACK ") + number + " AUDIO\n    TITLE \"Song " + number + "\"\n";
    if (row.Tracks[k].Index00 >= 0) text += "    INDEX 00 " + CueTime(row.Tracks[k].Index00) + "\n";
    text += "    INDEX 01 " + CueTime(row.Tracks[k].Index01) + "\n";
  }
  return text;
}

// What the sheet says the run writes: each output's name and first CD frame.
std::vector<std::pair<std::string, int>> ExpectedTracks(const TSheetRow &row, TOptions options) {
  std::vector<std::pair<std::string, int>> tracks;
  for (size_t k = 0; k < row.Tracks.size(); ++k) {
    const TTrack &t = row.Tracks[k];
    const std::string name = fmt::format("{0:02} - Song {0:02}", k + 1);
    tracks.push_back({name, options.OwnPregaps && t.Index00 >= 0 ? t.Index00 : t.Index01});
  }
  if (options.Hidden && tracks.front().second > 0) tracks.insert(tracks.begin(), {"00 - Hidden track", 0});
  return tracks;
}

class PregapRuns : public ::testing::TestWithParam<TOptions> {
 protected:
  void SetUp() override {
    Folder = TestProfileFolder();
    const TTestSignal signal{.Seconds = kImageCdFrames / 75.0};
    WriteSignal(Folder + "/image.flac", signal, {"-c:a", "flac"});
    Image = FFmpegDecode(Folder + "/image.flac", "s16le");
    ASSERT_EQ(Image.size(), size_t(kImageCdFrames) * kSamplesPerCdFrame * kFrameBytes);
  }

  std::string Folder;
  std::vector<uint8_t> Image;
};

TEST_P(PregapRuns, TracksTileTheImage) {
  const TOptions options = GetParam();
  // Both lossless outputs: FLAC when pregaps are their tracks' own, else WAV.
  const std::string extension = options.OwnPregaps ? "flac" : "wav";
  for (const TSheetRow &row : kSheets) {
    SCOPED_TRACE(row.Name);
    const std::string sheet = WriteText(Folder + "/" + row.Name + ".cue", Sheet(row));
    const std::string out = Folder + "/out-" + row.Name;
    std::vector<std::string> args = {TONMILL_BINARY, "/input", sheet, "/output", out, "/dest", extension, "/q"};
    if (options.Hidden) args.push_back("/hiddentrack");
    if (options.OwnPregaps) args.push_back("/ownpregaps");
    std::string err;
    ASSERT_EQ(RunTool(args, nullptr, &err), 0) << err;

    const std::vector<std::pair<std::string, int>> expected = ExpectedTracks(row, options);
    std::set<std::string> written, wanted;
    for (const auto &entry : fs::directory_iterator(out)) written.insert(entry.path().filename().string());
    for (const auto &[name, start] : expected) wanted.insert(name + "." + extension);
    EXPECT_EQ(written, wanted);
    if (written != wanted) continue;

    std::vector<uint8_t> joined;
    for (size_t k = 0; k < expected.size(); ++k) {
      const std::vector<uint8_t> part = FFmpegDecode(out + "/" + expected[k].first + "." + extension, "s16le");
      const int next = k + 1 < expected.size() ? expected[k + 1].second : kImageCdFrames;
      EXPECT_EQ(part.size() / kFrameBytes, size_t(next - expected[k].second) * kSamplesPerCdFrame)
          << expected[k].first;
      joined.insert(joined.end(), part.begin(), part.end());
    }
    const size_t first = size_t(expected.front().second) * kSamplesPerCdFrame * kFrameBytes;
    EXPECT_TRUE(joined == std::vector<uint8_t>(Image.begin() + std::ptrdiff_t(first), Image.end()))
        << "the tracks are not the image from frame " << expected.front().second;
  }
}

INSTANTIATE_TEST_SUITE_P(Options, PregapRuns,
                         ::testing::Values(TOptions{false, false}, TOptions{true, false}, TOptions{false, true},
                                           TOptions{true, true}),
                         [](const auto &info) {
                           return std::string(info.param.Hidden ? "HiddenTrack" : "NoHiddenTrack") +
                                  (info.param.OwnPregaps ? "_OwnPregaps" : "_PregapsToThePrevious");
                         });

}  // namespace
