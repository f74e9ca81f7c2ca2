// SPDX-License-Identifier: GPL-3.0-or-later
// CUE sheets beside their images, converted for real: each track one output, the outputs laid end to end
// the image, sample for sample (from the first kept sample). The window keeps going and skips what exists.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QString>

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <set>

#include <fmt/format.h>

#include "app/settings_store.h"
#include "app/windows/Unit1.h"
#include "base/texts.h"
#include "test_support.h"
#include "window_fixture.h"

namespace fs = std::filesystem;

namespace {

constexpr int kSamplesPerCdFrame = 44100 / 75;
constexpr int kFrameBytes = 4;  // 16-bit stereo

std::string CueTime(int frames) { return fmt::format("{:02}:{:02}:{:02}", frames / 75 / 60, frames / 75 % 60, frames % 75); }

// The outputs, decoded by one ffmpeg process, laid end to end are the image
// from the first start on, each from its start (in CD frames) to the next.
void ExpectTiles(const std::vector<std::string> &paths, const std::vector<int> &starts, const std::vector<uint8_t> &image,
                 const std::string &scratch) {
  std::vector<std::string> args = {"ffmpeg", "-v", "error", "-y"};
  for (const std::string &path : paths) args.insert(args.end(), {"-i", path});
  fs::create_directories(scratch);
  for (size_t i = 0; i < paths.size(); ++i)
    args.insert(args.end(), {"-map", std::to_string(i) + ":a", "-f", "s16le", scratch + "/" + std::to_string(i) + ".raw"});
  ASSERT_EQ(RunTool(args), 0);
  std::vector<uint8_t> joined;
  for (size_t k = 0; k < paths.size(); ++k) {
    const std::vector<uint8_t> part = ReadFileBytes(scratch + "/" + std::to_string(k) + ".raw");
    const size_t next = k + 1 < starts.size() ? size_t(starts[k + 1]) * kSamplesPerCdFrame : image.size() / kFrameBytes;
    EXPECT_EQ(part.size() / kFrameBytes, next - size_t(starts[k]) * kSamplesPerCdFrame) << paths[k];
    joined.insert(joined.end(), part.begin(), part.end());
  }
  fs::remove_all(scratch);
  const std::vector<uint8_t> from(image.begin() + std::ptrdiff_t(starts[0]) * kSamplesPerCdFrame * kFrameBytes, image.end());
  EXPECT_TRUE(joined == from) << "the tracks are not the image from frame " << starts[0];
}

enum TTitles { tTrackTitles, tSheetOnly, tNone };

struct TSheetRow {
  const char *Name;
  int Tracks;
  bool Extras;  // CATALOG, REM, FLAGS, ISRC and INDEX 00 lines
  bool Crlf, FinalNewline;
  TTitles Titles;
  const char *SheetName;
  const char *FileLine;   // what the sheet's FILE line names (a path from the sheet's folder)
  bool DropFolder;        // the folder, rather than the sheet itself
  const char *Type = "flac";  // the image is "Album Image." this
};

void PrintTo(const TSheetRow &row, std::ostream *os) { *os << row.Name; }

const TSheetRow kRows[] = {
    {"one_track", 1, true, false, true, tTrackTitles, "rip.cue", "Album Image.flac", false},
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

class CueSheetRuns : public TWindowTest, public ::testing::WithParamInterface<TSheetRow> {
 protected:
  void SetUp() override {
    TWindowTest::SetUp();
    const TSheetRow &row = GetParam();
    Album = Folder + "/album";
    fs::create_directories(Album);
    const TTestSignal signal{.Seconds = (row.Tracks * 20 + 30) / 75.0 + 0.0123};
    const std::string image = Album + "/Album Image." + row.Type;
    WriteSignal(image, signal, {"-c:a", row.Type == std::string("wv") ? "wavpack" : "flac"});
    Image = FFmpegDecode(image, "s16le");
    ASSERT_EQ(Image.size(), size_t(FrameCount(signal)) * kFrameBytes);
    WriteText(Album + "/" + row.SheetName, Sheet(row));
  }

  std::string Album;
  std::vector<uint8_t> Image;
};

TEST_P(CueSheetRuns, DroppedOnTheWindow) {
  const TSheetRow &row = GetParam();
  ChooseOutput(Window->rbWAV);
  Window->DropFiles({row.DropFolder ? Album : Album + "/" + row.SheetName}, false);
  EXPECT_EQ(Window->lInputFiles->text().toStdString(), std::string("1(") + row.Type + "+CUE)");
  Window->bStart->click();
  EXPECT_EQ(Errors, std::vector<std::string>{});
  EXPECT_EQ(Line(),
            row.Tracks == 1 ? FormatText(text_files_were_processed1, 1)
                            : FormatText(text_tracks_of_files_were_processed1, row.Tracks, 1));
  std::set<std::string> written, wanted;
  for (const auto &entry : fs::directory_iterator(Chosen)) written.insert(entry.path().filename().string());
  for (int k = 1; k <= row.Tracks; ++k) {
    if (row.Tracks == 1) wanted.insert("Album Image.wav");  // a one-track sheet is the whole source
    else if (row.Titles == tTrackTitles) wanted.insert(fmt::format("{0:02} - Song {0:02}.wav", k));
    else wanted.insert(fmt::format("{:02} - {}.wav", k, row.Titles == tSheetOnly ? "The Band - Live Image" : "Album Image"));
  }
  ASSERT_EQ(written, wanted);
  std::vector<std::string> paths;
  for (const std::string &name : written) paths.push_back(Chosen + "/" + name);
  ExpectTiles(paths, TrackStarts(row.Tracks), Image, Folder + "/decoded");
}

INSTANTIATE_TEST_SUITE_P(Sheets, CueSheetRuns, ::testing::ValuesIn(kRows),
                         [](const auto &info) { return std::string(info.param.Name); });

// Sheets with audio before track 1 and pregaps (INDEX 00), under every pair of /hiddentrack and
// /ownpregaps: tracks tile the image from the first kept sample, each as long as the sheet says.
TEST(PregapRuns, TracksTileTheImage) {
  const std::string folder = TestProfileFolder();
  constexpr int kImageCdFrames = 230;
  WriteSignal(folder + "/image.flac", {.Seconds = kImageCdFrames / 75.0}, {"-c:a", "flac"});
  const std::vector<uint8_t> image = FFmpegDecode(folder + "/image.flac", "s16le");
  const struct {
    const char *Name;
    std::vector<std::pair<int, int>> Tracks;  // INDEX 00 (-1: none) and INDEX 01, in CD frames
  } sheets[] = {
      {"plain", {{-1, 0}, {-1, 40}, {-1, 95}}},
      {"audio_before_track_1", {{-1, 30}, {-1, 80}, {-1, 140}}},
      {"pregaps", {{-1, 0}, {37, 45}, {90, 100}}},
      {"pregap_of_track_1_at_zero", {{0, 30}, {60, 70}, {-1, 110}, {150, 151}}},
      {"pregap_of_track_1_late", {{12, 30}, {60, 70}}},
      {"index_00_after_index_01", {{-1, 0}, {60, 45}, {-1, 100}}},  // no pregap then
  };
  // Each sheet with either switch on and off, the four pairs of the switches among the sheets.
  for (const bool hidden : {false, true})
    for (const auto &sheet : sheets) {
      const bool own = hidden == ((&sheet - sheets) % 2 == 0);
      const std::string name = fmt::format("{}{}{}", sheet.Name, hidden ? "_hidden" : "", own ? "_own" : "");
      SCOPED_TRACE(name);
      const std::string extension = own ? "flac" : "wav", out = folder + "/" + name;
      std::string text = "PERFORMER \"The Band\"\nTITLE \"Pregaps\"\nFILE \"image.flac\" WAVE\n";
      std::vector<std::string> paths;
      std::vector<int> starts;  // each output's first CD frame
      for (size_t k = 0; k < sheet.Tracks.size(); ++k) {
        const auto [index00, index01] = sheet.Tracks[k];
        text += fmt::format("  TRACK {0:02} AUDIO\n    TITLE \"Song {0:02}\"\n", k + 1);
        if (index00 >= 0) text += "    INDEX 00 " + CueTime(index00) + "\n";
        text += "    INDEX 01 " + CueTime(index01) + "\n";
        paths.push_back(fmt::format("{0}/{1:02} - Song {1:02}.{2}", out, k + 1, extension));
        starts.push_back(own && index00 >= 0 && index00 < index01 ? index00 : index01);
      }
      if (hidden && starts.front() > 0) {
        paths.insert(paths.begin(), out + "/00 - Hidden track." + extension);
        starts.insert(starts.begin(), 0);
      }
      std::vector<std::string> args = {"/input", WriteText(folder + "/" + name + ".cue", text), "/output", out,
                                       "/dest", extension};
      if (hidden) args.push_back("/hiddentrack");
      if (own) args.push_back("/ownpregaps");
      std::string err;
      ASSERT_EQ(Tonmill(args, &err), 0) << err;
      EXPECT_NE(err.find(fmt::format("{} tracks of 1 file converted into {}/", paths.size(), out)), std::string::npos) << err;
      ASSERT_EQ(size_t(std::distance(fs::directory_iterator(out), fs::directory_iterator())), paths.size());
      ExpectTiles(paths, starts, image, folder + "/decoded");
    }
}

// Modification times of every file in a folder, by name, to the nanosecond.
std::map<std::string, int64_t> Times(const std::string &folder) {
  std::map<std::string, int64_t> times;
  for (const auto &entry : fs::directory_iterator(folder)) {
    struct stat s {};
    stat(entry.path().c_str(), &s);
    times[entry.path().filename().string()] = int64_t(s.st_mtim.tv_sec) * 1000000000 + s.st_mtim.tv_nsec;
  }
  return times;
}

// Keep going and skip existing stored: one report lists every failed source once the rest is converted;
// beside the sources, a second run writes nothing and a third rewrites only the output whose source changed.
class ResumeRuns : public TWindowTest {};

TEST_F(ResumeRuns, TheWindowKeepsGoingAndSkipsWhatExists) {
  const std::string in = Folder + "/in";
  ASSERT_EQ(Store->WriteSettings({{"KeepGoing", true}, {"SkipExisting", true}}), "");
  Window = Open();
  const TTestSignal a{.Seconds = 1, .Seed = 1}, b{.Seconds = 2, .Seed = 2};
  const std::string sourceA = WriteSignal(in + "/a.wav", a), sourceB = WriteSignal(in + "/b.wav", b);
  const std::string bad = WriteText(in + "/bad.flac", "not audio"), broken = WriteBrokenMp3(in + "/broken.mp3", 1.0);
  Window->DropFiles({sourceA, bad, broken, sourceB}, false);
  Window->cbSameAsSource->setChecked(true);
  Window->rbFLAC->click();
  Window->bStart->click();
  ASSERT_EQ(Errors.size(), 1u);
  for (const std::string &name : {bad, broken}) EXPECT_NE(Errors[0].find(name), std::string::npos) << Errors[0];
  EXPECT_EQ(Line(), FormatText(text_run_counts, 2, 4, 2, 0));
  EXPECT_EQ(FFmpegDecode(in + "/a.flac", "s16le"), MakeSamples(a));
  EXPECT_EQ(FFmpegDecode(in + "/b.flac", "s16le"), MakeSamples(b));
  const std::map<std::string, int64_t> first = Times(in);

  Window->DropFiles({sourceA, sourceB}, false);
  Window->bStart->click();
  EXPECT_EQ(Times(in), first);
  EXPECT_EQ(Line(), FormatText(text_run_skipped, 0, 2, 2));

  const timespec newer[2] = {{0, UTIME_OMIT}, {first.at("a.flac") / 1000000000 + 1, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, sourceA.c_str(), newer, 0), 0);
  const std::map<std::string, int64_t> touched = Times(in);
  Window->bStart->click();
  const std::map<std::string, int64_t> third = Times(in);
  ASSERT_EQ(third.size(), first.size()) << "no numbered name";
  for (const auto &[name, time] : third) EXPECT_EQ(time != touched.at(name), name == "a.flac") << name;
  EXPECT_EQ(FFmpegDecode(in + "/a.flac", "s16le"), MakeSamples(a));
  EXPECT_EQ(Errors.size(), 1u);
}

}  // namespace
