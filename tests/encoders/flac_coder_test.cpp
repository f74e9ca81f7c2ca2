// SPDX-License-Identifier: GPL-3.0-or-later
// FLAC outputs: bit-exact at every level, depth and channel count, with the
// right stream information, also when stopped.
#include <gtest/gtest.h>

#include <filesystem>

#include "encoders/flac/flac_coder.h"
#include "test_support.h"

namespace {

std::string Md5Of(const std::string &path) {
  std::string out;
  RunTool({"md5sum", path}, &out);
  return out.substr(0, 32);
}

struct TFlacCase {
  int Bits, Channels, Level;
};

std::ostream &operator<<(std::ostream &os, const TFlacCase &c) {
  return os << c.Bits << " bits, " << c.Channels << " channels, level " << c.Level;
}

class FlacOutputs : public ::testing::TestWithParam<TFlacCase> {};

TEST_P(FlacOutputs, DecodeToTheSourceSamples) {
  const TFlacCase c = GetParam();
  const std::string folder = TestFolder();
  const TTestSignal signal{.Channels = c.Channels, .Bits = c.Bits, .Seconds = 1.7};
  const std::string source = WriteSignal(folder + "/source.wav", signal,
                                         {"-c:a", c.Bits == 24 ? "pcm_s24le" : "pcm_s16le"});
  TFLACOptions options;
  ApplyFLACCommandLineLevel(c.Level, options);
  const std::string output = folder + "/out.flac";
  const auto errors = ConvertFile(source, output, dfFLAC, &options);
  ASSERT_TRUE(errors.empty()) << errors[0].ErrorMessage;

  std::string err;
  EXPECT_EQ(RunTool({"flac", "-t", "-s", output}, nullptr, &err), 0) << err;
  const std::vector<uint8_t> samples = MakeSamples(signal);
  EXPECT_EQ(FFmpegDecode(output, RawFormat(c.Bits)), samples);

  std::string info;
  RunTool({"metaflac", "--show-total-samples", "--show-bps", "--show-channels", "--show-md5sum", output},
          &info);
  WriteFileBytes(folder + "/samples.raw", samples);
  EXPECT_EQ(info, std::to_string(FrameCount(signal)) + "\n" + std::to_string(c.Bits) + "\n" +
                      std::to_string(c.Channels) + "\n" + Md5Of(folder + "/samples.raw") + "\n");
}

std::vector<TFlacCase> FlacCases() {
  std::vector<TFlacCase> cases;
  for (int level = 0; level < FLACLevelCount; ++level) cases.push_back({16, 2, level});
  // Mono and the default level are rows of the shared round trip.
  for (int level : {0, 8}) {
    cases.push_back({24, 2, level});
    cases.push_back({24, 6, level});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(LevelsDepthsChannels, FlacOutputs, ::testing::ValuesIn(FlacCases()),
                         [](const auto &info) {
                           return std::to_string(info.param.Bits) + "bit_" +
                                  std::to_string(info.param.Channels) + "ch_level" +
                                  std::to_string(info.param.Level);
                         });

TEST(FlacCoder, FloatSourcesBecomeSixteenBitsAndStoppedFilesStayValid) {
  const std::string folder = TestFolder();
  const TTestSignal signal{.Bits = 32, .Seconds = 20};
  const std::string source = WriteSignal(folder + "/float.wav", signal, {"-c:a", "pcm_f32le"});
  TFLACOptions options;
  ApplyFLACCommandLineLevel(5, options);
  const std::string output = folder + "/out.flac";
  EXPECT_TRUE(ConvertStopped(source, output, dfFLAC, &options, 20).empty());
  std::string err, info;
  EXPECT_EQ(RunTool({"flac", "-t", "-s", output}, nullptr, &err), 0) << err;
  RunTool({"metaflac", "--show-bps", "--show-total-samples", output}, &info);
  const int64_t frames = std::stoll(info.substr(info.find('\n') + 1));
  EXPECT_EQ(info.substr(0, 3), "16\n");
  EXPECT_GT(frames, 0);
  EXPECT_LT(frames, FrameCount(signal));
}

TEST(FlacCoder, StartFailuresNameTheirStep) {
  const std::string folder = TestFolder();
  const std::string source = WriteSignal(folder + "/source.wav", TTestSignal{});
  TFLACOptions options;  // never configured: block size 4096, everything else 0
  options.BlockSize = 3;  // the library refuses blocks this small
  const auto errors = ConvertFile(source, folder + "/out.flac", dfFLAC, &options);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].ErrorMessage.find("Failed to initialize FLAC encoder. Code="), std::string::npos)
      << errors[0].ErrorMessage;
  EXPECT_NE(errors[0].ErrorMessage.find(", step=014"), std::string::npos);
  EXPECT_EQ(errors[0].LastCall, "TFLACCoder.Init");
  EXPECT_FALSE(std::filesystem::exists(folder + "/out.flac"));
}

TEST(FlacCoder, CoefficientPrecisionFitsTheDepth) {
  TFLACOptions options;
  options.QlpCoeffPrecision = 15;
  TFLACCoder coder(TestFolder() + "/p.flac", TTagRec{}, PcmInfo(44100, 2, 24), options);
  std::string error;
  ASSERT_EQ(coder.Init(error), 0) << error;
  EXPECT_EQ(coder.Library().QlpCoeffPrecision, 7);
  coder.Finish();
}

}  // namespace
