// SPDX-License-Identifier: GPL-3.0-or-later
// MP3 outputs: gapless length through the LAME tag, the Xing frame count,
// every CBR bitrate, mono, presets, stopped files, the ID3v1 tag. Every file
// is decoded and compared with its source (signal-to-noise ratio).
#include <gtest/gtest.h>

#include <filesystem>

#include "encoders/mp3/mp3_coder.h"
#include "platform/bass/mp3_info_tag.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

// The file as LAME's own decoder gives it (gapless with a LAME tag).
std::vector<int32_t> LameDecode(const std::string &mp3, const std::string &folder) {
  const std::string wav = folder + "/lame-decoded.wav";
  EXPECT_EQ(RunTool({"lame", "--quiet", "--decode", mp3, wav}), 0);
  return AsInt16(FFmpegDecode(wav, "s16le"));
}

// The encoder reaches 12 dB or more on the noisy test signal (CBR 112 kbit/s
// the least); silence gives 0 dB, swapped bytes about -11 dB.
constexpr double kMinSnrDb = 6;
// Frames the decoder may lag behind without the LAME tag (encoder delay and padding).
constexpr int kMaxDelay = 2 * 1152 + 1105;

int64_t PacketCount(const std::string &path) { return std::stoll(ProbeStream(path, "nb_read_packets")); }

class Mp3Coder : public ::testing::Test {
 protected:
  void SetUp() override {
    Folder = TestFolder();
    Signal.Seconds = 3.3;
    Source = WriteSignal(Folder + "/source.wav", Signal);
  }
  std::string Folder, Source;
  TTestSignal Signal;
};

// VBR and preset files: gapless through the LAME tag frame, which counts the
// frames; an ID3v1 block at the end.
class Mp3Tagged : public Mp3Coder, public ::testing::WithParamInterface<const char *> {};

TEST_P(Mp3Tagged, GaplessWithAValidLameTag) {
  TMP3Options options;  // the stored defaults: VBR, new method, quality 4
  if (std::string(GetParam()) != "VBR") {
    options.BitrateType = btPRESET;
    options.Preset = MP3PresetPosition(GetParam());
  }
  const std::string output = Folder + "/out.mp3";
  const auto errors = ConvertFile(Source, output, dfMP3, &options);
  ASSERT_TRUE(errors.empty()) << errors[0].ErrorMessage;
  const std::vector<int32_t> decoded = LameDecode(output, Folder);
  EXPECT_EQ(int64_t(decoded.size()) / 2, FrameCount(Signal));
  EXPECT_GT(SnrDb(AsInt16(MakeSamples(Signal)), decoded, 2), kMinSnrDb);
  EXPECT_EQ(int64_t(FFmpegDecode(output, "s16le").size()) / 4, FrameCount(Signal));
  TMp3InfoTag tag;
  ASSERT_TRUE(ReadMp3InfoTag(output, tag));
  EXPECT_EQ(tag.Frames, PacketCount(output));
  EXPECT_TRUE(tag.HasEncoderDelays);
  const std::vector<uint8_t> bytes = ReadFileBytes(output);
  EXPECT_EQ(std::string(bytes.end() - 128, bytes.end() - 125), "TAG");
  EXPECT_EQ(uint8_t(bytes.back()), 255);  // no genre
}

INSTANTIATE_TEST_SUITE_P(Modes, Mp3Tagged, ::testing::Values("VBR", "STANDARD", "ABR"));

TEST_F(Mp3Coder, EveryCbrBitrateDecodes) {
  for (int position = 1; position < MP3BitrateCount; ++position) {
    TMP3Options options;
    options.BitrateType = btCBR;
    options.Bitrate = MP3BitrateAt(position);
    const std::string output = Folder + "/cbr" + std::to_string(options.Bitrate) + ".mp3";
    ASSERT_TRUE(ConvertFile(Source, output, dfMP3, &options).empty()) << options.Bitrate;
    TMp3InfoTag tag;
    EXPECT_FALSE(ReadMp3InfoTag(output, tag)) << "CBR files carry no VBR frame";
    const std::string out = ProbeStream(output, "sample_rate,bit_rate");
    const int rate = std::stoi(out);  // the library lowers the rate for low bitrates
    EXPECT_EQ(std::stoi(out.substr(out.find(',') + 1)) / 1000, options.Bitrate);
    // Without the tag the decoder keeps the encoder's delay and padding.
    const int64_t expected = FrameCount(Signal) * rate / 44100;
    const std::vector<int32_t> decoded = LameDecode(output, Folder);
    const int64_t frames = int64_t(decoded.size()) / 2;
    EXPECT_GE(frames, expected) << options.Bitrate;
    EXPECT_LE(frames, expected + kMaxDelay) << options.Bitrate;
    // Only the rates kept at the source's rate compare sample for sample.
    if (rate == 44100) {
      EXPECT_GT(SnrDb(AsInt16(MakeSamples(Signal)), decoded, 2, kMaxDelay), kMinSnrDb) << options.Bitrate;
    }
  }
}

TEST_F(Mp3Coder, AMonoSourceGivesAMonoFile) {
  const TTestSignal mono{.Channels = 1};
  const std::string source = WriteSignal(Folder + "/mono.wav", mono);
  TMP3Options options;
  options.StereoMode = 1;
  const std::string output = Folder + "/mono.mp3";
  ASSERT_TRUE(ConvertFile(source, output, dfMP3, &options).empty());
  EXPECT_EQ(ProbeStream(output, "channels"), "1\n");
  const std::vector<int32_t> decoded = LameDecode(output, Folder);
  EXPECT_EQ(int64_t(decoded.size()), FrameCount(mono));
  EXPECT_GT(SnrDb(AsInt16(MakeSamples(mono)), decoded, 1), kMinSnrDb);
}

TEST_F(Mp3Coder, AStoppedFileIsPlayableWithoutTagFrameOrId3) {
  const TTestSignal longer{.Seconds = 30};
  const std::string source = WriteSignal(Folder + "/long.wav", longer);
  TMP3Options options;
  const std::string output = Folder + "/stopped.mp3";
  EXPECT_TRUE(ConvertStopped(source, output, dfMP3, &options, 10).empty());
  TMp3InfoTag tag;
  EXPECT_FALSE(ReadMp3InfoTag(output, tag));
  const std::vector<uint8_t> bytes = ReadFileBytes(output);
  EXPECT_NE(std::string(bytes.end() - 128, bytes.end() - 125), "TAG");
  std::string err;
  EXPECT_EQ(RunTool({"ffmpeg", "-v", "error", "-i", output, "-f", "null", "-"}, nullptr, &err), 0);
  EXPECT_EQ(err, "");
  const size_t decoded = FFmpegDecode(output, "s16le").size() / 4;
  EXPECT_GT(decoded, 44100u);
  EXPECT_LT(decoded, size_t(FrameCount(longer)));
}

TEST_F(Mp3Coder, SourceTagsReachTheId3v1Block) {
  const std::string tagged = Folder + "/tagged.flac";
  ASSERT_EQ(RunTool({"ffmpeg", "-v", "error", "-y", "-i", Source, "-c:a", "flac", "-metadata", "title=Intro",
                     "-metadata", "artist=Band", "-metadata", "track=3/10", "-metadata", "genre=Rock", tagged}),
            0);
  TMP3Options options;
  const std::string output = Folder + "/tagged.mp3";
  ASSERT_TRUE(ConvertFile(tagged, output, dfMP3, &options).empty());
  const std::vector<uint8_t> bytes = ReadFileBytes(output);
  const std::string block(bytes.end() - 128, bytes.end());
  EXPECT_EQ(block.substr(0, 8), "TAGIntro");
  EXPECT_EQ(block.substr(33, 4), "Band");
  EXPECT_EQ(uint8_t(block[126]), 0);  // "3/10" is no number
  EXPECT_EQ(uint8_t(block[127]), 17);
}

TEST_F(Mp3Coder, MoreThanTwoChannelsAreMixedDownToStereo) {
  TTestSignal six;
  six.Channels = 6;
  const std::string source = WriteSignal(Folder + "/six.wav", six);
  TMP3Options options;
  const auto errors = ConvertFile(source, Folder + "/six.mp3", dfMP3, &options);
  ASSERT_TRUE(errors.empty()) << errors[0].ErrorMessage;
  EXPECT_EQ(ProbeStream(Folder + "/six.mp3", "channels"), "2\n");
}

}  // namespace
