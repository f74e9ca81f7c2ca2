// SPDX-License-Identifier: GPL-3.0-or-later
// Monkey's Audio outputs: FFmpeg's decoder (with its frame CRC check) gives
// back exactly the input, at every level, depth and length; the header, seek
// table and MD5 are right; any split of the input gives the same file.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "encoders/ape/ape_coder.h"
#include "test_support.h"

extern "C" {
#include <libavutil/md5.h>
#include <libavutil/mem.h>
}

namespace fs = std::filesystem;

namespace {

uint32_t LE(const std::vector<uint8_t> &b, size_t at, int bytes = 4) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | b[at + size_t(i)];
  return v;
}

// Decodes with FFmpeg, failing on any CRC mismatch or decoding error.
std::vector<uint8_t> StrictDecode(const std::string &ape, int bits) {
  const std::string raw = ape + ".decoded";
  std::string err;
  EXPECT_EQ(RunTool({"ffmpeg", "-v", "error", "-y", "-err_detect", "crccheck+explode", "-i", ape, "-f",
                     RawFormat(bits), raw}, nullptr, &err), 0) << err;
  EXPECT_EQ(err, "");
  std::vector<uint8_t> bytes = ReadFileBytes(raw);
  fs::remove(raw);
  return bytes;
}

// Compresses raw PCM through the encoder, feeding it in the given block sizes.
// `statedSeconds` is the length the source claims (0: none).
void Compress(const std::string &path, const std::vector<uint8_t> &pcm, int rate, int channels, int bits,
              int32_t setting, const std::vector<size_t> &sizes = {65536}, double statedSeconds = 0) {
  TAPECoder coder(path, TTagRec{}, PcmInfo(rate, channels, bits, statedSeconds), TAPEOptions{setting});
  std::string error;
  ASSERT_EQ(coder.Init(error), 0) << error;
  size_t at = 0;
  for (size_t i = 0; at < pcm.size(); ++i) {
    const size_t n = std::min(pcm.size() - at, sizes[i % sizes.size()]);
    coder.DoOutput(pcm.data() + at, int(n), true);
    at += n;
  }
  coder.Finish();
}

struct TApeCase {
  int Setting, Bits, Channels;
};

std::ostream &operator<<(std::ostream &os, const TApeCase &c) {
  return os << "level " << c.Setting * 1000 << ", " << c.Bits << " bits, " << c.Channels << " channels";
}

class ApeRoundTrip : public ::testing::TestWithParam<TApeCase> {};

TEST_P(ApeRoundTrip, MusicDecodesToTheInput) {
  const TApeCase c = GetParam();
  const TTestSignal s{.Channels = c.Channels, .Bits = c.Bits, .Seconds = 2.2};
  const std::vector<uint8_t> pcm = MakeMusic(s);
  const std::string path = TestFolder() + "/out.ape";
  Compress(path, pcm, s.Rate, c.Channels, c.Bits, c.Setting);
  EXPECT_EQ(StrictDecode(path, c.Bits), pcm);
}

std::vector<TApeCase> ApeCases() {
  std::vector<TApeCase> cases;
  for (int setting = 1; setting <= 5; ++setting)
    for (int bits : {16, 24})
      for (int channels : {1, 2}) cases.push_back({setting, bits, channels});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(LevelsDepthsChannels, ApeRoundTrip, ::testing::ValuesIn(ApeCases()),
                         [](const auto &info) {
                           return "level" + std::to_string(info.param.Setting * 1000) + "_" +
                                  std::to_string(info.param.Bits) + "bit_" + std::to_string(info.param.Channels) + "ch";
                         });

class ApeFiles : public ::testing::Test {
 protected:
  void SetUp() override { Folder = TestFolder(); }
  std::string Folder;
};

// Lengths around the frame size make later frames start inside 32-bit words.
TEST_F(ApeFiles, EveryLengthAndFrameBoundary) {
  constexpr int64_t kFrame = 73728;  // blocks per frame at level 1000
  const TTestSignal s{.Seconds = double(3 * kFrame + 7) / 44100};
  for (int64_t blocks : {int64_t(1), int64_t(100), kFrame - 1, kFrame, kFrame + 1, 3 * kFrame + 7}) {
    for (int bits : {16, 24}) {
      TTestSignal one = s;
      one.Bits = bits;
      const std::vector<uint8_t> source = MakeMusic(one);
      const std::vector<uint8_t> pcm(source.begin(), source.begin() + blocks * 2 * bits / 8);
      const std::string path = Folder + "/len" + std::to_string(blocks) + "_" + std::to_string(bits) + ".ape";
      Compress(path, pcm, s.Rate, 2, bits, 1);
      EXPECT_EQ(StrictDecode(path, bits), pcm) << blocks << " blocks, " << bits << " bits";
      EXPECT_EQ(ProbeStream(path, "duration_ts,nb_read_packets"), std::to_string(blocks) + "," + std::to_string((blocks + kFrame - 1) / kFrame) + "\n");
    }
  }
}

TEST_F(ApeFiles, SilenceSquareWavesAndTwinChannels) {
  const int rate = 44100, blocks = 100000;
  for (int bits : {16, 24}) {
    const int bytes = bits / 8;
    const int32_t full = bits == 16 ? 32767 : 8388607;
    struct TShape {
      const char *Name;
      std::function<int32_t(int, int)> Value;  // (block, channel)
    } shapes[] = {
        {"silence", [](int, int) { return 0; }},
        {"square", [&](int t, int c) { return ((t / 50 + c) % 2) ? full : -full - 1; }},
        {"twins", [&](int t, int) { return int32_t(full * 0.6 * std::sin(t * 0.01)); }},
        {"one_silent", [&](int t, int c) { return c ? 0 : int32_t(full * 0.6 * std::sin(t * 0.013)); }},
        {"click", [&](int t, int) { return t == 80000 ? full : 0; }},
    };
    for (const TShape &shape : shapes) {
      std::vector<uint8_t> pcm;
      for (int t = 0; t < blocks; ++t)
        for (int c = 0; c < 2; ++c) {
          const int32_t v = shape.Value(t, c);
          for (int b = 0; b < bytes; ++b) pcm.push_back(uint8_t(v >> (8 * b)));
        }
      for (int32_t setting : {1, 5}) {
        const std::string path = Folder + "/" + shape.Name + std::to_string(bits) + "_" + std::to_string(setting) + ".ape";
        Compress(path, pcm, rate, 2, bits, setting);
        EXPECT_EQ(StrictDecode(path, bits), pcm) << shape.Name << " " << bits << " bits, setting " << setting;
      }
    }
  }
}

TEST_F(ApeFiles, HeaderSeekTableAndMd5) {
  const TTestSignal s{.Seconds = 5};  // three frames at level 2000
  const std::vector<uint8_t> pcm = MakeMusic(s);
  // Without a stated length, and with one so short that the seek table
  // outgrows its room and the frames move to make more.
  for (double stated : {0.0, 1.0}) {
    SCOPED_TRACE("stated length " + std::to_string(stated));
    const std::string path = Folder + "/h" + std::to_string(int(stated)) + ".ape";
    Compress(path, pcm, s.Rate, 2, 16, 2, {65536}, stated);
    const std::vector<uint8_t> f = ReadFileBytes(path);
    ASSERT_GT(f.size(), 200u);
    EXPECT_EQ(std::string(f.begin(), f.begin() + 4), "MAC ");
    EXPECT_EQ(LE(f, 4, 2), 3990u);
    const uint32_t descriptorBytes = LE(f, 8), headerBytes = LE(f, 12), seekBytes = LE(f, 16);
    EXPECT_EQ(descriptorBytes, 52u);
    EXPECT_EQ(headerBytes, 24u);
    EXPECT_EQ(LE(f, 20), 0u);  // no stored WAV header: decoders create one
    const uint64_t frameBytes = LE(f, 24) | uint64_t(LE(f, 28)) << 32;
    const size_t h = 52;
    EXPECT_EQ(LE(f, h, 2), 2000u);
    EXPECT_EQ(LE(f, h + 2, 2), 32u);
    EXPECT_EQ(LE(f, h + 4), 73728u);
    const uint32_t frames = LE(f, h + 12);
    EXPECT_EQ(frames, 3u);
    EXPECT_EQ(LE(f, h + 8), uint32_t(FrameCount(s) - 2 * 73728));
    EXPECT_EQ(LE(f, h + 16, 2), 16u);
    EXPECT_EQ(LE(f, h + 18, 2), 2u);
    EXPECT_EQ(LE(f, h + 20), 44100u);

    // The seek table: frame 0 at the first frame byte, then strictly increasing.
    const uint32_t firstFrame = 52 + 24 + seekBytes;
    ASSERT_GE(seekBytes / 4, frames);
    if (stated > 0) {
      EXPECT_EQ(seekBytes / 4, frames);  // the table was made to fit
    }
    EXPECT_EQ(LE(f, 76), firstFrame);
    for (uint32_t i = 1; i < frames; ++i) EXPECT_GT(LE(f, 76 + 4 * i), LE(f, 76 + 4 * (i - 1)));
    EXPECT_EQ(firstFrame + frameBytes, f.size());

    // MD5 over the frame data, then the header and the seek table.
    AVMD5 *md5 = av_md5_alloc();
    av_md5_init(md5);
    av_md5_update(md5, f.data() + firstFrame, frameBytes);
    av_md5_update(md5, f.data() + 52, 24 + seekBytes);
    uint8_t digest[16];
    av_md5_final(md5, digest);
    av_free(md5);
    EXPECT_TRUE(std::equal(digest, digest + 16, f.begin() + 36));

    // A player seeking into the third frame lands on the right sample.
    const std::string raw = Folder + "/seek.raw";
    ASSERT_EQ(RunTool({"ffmpeg", "-v", "error", "-y", "-ss", "3.6", "-i", path, "-t", "0.2", "-f", "s16le", raw}), 0);
    const std::vector<uint8_t> part = ReadFileBytes(raw);
    const size_t at = size_t(3.6 * 44100) * 4;
    ASSERT_EQ(part.size(), size_t(0.2 * 44100) * 4);
    EXPECT_TRUE(std::equal(part.begin(), part.end(), pcm.begin() + std::ptrdiff_t(at)));
    EXPECT_TRUE(StrictDecode(path, 16) == pcm);
  }
}

// However the input is split into calls, the file is the same.
TEST_F(ApeFiles, AnySplitOfTheInputGivesTheSameFile) {
  const TTestSignal s{.Bits = 24, .Seconds = 3.5};
  const std::vector<uint8_t> pcm = MakeMusic(s);
  Compress(Folder + "/whole.ape", pcm, s.Rate, 2, 24, 3, {pcm.size()});
  const std::vector<uint8_t> reference = ReadFileBytes(Folder + "/whole.ape");
  std::mt19937 random(11);
  for (int round = 0; round < 6; ++round) {
    std::vector<size_t> sizes;
    for (int i = 0; i < 50; ++i) sizes.push_back(size_t(random() % 200000 + 1) / 6 * 6 + 6);
    if (round == 0) sizes = {6};  // one block at a time
    const std::string path = Folder + "/split" + std::to_string(round) + ".ape";
    Compress(path, pcm, s.Rate, 2, 24, 3, sizes);
    EXPECT_EQ(ReadFileBytes(path), reference) << "round " << round;
  }
}

TEST_F(ApeFiles, EachLevelCompressesMusicBetterAndNormalBeatsFlacBest) {
  const TTestSignal s{.Seconds = 10};
  const std::string wav = WriteMusic(Folder + "/music.wav", s);
  const std::vector<uint8_t> pcm = MakeMusic(s);
  uintmax_t previous = UINTMAX_MAX;
  uintmax_t normal = 0;
  for (int32_t setting = 1; setting <= 5; ++setting) {
    const std::string path = Folder + "/l" + std::to_string(setting) + ".ape";
    Compress(path, pcm, s.Rate, 2, 16, setting);
    const uintmax_t size = fs::file_size(path);
    EXPECT_LT(size, previous) << "level " << setting * 1000;
    previous = size;
    if (setting == 2) normal = size;
  }
  ASSERT_EQ(RunTool({"flac", "-8", "-s", "-f", wav, "-o", Folder + "/best.flac"}), 0);
  EXPECT_LT(normal, fs::file_size(Folder + "/best.flac"));
}

TEST_F(ApeFiles, StoppedConversionsLeaveAValidShorterFile) {
  const TTestSignal s{.Seconds = 20};
  const std::string source = WriteMusic(Folder + "/long.wav", s);
  const TAPEOptions setting{2};
  const std::string output = Folder + "/stopped.ape";
  EXPECT_TRUE(ConvertStopped(source, output, dfAPE, &setting, 30).empty());
  const std::vector<uint8_t> decoded = StrictDecode(output, 16);
  const std::vector<uint8_t> pcm = MakeMusic(s);
  EXPECT_GT(decoded.size(), 0u);
  EXPECT_LT(decoded.size(), pcm.size());
  EXPECT_TRUE(std::equal(decoded.begin(), decoded.end(), pcm.begin()));
}

TEST_F(ApeFiles, WhatCannotBeCompressedIsACleanError) {
  const std::string source = WriteSignal(Folder + "/six.wav", {.Channels = 6});
  const TAPEOptions setting{2};
  auto errors = ConvertFile(source, Folder + "/six.ape", dfAPE, &setting);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].ErrorMessage, "APE files hold at most 2 channels; the source has 6");
  EXPECT_FALSE(fs::exists(Folder + "/six.ape"));

  TAPECoder nowhere(Folder + "/missing/x.ape", TTagRec{}, PcmInfo(44100, 2, 16), setting);
  std::string why;
  EXPECT_EQ(nowhere.Init(why), 1);
  EXPECT_EQ(why.rfind("Error starting APECompress.\r\ninvalid output file", 0), 0u) << why;
  nowhere.Finish();

  const std::vector<uint8_t> pcm = MakeMusic({.Seconds = 3});
  TAPECoder full(Folder + "/full.ape", TTagRec{}, PcmInfo(44100, 2, 16), setting);
  std::string error;
  ASSERT_EQ(full.Init(error), 0) << error;
  {
    TFileSizeLimit diskFull(100000);
    EXPECT_THROW(
        {
          full.DoOutput(pcm.data(), int(pcm.size()), true);
          full.Finish();
        },
        std::runtime_error);
  }

  TAPECoder empty(Folder + "/empty.ape", TTagRec{}, PcmInfo(44100, 2, 16), setting);
  ASSERT_EQ(empty.Init(error), 0);
  EXPECT_THROW(empty.Finish(), EAPEException);  // no audio: no valid file can be made
}

}  // namespace
