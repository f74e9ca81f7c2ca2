// SPDX-License-Identifier: GPL-3.0-or-later
// CUE sheets as rippers leave them beside their images, named unlike the
// audio and written in every common way, converted for real: dropped on the
// window and given to the program with /input. Each track becomes one output,
// and the outputs laid end to end are the image, sample for sample.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QString>

#include <filesystem>
#include <set>

#include "app/settings_store.h"
#include "app/windows/Unit1.h"
#include "base/texts.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

enum TTitles { tTrackTitles, tSheetOnly, tNone, tTooLong };

// A title of 300 bytes and more (characters of 2, 3 and 4 bytes), longer than
// a file name may be; the tracks' titles differ only at their ends.
std::string LongTitle(int track) {
  std::string title;
  while (title.size() < 300) title += "Gr\u00fc\u00dfe \u20ac \U0001D11E ";
  return title + "Song " + std::to_string(track);
}

struct TSheetRow {
  const char *Name;
  int Tracks;
  bool Extras;        // CATALOG, REM, FLAGS, ISRC and INDEX 00 lines
  bool Crlf;
  bool FinalNewline;
  TTitles Titles;
  const char *SheetName;  // the audio is always "Album Image.flac"
  const char *FileLine;   // what the sheet's FILE line names
  bool DropFolder;        // the folder, rather than the sheet itself
};

void PrintTo(const TSheetRow &row, std::ostream *os) { *os << row.Name; }

const TSheetRow kRows[] = {
    {"one_track", 1, true, false, true, tTrackTitles, "rip.cue", "Album Image.flac", false},
    {"one_track_for_a_wav", 1, false, true, false, tNone, "rip.cue", "Album Image.wav", true},
    {"two_other_case", 2, true, true, true, tTrackTitles, "rip.cue", "album image.FLAC", false},
    {"two_for_a_wav", 2, false, false, false, tSheetOnly, "Rip.cue", "Album Image.wav", true},
    {"two_untitled", 2, true, false, true, tNone, "album image.cue", "Album Image.flac", true},
    {"two_too_long", 2, false, false, true, tTooLong, "rip.cue", "Album Image.flac", false},
    {"ninety_nine", 99, true, true, false, tTrackTitles, "rip.cue", "Album Image.flac", true},
    {"ninety_nine_for_a_wav", 99, false, false, true, tSheetOnly, "zz.cue", "ALBUM IMAGE.wav", false},
};

constexpr int kRate = 44100;
constexpr int kFrameBytes = 4;  // 16-bit stereo

// INDEX 01 of each track in CD frames (75 a second): uneven lengths from 0 on.
std::vector<int> TrackStarts(int tracks) {
  std::vector<int> starts;
  for (int k = 0; k < tracks; ++k) starts.push_back(k * 20 + (k * k) % 7);
  return starts;
}

std::string CueTime(int frames) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", frames / 75 / 60, frames / 75 % 60, frames % 75);
  return text;
}

std::string Sheet(const TSheetRow &row) {
  const std::vector<int> starts = TrackStarts(row.Tracks);
  std::vector<std::string> lines;
  if (row.Extras) {
    lines.push_back("REM GENRE Rock");
    lines.push_back("REM DATE 2001");
    lines.push_back("REM COMMENT \"ExactAudioCopy v1.0b3\"");
    lines.push_back("CATALOG 0724356684727");
  }
  if (row.Titles != tNone) {
    lines.push_back("PERFORMER \"The Band\"");
    lines.push_back("TITLE \"Live Image\"");
  }
  lines.push_back(std::string("FILE \"") + row.FileLine + "\" WAVE");
  for (int k = 0; k < row.Tracks; ++k) {
    char number[12];
    std::snprintf(number, sizeof number, "%02d", k + 1);
    lines.push_back(std::string("  TRACK ") + number + " AUDIO");
    if (row.Titles == tTrackTitles) lines.push_back(std::string("    TITLE \"Song ") + number + "\"");
    if (row.Titles == tTooLong) lines.push_back("    TITLE \"" + LongTitle(k + 1) + "\"");
    if (row.Extras) {
      lines.push_back("    FLAGS DCP");
      lines.push_back(std::string("    ISRC GBAYE01000") + number);
      if (k > 0) lines.push_back("    INDEX 00 " + CueTime(starts[size_t(k)] - 3));
    }
    lines.push_back("    INDEX 01 " + CueTime(starts[size_t(k)]));
  }
  std::string text;
  for (size_t i = 0; i < lines.size(); ++i) {
    text += lines[i];
    if (i + 1 < lines.size() || row.FinalNewline) text += row.Crlf ? "\r\n" : "\n";
  }
  return text;
}

// The output names a run must write, in track order (WAV).
std::vector<std::string> ExpectedOutputs(const TSheetRow &row) {
  if (row.Tracks == 1) return {"Album Image.wav"};  // a one-track sheet is the whole source
  std::vector<std::string> names;
  for (int k = 1; k <= row.Tracks; ++k) {
    char number[12];
    std::snprintf(number, sizeof number, "%02d", k);
    const std::string title = row.Titles == tTrackTitles ? std::string("Song ") + number
                              : row.Titles == tSheetOnly ? "The Band - Live Image"
                                                         : "Album Image";
    names.push_back(std::string(number) + " - " + title + ".wav");
  }
  return names;
}

// Decodes every file with one ffmpeg process (one process per track of 99
// would cost far more than the run), as 16-bit samples.
std::vector<std::vector<uint8_t>> DecodeAll(const std::vector<std::string> &paths,
                                            const std::string &scratch) {
  std::vector<std::string> args = {"ffmpeg", "-v", "error", "-y"};
  for (const std::string &path : paths) args.insert(args.end(), {"-i", path});
  for (size_t i = 0; i < paths.size(); ++i)
    args.insert(args.end(),
                {"-map", std::to_string(i) + ":a", "-f", "s16le", scratch + "/" + std::to_string(i) + ".raw"});
  fs::create_directories(scratch);
  std::string err;
  EXPECT_EQ(RunTool(args, nullptr, &err), 0) << err;
  std::vector<std::vector<uint8_t>> decoded;
  for (size_t i = 0; i < paths.size(); ++i)
    decoded.push_back(ReadFileBytes(scratch + "/" + std::to_string(i) + ".raw"));
  fs::remove_all(scratch);
  return decoded;
}

class CueSheetRuns : public ::testing::TestWithParam<TSheetRow> {
 protected:
  void SetUp() override {
    Folder = TestProfileFolder();
    const TSheetRow &row = GetParam();
    Album = Folder + "/album";
    fs::create_directories(Album);
    const TTestSignal signal{.Seconds = (row.Tracks * 20 + 30) / 75.0 + 0.0123};
    WriteSignal(Album + "/Album Image.flac", signal, {"-c:a", "flac"});
    Image = FFmpegDecode(Album + "/Album Image.flac", "s16le");
    ASSERT_EQ(Image.size(), size_t(FrameCount(signal)) * kFrameBytes);
    const std::string text = Sheet(row);
    WriteText(Album + "/" + row.SheetName, text);
  }

  std::string Dropped() const {
    return GetParam().DropFolder ? Album : Album + "/" + GetParam().SheetName;
  }

  // Every output is there, no other, each as long as its track, and together
  // they are the image.
  void CheckOutputs(const std::string &out) {
    const TSheetRow &row = GetParam();
    std::vector<std::string> expected = ExpectedOutputs(row);
    std::set<std::string> written;
    for (const auto &entry : fs::directory_iterator(out)) written.insert(entry.path().filename().string());
    if (row.Titles == tTooLong) {  // cut to fit a file name: the number, whole characters, the extension kept
      expected.assign(written.begin(), written.end());
      ASSERT_EQ(expected.size(), size_t(row.Tracks));
      for (size_t k = 0; k < expected.size(); ++k) {
        const std::string &name = expected[k];
        EXPECT_LE(name.size(), 255u);
        EXPECT_TRUE(name.starts_with("0" + std::to_string(k + 1) + " - " + LongTitle(0).substr(0, 200))) << name;
        EXPECT_TRUE(name.ends_with(".wav")) << name;
        EXPECT_TRUE(QString::fromUtf8(name.data(), qsizetype(name.size())).toUtf8().toStdString() == name) << name;
      }
    }
    const std::set<std::string> wanted(expected.begin(), expected.end());
    EXPECT_EQ(written, wanted);
    if (written != wanted) return;
    const std::vector<int> starts = TrackStarts(row.Tracks);
    const size_t total = Image.size() / kFrameBytes;
    std::vector<std::string> paths;
    for (const std::string &name : expected) paths.push_back(out + "/" + name);
    std::vector<uint8_t> joined;
    const std::vector<std::vector<uint8_t>> parts = DecodeAll(paths, Folder + "/decoded");
    for (size_t k = 0; k < parts.size(); ++k) {
      const size_t first = size_t(starts[k]) * kRate / 75;
      const size_t next = k + 1 < parts.size() ? size_t(starts[k + 1]) * kRate / 75 : total;
      EXPECT_EQ(parts[k].size() / kFrameBytes, next - first) << expected[k];
      joined.insert(joined.end(), parts[k].begin(), parts[k].end());
    }
    EXPECT_EQ(joined.size(), Image.size());
    EXPECT_TRUE(joined == Image) << "the tracks are not the image";
  }

  std::string Folder, Album;
  std::vector<uint8_t> Image;
};

TEST_P(CueSheetRuns, DroppedOnTheWindow) {
  TSettingsStore store;
  Tmain window(TParsedCommandLine{}, store);
  std::vector<std::string> errors, messages;
  window.ShowMessage = [&](const QString &text) { messages.push_back(text.toStdString()); };
  window.ShowError = [&](const std::string &report) { errors.push_back(report); };
  const std::string out = Folder + "/out";
  fs::create_directories(out);
  window.ChooseFolder = [&](const QString &) { return QString::fromStdString(out); };
  window.bBrowseForFolderClick();
  window.rbWAV->click();
  window.cbCreateFull->setChecked(false);

  window.DropFiles({Dropped()}, false);
  EXPECT_EQ(window.lInputFiles->text().toStdString(), "1(flac+CUE)");
  window.bStart->click();
  EXPECT_EQ(errors, std::vector<std::string>{});
  const int tracks = GetParam().Tracks;
  EXPECT_EQ(window.lProgress1->text().toStdString(),
            tracks == 1 ? FormatText(text_files_were_processed1, 1)
                        : FormatText(text_tracks_of_files_were_processed1, tracks, 1));
  CheckOutputs(out);
}

TEST_P(CueSheetRuns, GivenToBatchMode) {
  const std::string out = Folder + "/out";
  std::string err;
  ASSERT_EQ(RunTool({TONMILL_BINARY, "/input", Dropped(), "/output", out, "/dest", "wav", "/q"}, nullptr, &err),
            0) << err;
  CheckOutputs(out);
}

// Sheets that cannot be cut into tracks, and one whose audio is missing: each
// is one failure naming the sheet. Kept going, everything else converts;
// without, the run stops before anything is written. The same in a folder
// run and in the window.
TEST(BadSheets, AreOneFailureEachAndKeepGoingConvertsTheRest) {
  const std::string home = TestProfileFolder();
  auto sheet = [](const char *number, const char *second) {
    return std::string("FILE \"img.flac\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:01:00\n  TRACK ") + number +
           " AUDIO\n    INDEX 01 " + second + "\n";
  };
  const struct {
    const char *Name;
    std::string Sheet;
    bool Audio;
  } rows[] = {
      {"a track ending before it starts", sheet("02", "00:00:30"), true},
      {"zz as a track number", sheet("zz", "00:01:30"), true},
      {"00:0x:00 as a time", sheet("02", "00:0x:00"), true},
      {"its audio missing", sheet("02", "00:01:30"), false},
  };
  enum TWay { tStops, tKeepsGoing, tFolder, tWindow };
  const TTestSignal good{.Seconds = 0.5};
  for (const auto &row : rows) {
    for (const TWay way : {tStops, tKeepsGoing, tFolder, tWindow}) {
      SCOPED_TRACE(std::string(row.Name) + ", way " + std::to_string(way));
      const std::string in = home + "/in", out = home + "/out", cue = in + "/album.cue";
      fs::remove_all(in);
      fs::remove_all(out);
      fs::create_directories(in);
      const std::string source = WriteSignal(in + "/good.flac", good, {"-c:a", "flac"});
      if (row.Audio) WriteSignal(in + "/img.flac", {.Seconds = 2}, {"-c:a", "flac"});
      WriteText(cue, row.Sheet);
      std::string err;
      TSettingsStore store;  // keep going stored for the window only
      ASSERT_EQ(store.WriteSettings({{"KeepGoing", way == tWindow}}), "");
      if (way == tWindow) {
        Tmain window(TParsedCommandLine{}, store);
        std::vector<std::string> errors;
        window.ShowError = [&](const std::string &report) { errors.push_back(report); };
        window.ShowMessage = [](const QString &) {};
        window.ChooseFolder = [&](const QString &) { return QString::fromStdString(out); };
        fs::create_directories(out);
        window.bBrowseForFolderClick();
        window.rbFLAC->click();
        window.cbCreateFull->setChecked(false);
        window.DropFiles({in}, false);
        window.bStart->click();
        ASSERT_EQ(errors.size(), 1u);
        err = errors[0];
        EXPECT_EQ(window.lProgress1->text().toStdString(), FormatText(text_run_counts, 1, 2, 1, 0));
      } else {
        std::vector<std::string> args = {TONMILL_BINARY, "/input"};
        if (way == tFolder)
          args.push_back(in);
        else
          args.insert(args.end(), {source, cue});
        args.insert(args.end(), {"/output", out, "/dest", "flac"});
        if (way != tStops) args.push_back("/keepgoing");
        EXPECT_EQ(RunTool(args, nullptr, &err), 1) << err;
        EXPECT_NE(err.find(way == tStops ? "converted 0 of" : "converted 1 of 2, failed 1, stopped 0"),
                  std::string::npos) << err;
      }
      EXPECT_NE(err.find(cue), std::string::npos) << err;
      std::set<std::string> written;
      if (fs::exists(out))
        for (const auto &entry : fs::directory_iterator(out)) written.insert(entry.path().filename().string());
      EXPECT_EQ(written, way == tStops ? std::set<std::string>{} : std::set<std::string>{"good.flac"});
      if (written.count("good.flac")) {
        EXPECT_EQ(FFmpegDecode(out + "/good.flac", "s16le"), MakeSamples(good));
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Sheets, CueSheetRuns, ::testing::ValuesIn(kRows),
                         [](const auto &info) { return std::string(info.param.Name); });

}  // namespace
