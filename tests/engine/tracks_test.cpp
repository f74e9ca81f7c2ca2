// SPDX-License-Identifier: GPL-3.0-or-later
// Sources cut into parts: the tracks of a CUE sheet and the pieces between
// silences, each an output of its own, together exactly the source.
#include <gtest/gtest.h>

#include <filesystem>

#include <fmt/printf.h>

#include "engine/coder_engine.h"
#include "sources/silence.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

class SourceParts : public ::testing::Test {
 protected:
  void SetUp() override {
    StartBass();
    Folder = TestFolder();
    fs::create_directories(Folder + "/out");
  }
  // Converts `source`, with `sheet` beside it, into Folder/out.
  int RunSheet(const std::string &source, const std::string &sheet, TDestinationFormat format, int threads = 3) {
    WriteText(fs::path(source).replace_extension(".cue").string(), sheet);
    List = {{source, {}}};
    List[0].Rec.HasCUE = true;
    Engine.SetSourceList(&List);
    Engine.SetDestinationFormat(format);
    Engine.SetDestinationFolder(Folder + "/out");
    Engine.ThreadCount = threads;
    return Engine.Run();
  }
  std::string Folder;
  TSourceList List;
  TCoder_engine Engine;
};

// The tracks, converted on parallel workers, are the source from the first
// INDEX 01 on (not at 0), each boundary exactly on its INDEX 01 (75 frames a second).
TEST_F(SourceParts, CueTracksTileTheSourceExactly) {
  const struct {
    int Rate, Bits;
    TDestinationFormat Format;
  } rows[] = {{44100, 16, dfFLAC}, {48000, 24, dfWAV}, {96000, 16, dfWAV}, {96000, 24, dfFLAC}, {88200, 24, dfWavPack}};
  const int starts[] = {33, 2 * 75 + 7, 4 * 75 + 74, 7 * 75 + 1};
  for (const auto &c : rows) {
    const std::string ext = FormatRow(c.Format)->Extension;
    SCOPED_TRACE(std::to_string(c.Rate) + " " + std::to_string(c.Bits) + " " + ext);
    const TTestSignal signal{.Rate = c.Rate, .Bits = c.Bits, .Seconds = 9};
    const std::string source = WriteSignal(Folder + "/image.flac", signal);
    std::string sheet = "PERFORMER \"The Band\"\nTITLE \"Image\"\nFILE \"image.flac\" WAVE\n";
    for (int k = 0; k < 4; ++k)
      sheet += fmt::sprintf("  TRACK 0%d AUDIO\n    TITLE \"Part %d\"\n    INDEX 01 %02d:%02d:%02d\n", k + 1, k + 1,
                            starts[k] / 75 / 60, starts[k] / 75 % 60, starts[k] % 75);
    fs::remove_all(Folder + "/out");
    fs::create_directories(Folder + "/out");
    ASSERT_EQ(RunSheet(source, sheet, c.Format), 0);
    const std::vector<double> all = AsSamples(MakeSamples(signal), c.Bits);
    for (int k = 0; k < 4; ++k) {
      const std::vector<double> part = AsSamples(
          FFmpegDecode(Folder + "/out/0" + std::to_string(k + 1) + " - Part " + std::to_string(k + 1) + "." + ext,
                       RawFormat(c.Bits)), c.Bits);
      const int64_t first = int64_t(starts[k]) * c.Rate / 75;
      const int64_t next = k < 3 ? int64_t(starts[k + 1]) * c.Rate / 75 : FrameCount(signal);
      ASSERT_EQ(int64_t(part.size()), (next - first) * 2) << "track " << k + 1;
      EXPECT_TRUE(std::equal(part.begin(), part.end(), all.begin() + first * 2)) << "track " << k + 1;
    }
  }
}

// Track outputs carry the sheet's tags; a one-track sheet is the whole source,
// named after it; a damaged sheet fails the run with its name.
TEST_F(SourceParts, TracksGetTheirNamesAndTags) {
  const TTestSignal signal{.Seconds = 4};
  const std::string source = WriteSignal(Folder + "/live.wav", signal);
  ASSERT_EQ(RunSheet(source,
                     "PERFORMER \"Band\"\nTITLE \"Live\"\nFILE \"live.wav\" WAVE\nTRACK 01 AUDIO\nTITLE \"Intro\"\n"
                     "INDEX 01 00:00:00\nTRACK 02 AUDIO\nTITLE \"Song\"\nPERFORMER \"Singer\"\nINDEX 01 00:02:00\n",
                     dfMP3), 0);
  const std::vector<uint8_t> mp3 = ReadFileBytes(Folder + "/out/02 - Song.mp3");
  const std::string block(mp3.end() - 128, mp3.end());  // ID3v1
  EXPECT_EQ(block.substr(0, 7) + "|" + block.substr(33, 6) + "|" + block.substr(63, 4), "TAGSong|Singer|Live");
  EXPECT_EQ(uint8_t(block[126]), 2);
  EXPECT_TRUE(fs::exists(Folder + "/out/01 - Intro.mp3"));

  ASSERT_EQ(RunSheet(source, "FILE \"live.wav\" WAVE\nTRACK 01 AUDIO\nTITLE \"All\"\nINDEX 01 00:01:00\n", dfWAV), 0);
  EXPECT_EQ(FFmpegDecode(Folder + "/out/live.wav", "s16le"), MakeSamples(signal));

  EXPECT_THROW(RunSheet(source, "FILE \"live.wav\" WAVE\nTRACK x AUDIO\nINDEX 01 00:00:00\n", dfWAV), std::exception);
  ASSERT_EQ(Engine.Failures.size(), 1u);
  EXPECT_NE(Engine.Failures[0].ErrorMessage.find(Folder + "/live.cue"), std::string::npos) << Engine.Failures[0].ErrorMessage;
}

// Tones between silences (seconds): the scan's pieces by its rules, and a run
// converting each piece to exactly its samples (before a sheet; the last to the end).
TEST_F(SourceParts, SilencesCutPiecesThatConvertExactly) {
  const TTestSignal signal{.Rate = 48000, .Seconds = 23, .Silent = {{0, 1}, {4, 5}, {8, 11}, {12, 12.5}, {15.5, 18.5}, {21.5, 23}}};
  const std::string wav = WriteSignal(Folder + "/rec.wav", signal);
  const struct {
    int Seconds;  // tenths of the shortest silence between pieces
    std::vector<std::pair<double, double>> Pieces;
  } rows[] = {
      // The second tone follows 1 s of silence: the first piece grows over
      // it. The short tone is no region of its own: it runs on until 2 s have passed.
      {20, {{1, 8}, {11, 15.5}, {18.5, 21.5}}},
      {5, {{1, 4}, {5, 8}, {11, 15.5}, {18.5, 21.5}}},
  };
  for (const auto &row : rows) {
    TPreprocessOptions options;
    options.Seconds = row.Seconds;
    std::vector<TProgressRec> progress;
    TCUEArr pieces;
    SplitBySilenceScan(wav, 2, 5, options, {[&](const TProgressRec &p) { progress.push_back(p); }, nullptr, 0}, pieces);
    ASSERT_EQ(pieces.size(), row.Pieces.size());
    for (size_t k = 0; k < pieces.size(); ++k) {
      EXPECT_EQ(std::make_pair(pieces[k].StartTime, pieces[k].EndTime), row.Pieces[k]) << k;
      EXPECT_EQ(pieces[k].TrackNumber, int(k));
      EXPECT_EQ(pieces[k].Title, "rec");
      EXPECT_TRUE(pieces[k].InSeconds);
    }
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(std::vector<int>({progress.back().Stage, progress.back().JobNumber, progress.back().JobCount, progress.back().Percent}),
              std::vector<int>({stSeekingSilence, 2, 5, 100}));
  }
  Engine.Preprocess = true;
  TPreprocessOptions options;
  options.Seconds = 20;
  Engine.SetPreprocessOptions(options);
  std::vector<uint8_t> stages;
  Engine.OnProgress = [&](const TProgressRec &p) { stages.push_back(p.Stage); };
  ASSERT_EQ(RunSheet(wav, "FILE \"rec.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 01 00:05:00\n", dfWAV, 2), 0);
  EXPECT_EQ(stages.front(), stSeekingSilence);
  EXPECT_EQ(stages.back(), stTrack);
  const std::vector<uint8_t> pcm = MakeSamples(signal);
  const double bounds[][2] = {{1, 8}, {11, 15.5}, {18.5, 23}};
  for (int k = 0; k < 3; ++k) {
    const std::vector<uint8_t> got = FFmpegDecode(Folder + "/out/0" + std::to_string(k) + " - rec.wav", "s16le");
    const size_t first = size_t(bounds[k][0] * 48000) * 4, last = size_t(bounds[k][1] * 48000) * 4;
    ASSERT_EQ(got.size(), last - first) << k;
    EXPECT_TRUE(std::equal(got.begin(), got.end(), pcm.begin() + std::ptrdiff_t(first))) << k;
  }
}

// Sound without silence is one piece, the whole source; a stop ends the scan.
TEST_F(SourceParts, SoundWithoutSilenceIsOnePieceAndAStopEndsTheScan) {
  const std::string wav = WriteSignal(Folder + "/loud.wav", {.Seconds = 6, .Level = 0.5});
  TCUEArr pieces;
  SplitBySilenceScan(wav, 1, 1, TPreprocessOptions{}, TSilenceScanContext{}, pieces);
  ASSERT_EQ(pieces.size(), 1u);
  EXPECT_FALSE(pieces[0].InSeconds);
  std::atomic<bool> cancelled{false};
  int blocks = 0;
  SplitBySilenceScan(wav, 1, 1, TPreprocessOptions{},
                     {[&](const TProgressRec &) { cancelled = ++blocks == 2; }, &cancelled, 0}, pieces);
  EXPECT_EQ(blocks, 2);
}

}  // namespace
