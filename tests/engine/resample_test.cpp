// SPDX-License-Identifier: GPL-3.0-or-later
// Resampling and remixing in the worker: the output has the asked rate and
// channels, the right length, the tone at its pitch; nothing asked, nothing
// changes (lossless outputs stay bit-exact).
#include <gtest/gtest.h>

#include "encoders/flac/flac_format.h"
#include "engine/resampler.h"
#include "test_support.h"

namespace {

// The tone's frequency from the upward zero crossings of the first channel.
double MeasuredTone(const std::vector<double> &samples, int channels, int rate) {
  int crossings = 0;
  int64_t first = -1, last = -1;
  for (size_t i = size_t(channels); i < samples.size(); i += size_t(channels))
    if (samples[i - size_t(channels)] < 0 && samples[i] >= 0) {
      ++crossings;
      last = int64_t(i / size_t(channels));
      first = first < 0 ? last : first;
    }
  return crossings > 1 ? (crossings - 1) * double(rate) / double(last - first) : 0;
}

TEST(Resample, OutputHasTheAskedRateChannelsLengthAndPitch) {
  const struct {
    const char *Name;
    int SourceRate, SourceChannels;
    const char *SourceCodec;
    TDestinationFormat Format;
    bool Resample;
    int ResampleTo, Channels;  // as stored
    double Start;              // >= 0: a track of the source, a second long
    int OutRate, OutChannels;  // what the output must hold
  } rows[] = {
      {"StereoTo48kMonoFlac", 44100, 2, "pcm_s24le", dfFLAC, true, 48000, 1, -1, 48000, 1},
      {"MonoToStereoKeepRateWav", 22050, 1, "pcm_s16le", dfWAV, false, 44100, 2, -1, 22050, 2},
      {"SixToStereoDownTo8kWav", 48000, 6, "pcm_s16le", dfWAV, true, 8000, 2, -1, 8000, 2},
      {"TrackOfASourceTo32k", 44100, 2, "pcm_s16le", dfWAV, true, 32000, 0, 1.0, 32000, 2},
  };
  for (const auto &c : rows) {
    SCOPED_TRACE(c.Name);
    const std::string folder = TestFolder(), source = folder + "/tone.wav";
    ASSERT_EQ(RunTool({"ffmpeg", "-v", "error", "-f", "lavfi", "-i",
                       "sine=frequency=1000:sample_rate=" + std::to_string(c.SourceRate) + ":duration=3", "-ac",
                       std::to_string(c.SourceChannels), "-c:a", c.SourceCodec, source}), 0);
    const std::string output = folder + "/out." + FormatRow(c.Format)->Extension;
    TFLACOptions flac;
    TFileListRec job = WholeSourceJob(source, output, c.Format, c.Format == dfFLAC ? &flac : nullptr);
    job.PreprocessOptions.Resample = c.Resample;
    job.PreprocessOptions.ResampleTo = c.ResampleTo;
    job.PreprocessOptions.Channels = c.Channels;
    if (c.Start >= 0) {
      job.Start = c.Start;
      job.Length = c.SourceRate;
      job.IsTrack = true;
    }
    const auto errors = ConvertJob(job);
    ASSERT_TRUE(errors.empty()) << errors[0].ErrorMessage;
    EXPECT_EQ(ProbeStream(output, "sample_rate,channels"),
              std::to_string(c.OutRate) + "," + std::to_string(c.OutChannels) + "\n");
    const std::vector<double> samples = AsSamples(FFmpegDecode(output, "s16le"), 16);
    const double seconds = c.Start >= 0 ? 1 : 3;
    EXPECT_NEAR(double(samples.size()) / c.OutChannels, seconds * c.OutRate, seconds) << "frames";
    EXPECT_NEAR(MeasuredTone(samples, c.OutChannels, c.OutRate), 1000, 1.0);
    if (c.SourceChannels == 1 && c.OutRate == c.SourceRate) {  // an up-mix copies the source
      const std::vector<double> mono = AsSamples(FFmpegDecode(source, "s16le"), 16);
      ASSERT_EQ(samples.size(), 2 * mono.size());
      for (size_t i = 0; i < mono.size(); ++i) ASSERT_TRUE(samples[2 * i] == mono[i] && samples[2 * i + 1] == mono[i]) << i;
    }
  }
}

// Options that ask for nothing new (off, or the source's own rate and
// channels) leave a lossless output bit-exact.
TEST(Resample, NothingAskedLeavesLosslessOutputsBitExact) {
  const std::string folder = TestFolder();
  const TTestSignal signal{.Seconds = 1.3};
  const std::string source = WriteSignal(folder + "/source.wav", signal);
  for (const auto &[resample, to, channels] : {std::tuple{false, 48000, 0}, {true, 44100, 2}, {false, 8000, 1}}) {
    TFLACOptions flac;
    TFileListRec job = WholeSourceJob(source, folder + "/out.flac", dfFLAC, &flac);
    job.PreprocessOptions.Resample = resample;
    job.PreprocessOptions.ResampleTo = to;
    job.PreprocessOptions.Channels = channels == 1 ? 0 : channels;
    const auto errors = ConvertJob(job);
    ASSERT_TRUE(errors.empty()) << errors[0].ErrorMessage;
    EXPECT_EQ(FFmpegDecode(folder + "/out.flac", "s16le"), MakeSamples(signal)) << to;
  }
}

// A rate a format cannot hold comes down within its family, or to the limit.
TEST(Resample, RateWithinTheHighestOfTheSourcesFamilyThatFits) {
  const struct {
    int32_t Rate, MaxRate, Expected;
  } rows[] = {{352800, 0, 352800},      {352800, 96000, 88200}, {352800, 48000, 44100},
              {705600, 655350, 352800}, {192000, 96000, 96000}, {384000, 48000, 48000},
              {100000, 96000, 96000},   {22050, 48000, 22050},  {96000, 44100, 44100}};
  for (const auto &r : rows) EXPECT_EQ(RateWithin(r.Rate, r.MaxRate), r.Expected) << r.Rate << " within " << r.MaxRate;
}

}  // namespace
