// SPDX-License-Identifier: GPL-3.0-or-later
// CUE sheets beside their images, dropped on the window and converted for real: each track one output,
// the outputs laid end to end the image, sample for sample.
#include <QPushButton>

#include <filesystem>
#include <set>

#include <fmt/format.h>

#include "base/texts.h"
#include "window_fixture.h"

namespace {

constexpr int kFrameBytes = 4;  // 16-bit stereo

std::string CueTime(int frames) { return fmt::format("{:02}:{:02}:{:02}", frames / 75 / 60, frames / 75 % 60, frames % 75); }

enum TTitles { tTrackTitles, tSheetOnly, tNone };

// Extras: CATALOG, REM, FLAGS, ISRC and INDEX 00 lines; FileLine: what the sheet's FILE line names (a path from the
// sheet's folder); DropFolder: the folder is dropped, rather than the sheet itself; the image is "Album Image.<Type>".
struct TSheetRow {
  const char *Name;
  int Tracks;
  bool Extras, Crlf, FinalNewline;
  TTitles Titles;
  const char *SheetName, *FileLine;
  bool DropFolder;
  const char *Type = "flac";
};

void PrintTo(const TSheetRow &row, std::ostream *os) { *os << row.Name; }

const TSheetRow kRows[] = {
    {"one_track_for_a_wav", 1, false, true, false, tNone, "rip.cue", "Album Image.wav", true},
    {"two_other_case", 2, true, true, true, tTrackTitles, "rip.cue", "album image.FLAC", false},
    {"two_for_a_wav", 2, false, false, false, tSheetOnly, "Rip.cue", "Album Image.wav", true},
    {"two_untitled_no_extension", 2, true, false, true, tNone, "album image.cue", "../album/Album Image", false},
    {"ninety_nine_for_a_wav", 99, true, true, true, tSheetOnly, "zz.cue", "ALBUM IMAGE.wav", false},
    {"two_in_wavpack", 2, true, false, true, tTrackTitles, "Album Image.cue", "Album Image.wv", true, "wv"},
};

// INDEX 01 of each track in CD frames: uneven lengths from 0 on.
std::vector<int> TrackStarts(int tracks) {
  std::vector<int> starts;
  for (int k = 0; k < tracks; ++k) starts.push_back(k * 20 + (k * k) % 7);
  return starts;
}

std::string Sheet(const TSheetRow &row) {
  const std::vector<int> starts = TrackStarts(row.Tracks);
  std::vector<std::string> lines;
  if (row.Extras)
    lines.insert(lines.end(), {"REM GENRE Rock", "REM DATE 2001", "REM COMMENT \"ExactAudioCopy v1.0b3\"", "CATALOG 0724356684727"});
  if (row.Titles != tNone) lines.insert(lines.end(), {"PERFORMER \"The Band\"", "TITLE \"Live Image\""});
  lines.push_back(std::string("FILE \"") + row.FileLine + "\" WAVE");
  for (int k = 0; k < row.Tracks; ++k) {
    lines.push_back(fmt::format("  TRACK {:02} AUDIO", k + 1));
    if (row.Titles == tTrackTitles) lines.push_back(fmt::format("    TITLE \"Song {:02}\"", k + 1));
    if (row.Extras) {
      lines.insert(lines.end(), {"    FLAGS DCP", fmt::format("    ISRC GBAYE01000{:02}", k + 1)});
      if (k > 0) lines.push_back("    INDEX 00 " + CueTime(starts[size_t(k)] - 3));
    }
    lines.push_back("    INDEX 01 " + CueTime(starts[size_t(k)]));
  }
  std::string text;
  for (size_t i = 0; i < lines.size(); ++i)
    text += lines[i] + (i + 1 < lines.size() || row.FinalNewline ? (row.Crlf ? "\r\n" : "\n") : "");
  return text;
}

class CueSheetRuns : public TWindowTest, public ::testing::WithParamInterface<TSheetRow> {};

// Each track one output; the outputs, decoded by one ffmpeg process, laid end to end are the image from the
// first start on, each from its start to the next.
TEST_P(CueSheetRuns, DroppedOnTheWindow) {
  const TSheetRow &row = GetParam();
  const std::string album = Folder + "/album", image = album + "/Album Image." + row.Type;
  fs::create_directories(album);
  const TTestSignal signal{.Seconds = (row.Tracks * 20 + 30) / 75.0 + 0.0123};
  WriteSignal(image, signal, {"-c:a", row.Type == std::string("wv") ? "wavpack" : "flac"});
  const std::vector<uint8_t> whole = FFmpegDecode(image, "s16le");
  ASSERT_EQ(whole.size(), size_t(FrameCount(signal)) * kFrameBytes);
  WriteText(album + "/" + row.SheetName, Sheet(row));
  ChooseOutput(Window->rbWAV);
  Window->DropFiles({row.DropFolder ? album : album + "/" + row.SheetName}, false);
  EXPECT_EQ(Window->lInputFiles->text().toStdString(), std::string("1(") + row.Type + "+CUE)");
  Window->bStart->click();
  EXPECT_EQ(Errors, std::vector<std::string>{});
  EXPECT_EQ(Line(), row.Tracks == 1 ? FormatText(text_files_were_processed1, 1)
                                    : FormatText(text_tracks_of_files_were_processed1, row.Tracks, 1));
  std::set<std::string> written, wanted;
  for (const auto &entry : fs::directory_iterator(Chosen)) written.insert(entry.path().filename().string());
  for (int k = 1; k <= row.Tracks; ++k) {
    if (row.Tracks == 1) wanted.insert("Album Image.wav");  // a one-track sheet is the whole source
    else if (row.Titles == tTrackTitles) wanted.insert(fmt::format("{0:02} - Song {0:02}.wav", k));
    else wanted.insert(fmt::format("{:02} - {}.wav", k,
                                   row.Titles == tSheetOnly ? "The Band - Live Image" : "Album Image"));
  }
  ASSERT_EQ(written, wanted);
  std::vector<std::string> args = {"ffmpeg", "-v", "error", "-y"};
  for (const std::string &name : written) args.insert(args.end(), {"-i", Chosen + "/" + name});
  for (int k = 0; k < row.Tracks; ++k)
    args.insert(args.end(), {"-map", std::to_string(k) + ":a", "-f", "s16le", Folder + "/" + std::to_string(k)});
  ASSERT_EQ(RunTool(args), 0);
  const std::vector<int> starts = TrackStarts(row.Tracks);
  const auto at = [&](int k) {  // where track k starts in the image, in bytes
    return k < row.Tracks ? size_t(starts[size_t(k)]) * (44100 / 75) * kFrameBytes : whole.size();
  };
  std::vector<uint8_t> joined;
  for (int k = 0; k < row.Tracks; ++k) {
    const std::vector<uint8_t> part = ReadFileBytes(Folder + "/" + std::to_string(k));
    EXPECT_EQ(part.size(), at(k + 1) - at(k)) << k;
    joined.insert(joined.end(), part.begin(), part.end());
  }
  EXPECT_TRUE(joined == std::vector<uint8_t>(whole.begin() + std::ptrdiff_t(at(0)), whole.end()))
      << "the tracks are not the image from frame " << starts[0];
}

INSTANTIATE_TEST_SUITE_P(Sheets, CueSheetRuns, ::testing::ValuesIn(kRows),
                         [](const auto &info) { return std::string(info.param.Name); });

}  // namespace
