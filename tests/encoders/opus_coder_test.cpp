// SPDX-License-Identifier: GPL-3.0-or-later
// Opus outputs in rows of rate, channels, depth, mode and frame size (pairwise). Sources at other rates reach the
// encoder resampled to 48 kHz, as the worker gives them: opusdec and FFmpeg decode each output to exactly the frames
// fed (the resampled length), aligned with them; the header, the tags and the cover read back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <sstream>

#include "encoders/opus/opus_coder.h"
#include "engine/resampler.h"
#include "tags/output_tags.h"
#include "test_support.h"

namespace {

struct TRow {
  const char *Name;
  int Rate, Channels, Bits;  // as the encoder receives them: 16-bit or float
  TOpusOptions Options;
  double MinSnrDb;
  bool Stop = false;  // stopped at half, the shorter file kept
};
std::ostream &operator<<(std::ostream &os, const TRow &c) { return os << c.Name; }

using M = TOpusMode;
constexpr auto kVoIP = TOpusApplication::VoIP;
const TRow kRows[] = {
    {"mono8k", 8000, 1, 16, {.Bitrate = 64}, 15},
    {"stereoFloat44k60ms", 44100, 2, 32, {.Mode = M::CVBR, .FrameSize = 600}, 20},
    {"stereoFloatVoipCbr", 48000, 2, 32, {.Mode = M::CBR, .Application = kVoIP}, 4, true},
    {"sixFloat10msCbr", 48000, 6, 32, {.Mode = M::CBR, .FrameSize = 100}, 12},
    {"eight96k2_5ms", 96000, 8, 16, {.Complexity = 0, .FrameSize = 25}, 8, true},
    {"monoFloat96kCvbr5ms", 96000, 1, 32, {.Bitrate = 32, .Mode = M::CVBR, .FrameSize = 50}, 6},
    {"threeFloat", 48000, 3, 32, {.Complexity = 5}, 10},
    {"five22kVoip40ms", 22050, 5, 16, {.Application = kVoIP, .FrameSize = 400}, 6},
    {"seven44kCbr40ms", 44100, 7, 16, {.Mode = M::CBR, .FrameSize = 400}, 8},
};
const char *const kLayouts[] = {"", "mono", "stereo", "3.0", "quad", "5.0", "5.1", "6.1", "7.1"};

std::string Tool(const std::vector<std::string> &argv) {
  std::string out;
  EXPECT_EQ(RunTool(argv, &out), 0) << argv[0];
  return out;
}
class OpusCoder : public ::testing::TestWithParam<TRow> {};

TEST_P(OpusCoder, DecodersGiveExactlyWhatWasFed) {
  const TRow &c = GetParam();
  const std::string folder = TestFolder(), output = folder + "/out.opus", wav = folder + "/opusdec.wav";
  TTestSignal signal{.Rate = c.Rate, .Channels = c.Channels, .Bits = c.Bits, .Seconds = 3, .Music = c.Channels < 3};
  std::vector<uint8_t> fed = MakeSamples(signal);
  if (c.Rate != 48000) {  // as the worker resamples for a format that takes only 48 kHz
    EXPECT_EQ(StreamTaken(PcmInfo(c.Rate, c.Channels, c.Bits).Streams[0], OpusFormat.Takes(&c.Options)).SampleRate,
              48000);
    TResampler resampler(c.Rate, c.Channels, 48000, c.Channels, c.Bits > 16);
    resampler.Convert(fed.data(), FrameCount(signal));
    fed = resampler.Output();
    resampler.Flush();
    fed.insert(fed.end(), resampler.Output().begin(), resampler.Output().end());
  }
  const size_t frameBytes = size_t(c.Channels * c.Bits / 8);  // the resampled length: the source's duration at 48 kHz
  EXPECT_LE(std::abs(double(fed.size() / frameBytes) - double(FrameCount(signal)) * 48000 / c.Rate), 1.0);

  const TTagRec tags{.Title = "Kép", .Artist = "A", .Album = "B", .Year = "2026", .Comment = "C", .Track = "3",
                     .Genre = "Jazz"};
  auto coder = OpusFormat.CreateCoder(output, tags, PcmInfo(48000, c.Channels, c.Bits), &c.Options);
  std::string error;
  ASSERT_EQ(coder->Init(error), 0) << error;
  const size_t block = size_t(coder->GetBufferSize()) / frameBytes * frameBytes;
  fed.resize(c.Stop ? fed.size() / frameBytes / 2 * frameBytes : fed.size());
  for (size_t at = 0; at < fed.size(); at += block)
    coder->DoOutput(fed.data() + at, int(std::min(block, fed.size() - at)), true);
  if (c.Stop) coder->Abort(true);
  coder->Finish();
  std::vector<int32_t> want;
  for (const double x : AsSamples(fed, c.Bits)) want.push_back(int32_t(std::lround(x * 32767)));
  const std::string cover = folder + "/cover.png";
  Tool({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "color=red:s=16x16", "-frames:v", "1", cover});
  WriteOutputTags(output, OpusFormat.WriteTags, tags, {.MimeType = "image/png", .Data = ReadText(cover)});

  Tool({"opusdec", "--quiet", output, wav});
  for (const std::string &file : {wav, output}) {
    std::vector<int32_t> got = AsInt16(FFmpegDecode(file, "s16le"));
    ASSERT_EQ(got.size(), want.size()) << file << ": " << got.size() / size_t(c.Channels) << " frames";
    // No lag: the delay is trimmed. Tones show swapped channels; the LFE keeps only the bass: left out.
    for (size_t i = 3; c.Channels >= 6 && i < got.size(); i += size_t(c.Channels)) got[i] = want[i] = 0;
    EXPECT_GT(SnrDb(want, got, c.Channels), c.MinSnrDb) << file;
  }

  // All packets but the last (trimmed) of the frame size asked; at a hard constant bitrate all alike, as asked.
  std::istringstream packets(Tool({"ffprobe", "-v", "error", "-select_streams", "a", "-show_entries",
                                  "packet=duration,size", "-of", "csv=p=0", output}));
  int count = 0, framed = 0;
  std::set<int> sizes;
  for (std::string line; std::getline(packets, line);)  // side data makes empty lines
    if (!line.empty() && ++count && std::stoi(line) == c.Options.FrameSize * 48 / 10)
      ++framed, sizes.insert(std::stoi(line.substr(line.find(',') + 1)));
  EXPECT_EQ(framed, count - 1);
  if (c.Options.Mode == M::CBR) {
    EXPECT_EQ(sizes.size(), 1u);
    EXPECT_NEAR(*sizes.begin() * 8 / (c.Options.FrameSize / 10.0), OpusBitrateFor(c.Options, c.Channels) / 1000.0, 1);
  }
  const std::string info = Tool({"opusinfo", output});
  for (const char *line : {"TITLE=Kép", "ARTIST=A", "ALBUM=B", "DATE=2026", "TRACKNUMBER=3", "GENRE=Jazz",
                           "COMMENT=C", "METADATA_BLOCK_PICTURE=3|image/png|"})
    EXPECT_NE(info.find(line), std::string::npos) << line << " in\n" << info;
  // FFmpeg reads the layout, the tags, and the picture as a stream of its own.
  EXPECT_EQ(Tool({"ffprobe", "-v", "error", "-show_entries",
                  "stream=codec_name,sample_rate,channels,channel_layout:stream_tags=title,artist", "-of",
                  "default=nw=1", output}),
            "codec_name=opus\nsample_rate=48000\nchannels=" + std::to_string(c.Channels) + "\nchannel_layout=" +
                kLayouts[c.Channels] + "\nTAG:ARTIST=A\nTAG:TITLE=Kép\ncodec_name=png\n");
}

INSTANTIATE_TEST_SUITE_P(Rows, OpusCoder, ::testing::ValuesIn(kRows),
                         [](const auto &info) { return std::string(info.param.Name); });

struct TOneKey final : TKeyLookup {
  TOneKey(const char *Key, const char *Value) : K(Key), V(Value) {}
  std::string K, V;
  std::optional<std::string> Value(const char *N) const override { return N == K ? std::optional(V) : std::nullopt; }
  bool Given(const char *N) const override { return N == K; }
};

// A key's value outside what Opus has is explained and keeps the stored setting.
TEST(OpusKeys, BadValuesAreExplainedAndChangeNothing) {
  const struct { const char *Key, *Value; bool Taken; } cases[] = {
      {"FrameSize", "2.5", true}, {"FrameSize", "30", false}, {"Mode", "CbR", true}, {"Mode", "abr", false},
      {"Bitrate", "510", true}, {"Bitrate", "511", false}, {"Bitrate", "x", false}, {"Complexity", "11", false},
      {"Application", "voip", true}, {"Application", "speech", false}};
  const std::shared_ptr<void> defaults = OpusFormat.NewOptions();
  for (const auto &c : cases) {
    const std::shared_ptr<void> options = OpusFormat.NewOptions();
    std::string error;
    OpusFormat.ReadKeys(TOneKey(c.Key, c.Value), options.get(), error);
    EXPECT_EQ(error.empty(), c.Taken) << c.Key << " " << c.Value << ": " << error;
    EXPECT_EQ(std::count_if(OpusFormat.Fields.begin(), OpusFormat.Fields.end(),
                            [&](const TOptionField &f) { return f.Get(options.get()) != f.Get(defaults.get()); }),
              c.Taken ? 1 : 0) << c.Key << " " << c.Value;
  }
}

}  // namespace
