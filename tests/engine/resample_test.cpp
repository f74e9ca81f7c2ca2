// SPDX-License-Identifier: GPL-3.0-or-later
// Resampling and remixing in the worker: the output has the asked rate and
// channels, the right length, the tone at its pitch; nothing asked, nothing
// changes (lossless outputs stay bit-exact).
#include <gtest/gtest.h>

#include "encoders/flac/flac_format.h"
#include "engine/resampler.h"
#include "test_support.h"

namespace {

struct TResampleCase {
  std::string Name;
  int SourceRate, SourceChannels;
  std::string SourceCodec;  // of the source WAV
  TDestinationFormat Format;
  std::string Ext;
  bool Resample;
  int ResampleTo, Channels;  // as stored
  double Start = -1;         // a track of the source: seconds in, and a second long
  int OutRate, OutChannels;  // what the output must hold
};

std::ostream &operator<<(std::ostream &os, const TResampleCase &c) { return os << c.Name; }

class Resample : public ::testing::TestWithParam<TResampleCase> {};

constexpr double kTone = 1000, kSeconds = 3;

// The tone's frequency from the upward zero crossings of the first channel.
double MeasuredTone(const std::vector<int32_t> &samples, int channels, int rate) {
  int crossings = 0;
  int64_t first = -1, last = -1;
  for (size_t i = size_t(channels); i < samples.size(); i += size_t(channels))
    if (samples[i - size_t(channels)] < 0 && samples[i] >= 0) {
      ++crossings;
      if (first < 0) first = int64_t(i / size_t(channels));
      last = int64_t(i / size_t(channels));
    }
  return crossings > 1 ? (crossings - 1) * double(rate) / double(last - first) : 0;
}

TEST_P(Resample, OutputHasTheAskedRateChannelsLengthAndPitch) {
  const TResampleCase &c = GetParam();
  const std::string folder = TestFolder(), source = folder + "/tone.wav";
  ASSERT_EQ(RunTool({"ffmpeg", "-v", "error", "-f", "lavfi", "-i",
                     "sine=frequency=1000:sample_rate=" + std::to_string(c.SourceRate) + ":duration=3",
                     "-ac", std::to_string(c.SourceChannels), "-c:a", c.SourceCodec, source}),
            0);
  const std::string output = folder + "/out." + c.Ext;
  TFLACOptions flac;
  TFileListRec job = WholeSourceJob(source, output, c.Format, c.Format == dfFLAC ? &flac : nullptr);
  job.PreprocessOptions.Resample = c.Resample;
  job.PreprocessOptions.ResampleTo = c.ResampleTo;
  job.PreprocessOptions.Channels = c.Channels;
  double sourceSeconds = kSeconds;
  if (c.Start >= 0) {  // a CUE track: start and length in the source's time
    job.Start = c.Start;
    job.Length = c.SourceRate;
    job.IsTrack = true;
    sourceSeconds = 1;
  }
  const auto errors = ConvertJob(job);
  ASSERT_TRUE(errors.empty()) << errors[0].ErrorMessage;

  EXPECT_EQ(ProbeStream(output, "sample_rate,channels"),
            std::to_string(c.OutRate) + "," + std::to_string(c.OutChannels) + "\n");
  const std::vector<int32_t> samples = AsInt16(FFmpegDecode(output, "s16le"));
  const double frames = double(samples.size()) / c.OutChannels;
  EXPECT_NEAR(frames, sourceSeconds * c.OutRate, std::max(1.0, sourceSeconds)) << "frames";
  EXPECT_NEAR(MeasuredTone(samples, c.OutChannels, c.OutRate), kTone, 1.0);
  if (c.OutChannels == 2 && c.SourceChannels == 1 && c.OutRate == c.SourceRate) {  // an up-mix copies the source
    const std::vector<int32_t> mono = AsInt16(FFmpegDecode(source, "s16le"));
    ASSERT_EQ(samples.size(), 2 * mono.size());
    int64_t differ = 0;
    for (size_t i = 0; i < mono.size(); ++i) differ += (samples[2 * i] != mono[i]) + (samples[2 * i + 1] != mono[i]);
    EXPECT_EQ(differ, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Resample,
    ::testing::Values(
        TResampleCase{"StereoTo48kMonoFlac", 44100, 2, "pcm_s16le", dfFLAC, "flac", true, 48000, 1, -1, 48000, 1},
        TResampleCase{"Stereo24BitTo48kMonoFlac", 44100, 2, "pcm_s24le", dfFLAC, "flac", true, 48000, 1, -1, 48000, 1},
        TResampleCase{"MonoToStereoKeepRateWav", 22050, 1, "pcm_s16le", dfWAV, "wav", false, 44100, 2, -1, 22050, 2},
        TResampleCase{"DownTo8kWav", 48000, 2, "pcm_s16le", dfWAV, "wav", true, 8000, 0, -1, 8000, 2},
        TResampleCase{"TrackOfASourceTo32k", 44100, 2, "pcm_s16le", dfWAV, "wav", true, 32000, 0, 1.0, 32000, 2}),
    [](const auto &info) { return info.param.Name; });

// Options that ask for nothing new (off, or the source's own rate and
// channels) leave a lossless output bit-exact.
TEST(ResampleOff, LosslessOutputsStayBitExact) {
  const std::string folder = TestFolder();
  const TTestSignal signal{.Channels = 2, .Bits = 16, .Seconds = 1.3};
  const std::string source = WriteSignal(folder + "/source.wav", signal, {"-c:a", "pcm_s16le"});
  struct TOff {
    bool Resample;
    int ResampleTo, Channels;
  };
  for (const TOff &off : {TOff{false, 48000, 0}, TOff{true, 44100, 2}, TOff{false, 8000, 0}}) {
    TFLACOptions flac;
    TFileListRec job = WholeSourceJob(source, folder + "/out.flac", dfFLAC, &flac);
    job.PreprocessOptions.Resample = off.Resample;
    job.PreprocessOptions.ResampleTo = off.ResampleTo;
    job.PreprocessOptions.Channels = off.Channels;
    const auto errors = ConvertJob(job);
    ASSERT_TRUE(errors.empty()) << errors[0].ErrorMessage;
    EXPECT_EQ(FFmpegDecode(folder + "/out.flac", "s16le"), MakeSamples(signal)) << off.ResampleTo;
  }
}

}  // namespace

// A rate a format cannot hold comes down within its family, or to the limit.
TEST(RateWithin, TheHighestOfTheSourcesFamilyThatFits) {
  const struct {
    int32_t Rate, MaxRate, Expected;
  } rows[] = {{352800, 0, 352800},     {352800, 96000, 88200},  {352800, 48000, 44100},
              {705600, 655350, 352800}, {192000, 96000, 96000}, {384000, 48000, 48000},
              {100000, 96000, 96000},  {22050, 48000, 22050},   {96000, 44100, 44100}};
  for (const auto &r : rows) EXPECT_EQ(RateWithin(r.Rate, r.MaxRate), r.Expected) << r.Rate << " within " << r.MaxRate;
}
