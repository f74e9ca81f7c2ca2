// SPDX-License-Identifier: GPL-3.0-or-later
// Opus outputs in rows of rate, channels, depth, mode and frame size
// (pairwise). Sources at other rates reach the encoder as the worker gives
// them, resampled to 48 kHz: the output's exact length is that of the
// resampled audio. opusdec and FFmpeg decode each output to exactly the frames
// fed, aligned with them; the header, the tags and the cover read back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <sstream>

#include "encoders/opus/opus_coder.h"
#include "engine/resampler.h"
#include "tags/cover_art.h"
#include "test_support.h"

namespace {

struct TRow {
  const char *Name;
  int Rate, Channels, Bits;
  TOpusOptions Options;
  double MinSnrDb;
  bool Stop = false;  // stopped at half, the shorter file kept
};
std::ostream &operator<<(std::ostream &os, const TRow &c) { return os << c.Name; }

using M = TOpusMode;
const TRow kRows[] = {
    {"mono8k", 8000, 1, 16, {.Bitrate = 64}, 15},
    {"stereoFloat44k60ms", 44100, 2, 32, {.Mode = M::CVBR, .FrameSize = 600}, 20},
    {"stereo24VoipCbr", 48000, 2, 24, {.Mode = M::CBR, .Application = TOpusApplication::VoIP}, 4, true},
    {"sixFloat10msCbr", 48000, 6, 32, {.Mode = M::CBR, .FrameSize = 100}, 12},
    {"eight96k2_5ms", 96000, 8, 16, {.Complexity = 0, .FrameSize = 25}, 8, true},
    {"monoFloat96kCvbr5ms", 96000, 1, 32, {.Bitrate = 32, .Mode = M::CVBR, .FrameSize = 50}, 6},
};
const char *const kLayouts[] = {"", "mono", "stereo", "3.0", "quad", "5.0", "5.1", "6.1", "7.1"};

// Samples of `bits` as 16-bit integers, rounded as a decoder would.
std::vector<int32_t> Int16Of(const std::vector<uint8_t> &data, int bits) {
  std::vector<int32_t> out;
  for (double s : AsSamples(data, bits)) out.push_back(int32_t(std::clamp(std::lround(s * 32768), -32768L, 32767L)));
  return out;
}

class OpusCoder : public ::testing::TestWithParam<TRow> {};

TEST_P(OpusCoder, DecodersGiveExactlyWhatWasFed) {
  const TRow &c = GetParam();
  const std::string folder = TestFolder(), output = folder + "/out.opus", wav = folder + "/opusdec.wav";
  const TTestSignal signal{.Rate = c.Rate, .Channels = c.Channels, .Bits = c.Bits, .Seconds = 3, .Music = c.Channels <= 2};
  std::vector<uint8_t> fed = MakeSamples(signal);
  if (c.Rate != 48000) {  // as the worker resamples for a format that takes only 48 kHz
    ASSERT_EQ(StreamTaken(PcmInfo(c.Rate, c.Channels, c.Bits).Streams[0], OpusFormat.Takes(&c.Options)).SampleRate, 48000);
    TResampler resampler(c.Rate, c.Channels, 48000, c.Channels, c.Bits > 16);
    resampler.Convert(fed.data(), FrameCount(signal));
    std::vector<uint8_t> out = resampler.Output();
    resampler.Flush();
    out.insert(out.end(), resampler.Output().begin(), resampler.Output().end());
    fed = std::move(out);
  }
  const int frameBytes = c.Channels * (c.Bits / 8);
  const int64_t resampled = int64_t(fed.size()) / frameBytes;
  // The worker's resampler keeps the length: the source's duration at 48 kHz.
  EXPECT_LE(std::abs(double(resampled) - double(FrameCount(signal)) * 48000 / c.Rate), 1.0);

  TTagRec tags{.Title = "Kép", .Artist = "A", .Album = "B", .Year = "2026", .Comment = "C", .Track = "3", .Genre = "Jazz"};
  std::unique_ptr<TCustomCoder> coder = OpusFormat.CreateCoder(output, tags, PcmInfo(48000, c.Channels, c.Bits), &c.Options);
  std::string error;
  ASSERT_EQ(coder->Init(error), 0) << error;
  const size_t block = size_t(coder->GetBufferSize() / frameBytes * frameBytes);
  const size_t end = c.Stop ? fed.size() / frameBytes / 2 * frameBytes : fed.size();
  for (size_t at = 0; at < end; at += block) coder->DoOutput(fed.data() + at, int(std::min(block, end - at)), true);
  if (c.Stop) coder->Abort(true);
  coder->Finish();
  fed.resize(end);
  const std::vector<int32_t> expected = Int16Of(fed, c.Bits);

  const std::string cover = folder + "/cover.png";
  ASSERT_EQ(RunTool({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "color=red:s=16x16", "-frames:v", "1", cover}), 0);
  const std::vector<uint8_t> png = ReadFileBytes(cover);
  WriteOpusCover(output, {.MimeType = "image/png", .Data = std::string(png.begin(), png.end())});

  ASSERT_EQ(RunTool({"opusdec", "--quiet", output, wav}), 0);
  for (const std::vector<int32_t> &decoded : {AsInt16(FFmpegDecode(wav, "s16le")), AsInt16(FFmpegDecode(output, "s16le"))}) {
    EXPECT_EQ(decoded.size(), expected.size()) << "frames: " << decoded.size() / size_t(c.Channels);
    // Each channel against its own (no lag: the delay is trimmed); the LFE keeps only the bass.
    for (int ch = 0; ch < c.Channels && decoded.size() == expected.size(); ++ch) {
      if (c.Channels >= 6 && ch == 3) continue;
      std::vector<int32_t> want, got;
      for (size_t i = size_t(ch); i < expected.size(); i += size_t(c.Channels)) want.push_back(expected[i]), got.push_back(decoded[i]);
      const double snr = SnrDb(want, got, 1);
      EXPECT_GT(snr, c.MinSnrDb) << "channel " << ch;
      RecordProperty("snr_db_" + std::to_string(ch), std::to_string(snr));
    }
  }
  EXPECT_EQ(ProbeStream(output, "sample_rate,channels,channel_layout"),
            "48000," + std::to_string(c.Channels) + "," + kLayouts[c.Channels] + "\n");

  // Packets of the frame size asked; at a hard constant bitrate all alike, at the bitrate asked.
  std::string packets;
  ASSERT_EQ(RunTool({"ffprobe", "-v", "error", "-select_streams", "a", "-show_entries", "packet=duration,size", "-of",
                     "csv=p=0", output}, &packets), 0);
  std::map<int, int> durations;
  std::set<int> sizes;
  std::istringstream lines(packets);
  for (std::string line; std::getline(lines, line);)  // side data makes empty lines
    if (!line.empty()) ++durations[std::stoi(line)], sizes.insert(std::stoi(line.substr(line.find(',') + 1)));
  EXPECT_EQ(std::max_element(durations.begin(), durations.end(), [](auto a, auto b) { return a.second < b.second; })->first,
            c.Options.FrameSize * 48 / 10);
  if (c.Options.Mode == M::CBR) {
    EXPECT_EQ(sizes.size(), 1u);
    EXPECT_NEAR(*sizes.begin() * 8 / (c.Options.FrameSize / 10.0), OpusBitrateFor(c.Options, c.Channels) / 1000.0, 1);
  }

  std::string info;
  ASSERT_EQ(RunTool({"opusinfo", output}, &info), 0);
  for (const char *line : {"TITLE=Kép", "ARTIST=A", "ALBUM=B", "DATE=2026", "TRACKNUMBER=3", "GENRE=Jazz", "COMMENT=C",
                           "METADATA_BLOCK_PICTURE="})
    EXPECT_NE(info.find(line), std::string::npos) << line << " in\n" << info;
  std::string streams;  // FFmpeg takes the picture for a stream of its own
  ASSERT_EQ(RunTool({"ffprobe", "-v", "error", "-show_entries", "stream=codec_name", "-of", "csv=p=0", output}, &streams), 0);
  EXPECT_EQ(streams, "opus\npng\n");
}

INSTANTIATE_TEST_SUITE_P(Rows, OpusCoder, ::testing::ValuesIn(kRows),
                         [](const auto &info) { return std::string(info.param.Name); });

struct TOneKey final : TKeyLookup {
  TOneKey(const char *Key, const char *Given) : Key(Key), Given_(Given) {}
  std::string Key, Given_;
  std::optional<std::string> Value(const char *Name) const override { return Name == Key ? std::optional(Given_) : std::nullopt; }
  bool Given(const char *Name) const override { return Name == Key; }
};

// A key's value outside what Opus has is explained and keeps the stored setting.
TEST(OpusKeys, BadValuesAreExplainedAndChangeNothing) {
  const struct {
    const char *Key, *Value;
    bool Taken;
  } cases[] = {{"FrameSize", "2.5", true}, {"FrameSize", "30", false}, {"Mode", "CbR", true}, {"Mode", "abr", false},
               {"Bitrate", "510", true},   {"Bitrate", "511", false},  {"Bitrate", "x", false}, {"Complexity", "11", false},
               {"Application", "voip", true}, {"Application", "speech", false}};
  for (const auto &c : cases) {
    const std::shared_ptr<void> options = OpusFormat.NewOptions();
    std::string error;
    OpusFormat.ReadKeys(TOneKey(c.Key, c.Value), options.get(), error);
    EXPECT_EQ(error.empty(), c.Taken) << c.Key << " " << c.Value << ": " << error;
    const TOpusOptions &o = *static_cast<const TOpusOptions *>(options.get());
    const bool changed = o.FrameSize != 200 || o.Mode != M::VBR || o.Bitrate != 128 || o.Complexity != 10 ||
                         o.Application != TOpusApplication::Audio;
    EXPECT_EQ(changed, c.Taken) << c.Key << " " << c.Value;
  }
}

}  // namespace
