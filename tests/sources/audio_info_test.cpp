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

// What the files info view shows: the source's own rate and channels, its
// depth (16 for lossy ones, 24 for DSD), its length and its bitrate (of the
// whole file, rounded up); a source that cannot be read gets an error text.
TEST(AudioInfo, PropertiesOfEveryKindOfSource) {
  StartBass();
  const std::string folder = TestFolder();
  const struct {
    const char *Name;
    std::vector<std::string> Codec;
    int Rate, Channels, Bits;
  } rows[] = {{"a.flac", {"-c:a", "flac"}, 48000, 6, 24},   {"a.mp3", {"-c:a", "libmp3lame"}, 44100, 2, 16},
              {"a.opus", {"-c:a", "libopus"}, 48000, 2, 16}, {"a.oga", {"-c:a", "flac"}, 48000, 2, 24},
              {"a.aif", {}, 48000, 2, 16},                   {"a.aifc", {"-c:a", "pcm_f32be"}, 48000, 2, 32},
              {"a.m4b", {"-c:a", "aac"}, 48000, 2, 16},      {"a.mka", {"-c:a", "flac"}, 48000, 8, 24},
              {"a.webm", {"-c:a", "libopus"}, 48000, 1, 16}, {"a.dsf", {}, 352800, 2, 24}};
  for (const auto &r : rows) {
    SCOPED_TRACE(r.Name);
    const std::string path = folder + "/" + r.Name;
    const TTestSignal signal{.Rate = r.Rate == 352800 ? 44100 : r.Rate, .Channels = r.Channels, .Bits = 24, .Seconds = 1.5};
    if (r.Rate == 352800)
      WriteDsf(path, signal.Seconds);
    else
      WriteSignal(path, signal, r.Codec);
    TAudioInfo info;
    GetFileAudioInfo(path, true, info);
    ASSERT_EQ(info.ErrorText, "");
    const TAudioInfoRec &s = info.Streams.at(0);
    EXPECT_EQ(std::vector<int>({s.SampleRate, s.Channels, s.BitsPerSample}), std::vector<int>({r.Rate, r.Channels, r.Bits}));
    EXPECT_NEAR(s.Duration, signal.Seconds, 0.001);
    if (r.Bits != 24 || r.Rate == 352800) continue;
    EXPECT_EQ(std::vector<int>({s.BytesPerSample, s.GatheredBytesPerSample, s.BlockAlign, s.BytesPerSecond}),
              std::vector<int>({3, 3, 3 * r.Channels, r.Rate * r.Channels * 3}));
    EXPECT_EQ(s.Bitrate, int(std::nearbyint(double(std::filesystem::file_size(path)) / (1.5 * 125) + 0.5)));
  }
  TAudioInfo info;
  GetFileAudioInfo(folder + "/missing.wav", true, info);
  EXPECT_EQ(info.ErrorText, FormatText(text_getting_audio_info_failed, BASS_ERROR_FILEOPEN));
  ASSERT_EQ(info.Streams.size(), 1u);
  EXPECT_EQ(info.Streams[0].SampleRate, 0);
}

// The list split over workers in order, durations summed; a failing
// worker's range counts for nothing and its failure is listed.
TEST(AudioInfo, GatheringSumsDurationsAndCollectsFailures) {
  EXPECT_EQ(AudioInfoWorkerRanges(1, 2), (std::vector<std::pair<int, int>>{{0, 0}}));
  EXPECT_EQ(AudioInfoWorkerRanges(8, 2), (std::vector<std::pair<int, int>>{{0, 7}}));
  EXPECT_EQ(AudioInfoWorkerRanges(100, 2), (std::vector<std::pair<int, int>>{
                                               {0, 0}, {1, 12}, {13, 24}, {25, 36}, {37, 48}, {49, 60}, {61, 72}, {73, 99}}));
  StartBass();
  const std::string folder = TestFolder();
  TSourceList list;
  for (uint32_t i = 0; i < 12; ++i)
    list.push_back({WriteSignal(folder + "/s" + std::to_string(10 + i) + ".wav", {.Seconds = 0.5 + i * 0.25, .Seed = i}), {}});
  std::string errors;
  const double total = GatherAudioInfo(list, nullptr, nullptr, errors);
  EXPECT_EQ(errors, "");
  EXPECT_NEAR(total, 12 * 0.5 + 0.25 * 66, 1e-9);
  for (const TSourceItem &item : list) {
    EXPECT_EQ(item.Rec.Progress.Percent, 1);
    EXPECT_EQ(item.Rec.AudioInfo.Streams.at(0).SampleRate, 44100);
  }
  list.push_back({folder + "/vanished.wav", {}});
  EXPECT_LT(GatherAudioInfo(list, nullptr, nullptr, errors), total);
  EXPECT_EQ(errors, folder + "/vanished.wav : " + FormatText(text_getting_audio_info_failed, BASS_ERROR_FILEOPEN) + "\r\n");
}

}  // namespace
