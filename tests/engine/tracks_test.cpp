// SPDX-License-Identifier: GPL-3.0-or-later
// Sources cut into parts: the tracks of a CUE sheet and the pieces between
// silences, each an output of its own, together exactly the source.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "encoders/flac/flac_format.h"
#include "engine/coder_engine.h"
#include "sources/silence.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

std::string CueTime(int frames75) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", frames75 / 75 / 60, frames75 / 75 % 60, frames75 % 75);
  return text;
}

struct TTilingCase {
  int Rate, Bits;
  TDestinationFormat Format;
};

std::ostream &operator<<(std::ostream &os, const TTilingCase &c) {
  return os << c.Rate << " Hz, " << c.Bits << " bits, " << FormatRow(c.Format)->Extension;
}

class CueTracks : public ::testing::TestWithParam<TTilingCase> {};

// The tracks laid end to end are the source from the first INDEX 01 on, and
// every boundary falls exactly on its INDEX 01, with the tracks converted on
// parallel workers.
TEST_P(CueTracks, TileTheSourceExactly) {
  StartBass();
  const TTilingCase c = GetParam();
  const std::string folder = TestFolder();
  const TTestSignal signal{.Rate = c.Rate, .Bits = c.Bits, .Seconds = 9};
  const std::string source = WriteSignal(folder + "/image.flac", signal, {"-c:a", "flac"});
  // INDEX 01 positions in CD frames (75 a second); the first is not at 0.
  const std::vector<int> starts = {33, 2 * 75 + 7, 4 * 75 + 74, 7 * 75 + 1};
  std::string sheet = "PERFORMER \"The Band\"\nTITLE \"Image\"\nFILE \"image.flac\" WAVE\n";
  for (size_t k = 0; k < starts.size(); ++k)
    sheet += "  TRACK 0" + std::to_string(k + 1) + " AUDIO\n    TITLE \"Part " + std::to_string(k + 1) +
             "\"\n    INDEX 01 " + CueTime(starts[k]) + "\n";
  WriteText(folder + "/image.cue", sheet);

  TSourceList list = {{source, {}}};
  list[0].Rec.HasCUE = true;
  TCoder_engine engine;
  engine.SetSourceList(&list);
  engine.SetDestinationFormat(c.Format);
  engine.SetDestinationFolder(folder + "/out");
  TFLACOptions flac;
  ApplyFLACCommandLineLevel(5, flac);
  engine.SetOptions(dfFLAC, std::make_shared<TFLACOptions>(flac));
  engine.ThreadCount = 3;
  fs::create_directories(folder + "/out");
  ASSERT_EQ(engine.Run(), 0);

  const std::vector<uint8_t> all = MakeSamples(signal);
  const size_t frameBytes = size_t(2 * c.Bits / 8);
  std::vector<uint8_t> joined;
  for (size_t k = 0; k < starts.size(); ++k) {
    const std::string out = folder + "/out/0" + std::to_string(k + 1) + " - Part " + std::to_string(k + 1) +
                            "." + FormatRow(c.Format)->Extension;
    const std::vector<uint8_t> part = FFmpegDecode(out, RawFormat(c.Bits));
    const int64_t first = int64_t(starts[k]) * c.Rate / 75;
    const int64_t next = k + 1 < starts.size() ? int64_t(starts[k + 1]) * c.Rate / 75 : FrameCount(signal);
    EXPECT_EQ(int64_t(part.size() / frameBytes), next - first) << "track " << k + 1;
    joined.insert(joined.end(), part.begin(), part.end());
  }
  const size_t from = size_t(starts[0]) * size_t(c.Rate) / 75 * frameBytes;
  ASSERT_EQ(joined.size(), all.size() - from);
  EXPECT_TRUE(std::equal(joined.begin(), joined.end(), all.begin() + std::ptrdiff_t(from)));
}

std::vector<TTilingCase> TilingCases() {
  std::vector<TTilingCase> cases;
  for (int rate : {44100, 48000, 96000})
    for (int bits : {16, 24})
      for (TDestinationFormat format : {dfFLAC, dfWAV}) cases.push_back({rate, bits, format});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(RatesDepthsFormats, CueTracks, ::testing::ValuesIn(TilingCases()),
                         [](const auto &info) {
                           return std::to_string(info.param.Rate) + "Hz_" + std::to_string(info.param.Bits) +
                                  "bit_" + FormatRow(info.param.Format)->Extension;
                         });

class SourceParts : public ::testing::Test {
 protected:
  void SetUp() override {
    StartBass();
    Folder = TestFolder();
    fs::create_directories(Folder + "/out");
  }

  // Engine converts `source`, which has the sheet `sheet` beside it (".cue" for
  // its extension), into Folder/out.
  void PrepareSheetRun(const std::string &source, const std::string &sheet, TDestinationFormat format) {
    WriteText(fs::path(source).replace_extension(".cue").string(), sheet);
    List = {{source, {}}};
    List[0].Rec.HasCUE = true;
    Engine.SetSourceList(&List);
    Engine.SetDestinationFormat(format);
    Engine.SetDestinationFolder(Folder + "/out");
  }

  std::string Folder;
  TSourceList List;
  TCoder_engine Engine;
};

TEST_F(SourceParts, TracksGetTheirNamesAndTagsAndAOneTrackSheetIsAWholeSource) {
  const TTestSignal signal{.Seconds = 4};
  const std::string source = WriteSignal(Folder + "/live.wav", signal);
  PrepareSheetRun(source,
                  "PERFORMER \"Band\"\nTITLE \"Live\"\nFILE \"live.wav\" WAVE\nTRACK 01 AUDIO\nTITLE \"Intro\"\n"
                  "INDEX 01 00:00:00\nTRACK 02 AUDIO\nTITLE \"Song\"\nPERFORMER \"Singer\"\nINDEX 01 00:02:00\n",
                  dfMP3);
  ASSERT_EQ(Engine.Run(), 0);
  const std::vector<uint8_t> mp3 = ReadFileBytes(Folder + "/out/02 - Song.mp3");
  const std::string block(mp3.end() - 128, mp3.end());
  EXPECT_EQ(block.substr(3, 4), "Song");
  EXPECT_EQ(block.substr(33, 6), "Singer");
  EXPECT_EQ(block.substr(63, 4), "Live");
  EXPECT_EQ(uint8_t(block[126]), 2);
  EXPECT_TRUE(fs::exists(Folder + "/out/01 - Intro.mp3"));

  // One track only: the whole source, named after it.
  PrepareSheetRun(source, "FILE \"live.wav\" WAVE\nTRACK 01 AUDIO\nTITLE \"All\"\nINDEX 01 00:01:00\n", dfWAV);
  ASSERT_EQ(Engine.Run(), 0);
  EXPECT_EQ(FFmpegDecode(Folder + "/out/live.wav", "s16le"), MakeSamples(signal));
}

TEST_F(SourceParts, ADamagedSheetFailsTheRunWithItsName) {
  PrepareSheetRun(WriteSignal(Folder + "/a.wav", TTestSignal{}), "FILE \"a.wav\" WAVE\nTRACK x AUDIO\nINDEX 01 00:00:00\n",
                  dfWAV);
  try {
    Engine.Run();
    FAIL();
  } catch (const std::exception &e) {
    ASSERT_EQ(Engine.Failures.size(), 1u) << e.what();
    EXPECT_NE(Engine.Failures[0].ErrorMessage.find(Folder + "/a.cue"), std::string::npos)
        << Engine.Failures[0].ErrorMessage;
  }
}

// A recording of tones and silences (seconds): silence to 1, tone to 4,
// silence to 5, tone to 8, silence to 11, a short tone to 12, silence to 12.5,
// tone to 15.5, silence to 18.5, tone to 21.5, silence to 23.
std::vector<int16_t> Recording(int rate) {
  const double tones[][2] = {{1, 4}, {5, 8}, {11, 12}, {12.5, 15.5}, {18.5, 21.5}};
  std::vector<int16_t> pcm(size_t(23 * rate) * 2, 0);
  for (const auto &tone : tones)
    for (int64_t i = std::llround(tone[0] * rate); i < std::llround(tone[1] * rate); ++i)
      pcm[size_t(2 * i)] = pcm[size_t(2 * i + 1)] = int16_t(6000 + 4000 * std::sin(i * 0.05));
  return pcm;
}

std::string WriteRecording(const std::string &folder, int rate) {
  const std::vector<int16_t> pcm = Recording(rate);
  const std::string raw = folder + "/rec.raw", wav = folder + "/rec.wav";
  WriteFileBytes(raw, std::vector<uint8_t>(reinterpret_cast<const uint8_t *>(pcm.data()),
                                           reinterpret_cast<const uint8_t *>(pcm.data() + pcm.size())));
  RunTool({"ffmpeg", "-v", "error", "-y", "-f", "s16le", "-ar", std::to_string(rate), "-ac", "2", "-i", raw, wav});
  return wav;
}

TEST_F(SourceParts, SilencesCutPiecesByTheirRules) {
  const std::string wav = WriteRecording(Folder, 44100);
  TPreprocessOptions options;
  options.Seconds = 20;  // silences of 2 s or more separate pieces
  std::vector<TProgressRec> progress;
  TSilenceScanContext context{[&](const TProgressRec &p) { progress.push_back(p); }, nullptr, 0};
  TCUEArr pieces;
  SplitBySilenceScan(wav, 2, 5, options, context, pieces);
  // The second tone follows 1 s of silence: the first piece grows over it. The
  // short tone is no region of its own: it runs on until 2 s have passed.
  ASSERT_EQ(pieces.size(), 3u);
  const double expected[][2] = {{1, 8}, {11, 15.5}, {18.5, 21.5}};
  for (size_t k = 0; k < 3; ++k) {
    EXPECT_DOUBLE_EQ(pieces[k].StartTime, expected[k][0]) << k;
    EXPECT_DOUBLE_EQ(pieces[k].EndTime, expected[k][1]) << k;
    EXPECT_EQ(pieces[k].TrackNumber, int(k));
    EXPECT_EQ(pieces[k].Title, "rec");
    EXPECT_TRUE(pieces[k].InSeconds);
  }
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back().Stage, stSeekingSilence);
  EXPECT_EQ(progress.back().JobNumber, 2);
  EXPECT_EQ(progress.back().JobCount, 5);
  EXPECT_EQ(progress.back().Percent, 100);

  options.Seconds = 5;  // half a second is enough now
  SplitBySilenceScan(wav, 1, 1, options, TSilenceScanContext{}, pieces);
  ASSERT_EQ(pieces.size(), 4u);
  EXPECT_DOUBLE_EQ(pieces[1].StartTime, 5);
  EXPECT_DOUBLE_EQ(pieces[1].EndTime, 8);
}

TEST_F(SourceParts, SoundWithoutSilenceIsOnePieceAndAStopEndsTheScan) {
  // Noise and tone: never two zero samples in a row.
  const std::string wav = WriteSignal(Folder + "/loud.wav", {.Seconds = 6, .Level = 0.5});
  TCUEArr pieces;
  SplitBySilenceScan(wav, 1, 1, TPreprocessOptions{}, TSilenceScanContext{}, pieces);
  ASSERT_EQ(pieces.size(), 1u);
  EXPECT_FALSE(pieces[0].InSeconds);  // the whole source

  std::atomic<bool> cancelled{false};
  int blocks = 0;
  TSilenceScanContext context{[&](const TProgressRec &) {
                                if (++blocks == 2) cancelled = true;
                              },
                              &cancelled, 0};
  SplitBySilenceScan(wav, 1, 1, TPreprocessOptions{}, context, pieces);
  EXPECT_EQ(blocks, 2);
}

TEST_F(SourceParts, PiecesConvertToExactlyTheirSamples) {
  const std::string wav = WriteRecording(Folder, 48000);
  const std::vector<int16_t> pcm = Recording(48000);
  // Silences take precedence over the sheet.
  PrepareSheetRun(wav, "FILE \"rec.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 01 00:05:00\n",
                  dfWAV);
  Engine.Preprocess = true;
  TPreprocessOptions options;
  options.Seconds = 20;
  Engine.SetPreprocessOptions(options);
  Engine.ThreadCount = 2;
  std::vector<uint8_t> stages;
  Engine.OnProgress = [&](const TProgressRec &p) { stages.push_back(p.Stage); };
  ASSERT_EQ(Engine.Run(), 0);
  EXPECT_EQ(stages.front(), stSeekingSilence);
  EXPECT_EQ(stages.back(), stTrack);

  const double bounds[][2] = {{1, 8}, {11, 15.5}, {18.5, 23}};  // the last piece runs to the end
  for (int k = 0; k < 3; ++k) {
    const std::vector<int32_t> got = AsInt16(FFmpegDecode(Folder + "/out/0" + std::to_string(k) + " - rec.wav", "s16le"));
    const size_t first = size_t(bounds[k][0] * 48000) * 2, last = size_t(bounds[k][1] * 48000) * 2;
    ASSERT_EQ(got.size(), last - first) << k;
    EXPECT_TRUE(std::equal(got.begin(), got.end(), pcm.begin() + std::ptrdiff_t(first))) << k;
  }
}

}  // namespace
