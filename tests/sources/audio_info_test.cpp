// SPDX-License-Identifier: GPL-3.0-or-later
// Audio properties of one source, and of a whole list on parallel workers.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "base/texts.h"
#include "sources/audio_info.h"
#include "sources/getaudioinfo_thread.h"
#include "test_support.h"

namespace {

class AudioInfo : public ::testing::Test {
 protected:
  void SetUp() override {
    StartBass();
    Folder = TestFolder();
  }
  std::string Folder;
};

TEST_F(AudioInfo, PropertiesOfLosslessAndLossySources) {
  TTestSignal signal{.Rate = 48000, .Channels = 6, .Bits = 24, .Seconds = 2.5};
  const std::string flac = WriteSignal(Folder + "/a.flac", signal, {"-c:a", "flac"});
  TAudioInfo info;
  GetFileAudioInfo(flac, true, info);
  ASSERT_EQ(info.ErrorText, "");
  ASSERT_EQ(info.Streams.size(), 1u);
  const TAudioInfoRec &s = info.Streams[0];
  EXPECT_EQ(s.SampleRate, 48000);
  EXPECT_EQ(s.Channels, 6);
  EXPECT_EQ(s.BitsPerSample, 24);
  EXPECT_EQ(s.BytesPerSample, 3);
  EXPECT_EQ(s.GatheredBytesPerSample, 3);
  EXPECT_EQ(s.BytesPerSecond, 48000 * 6 * 3);
  EXPECT_EQ(s.BlockAlign, 18);
  EXPECT_DOUBLE_EQ(s.Duration, 2.5);
  const double kbits = double(std::filesystem::file_size(flac)) / (2.5 * 125);
  EXPECT_EQ(s.Bitrate, int(std::nearbyint(kbits + 0.5)));

  signal = TTestSignal{};
  const std::string wav = WriteSignal(Folder + "/in.wav", signal);
  ASSERT_EQ(RunTool({"lame", "--quiet", "-b", "128", wav, Folder + "/b.mp3"}), 0);
  GetFileAudioInfo(Folder + "/b.mp3", true, info);
  EXPECT_EQ(info.Streams[0].BitsPerSample, 16);  // lossy sources have no depth of their own
  EXPECT_DOUBLE_EQ(info.Streams[0].Duration, 1.0);
  const double mp3Kbits = double(std::filesystem::file_size(Folder + "/b.mp3")) / 125;
  EXPECT_EQ(info.Streams[0].Bitrate, int(std::nearbyint(mp3Kbits + 0.5)));
}

// What the files info view shows of the further types: their own rate and
// channels, their depth (16 for lossy ones, 24 for DSD) and their length.
TEST_F(AudioInfo, TheFurtherTypes) {
  const TTestSignal signal{.Rate = 48000, .Bits = 24, .Seconds = 1.5};
  const struct {
    const char *Name;
    std::vector<std::string> Codec;
    int Rate, Channels, Bits;
  } rows[] = {{"a.opus", {"-c:a", "libopus"}, 48000, 2, 16},         {"a.oga", {"-c:a", "flac"}, 48000, 2, 24},
              {"a.aif", {}, 48000, 2, 16},                             {"a.aifc", {"-c:a", "pcm_f32be"}, 48000, 2, 32},
              {"a.m4b", {"-c:a", "aac"}, 48000, 2, 16},                {"a.mka", {"-c:a", "flac"}, 48000, 2, 24},
              {"a.webm", {"-c:a", "libopus", "-ac", "1"}, 48000, 1, 16}, {"a.dsf", {}, 352800, 2, 24}};
  for (const auto &r : rows) {
    SCOPED_TRACE(r.Name);
    const std::string path = Folder + "/" + r.Name;
    if (std::string(r.Name) == "a.dsf")
      WriteDsf(path, signal.Seconds);
    else
      WriteSignal(path, signal, r.Codec);
    TAudioInfo info;
    GetFileAudioInfo(path, true, info);
    ASSERT_EQ(info.ErrorText, "");
    const TAudioInfoRec &s = info.Streams.at(0);
    EXPECT_EQ(s.SampleRate, r.Rate);
    EXPECT_EQ(s.Channels, r.Channels);
    EXPECT_EQ(s.BitsPerSample, r.Bits);
    EXPECT_NEAR(s.Duration, signal.Seconds, 0.001);
    EXPECT_GT(s.Bitrate, 0);
  }
}

TEST_F(AudioInfo, AnUnreadableSourceGetsAnErrorText) {
  TAudioInfo info;
  GetFileAudioInfo(Folder + "/missing.wav", true, info);
  EXPECT_EQ(info.ErrorText, FormatText(text_getting_audio_info_failed, BASS_ERROR_FILEOPEN));
  ASSERT_EQ(info.Streams.size(), 1u);
  EXPECT_EQ(info.Streams[0].SampleRate, 0);
  GetFileAudioInfo(Folder + "/film.mkv", true, info);
  EXPECT_EQ(info.ErrorText, "GetFileAudioInfo_FFMEPG failed");
  EXPECT_TRUE(info.Streams.empty());
}

TEST(AudioInfoWorkers, RangesCoverTheListInOrder) {
  EXPECT_EQ(AudioInfoWorkerRanges(1, 2), (std::vector<std::pair<int, int>>{{0, 0}}));
  EXPECT_EQ(AudioInfoWorkerRanges(8, 2), (std::vector<std::pair<int, int>>{{0, 7}}));
  const std::vector<std::pair<int, int>> expected = {{0, 0},   {1, 12},  {13, 24}, {25, 36},
                                                     {37, 48}, {49, 60}, {61, 72}, {73, 99}};
  EXPECT_EQ(AudioInfoWorkerRanges(100, 2), expected);
}

TEST_F(AudioInfo, GatheringSumsDurationsAndCollectsFailures) {
  TSourceList list;
  for (uint32_t i = 0; i < 12; ++i)
    list.push_back({WriteSignal(Folder + "/s" + std::to_string(10 + i) + ".wav", {.Seconds = 0.5 + i * 0.25, .Seed = i}), {}});
  std::string errors;
  const double total = GatherAudioInfo(list, nullptr, nullptr, errors);
  EXPECT_EQ(errors, "");
  EXPECT_NEAR(total, 12 * 0.5 + 0.25 * 66, 1e-9);
  for (const TSourceItem &item : list) {
    EXPECT_EQ(item.Rec.Progress.Percent, 1);
    EXPECT_EQ(item.Rec.AudioInfo.Streams.at(0).SampleRate, 44100);
  }

  list.push_back({Folder + "/vanished.wav", {}});
  const double withFailure = GatherAudioInfo(list, nullptr, nullptr, errors);
  EXPECT_EQ(errors, Folder + "/vanished.wav : " +
                        FormatText(text_getting_audio_info_failed, BASS_ERROR_FILEOPEN) + "\r\n");
  EXPECT_LT(withFailure, total);  // the failing worker's range counts for nothing
}

}  // namespace
