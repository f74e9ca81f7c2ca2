// SPDX-License-Identifier: GPL-3.0-or-later
// Our own Monkey's Audio compressor: FFmpeg's decoder (with its frame CRC check) gives back exactly the input at every
// level, depth, channel count, length around the frame size and shape of signal; the header, seek table and MD5 are
// right; any split of the input gives the same file.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "encoders/ape/ape_coder.h"
#include "test_support.h"

extern "C" {
#include <libavutil/md5.h>
}

namespace {

uint32_t LE(const std::vector<uint8_t> &b, size_t at, int bytes = 4) { return uint32_t(ReadLE(b, at, bytes)); }

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

// Compresses PCM, fed in blocks of `sizes` in turn; `statedSeconds` is the length the source claims (0: none).
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

constexpr int64_t kFrame = 73728;  // blocks per frame up to level 3000; 4 times that at 4000, 16 at 5000

// Lengths around the frame size make later frames start inside 32-bit words. However the input is split into calls
// (one block at a time, pieces of odd sizes), the file is the same.
TEST(ApeCoder, DecodesToTheInput) {
  enum TShape { Music, Silence, Square, Twins, OneSilent, Click };
  const struct { int Setting, Bits, Channels; int64_t Blocks; TShape Shape; } rows[] = {
      {1, 16, 2, 1, Music},         {1, 24, 2, 100, Music},        {1, 16, 2, kFrame - 1, Square},
      {1, 24, 2, kFrame, Music},    {1, 16, 2, kFrame + 1, Twins}, {1, 24, 2, 3 * kFrame + 7, Music},
      {2, 16, 1, 100000, Silence},  {2, 24, 2, 100000, OneSilent}, {2, 16, 2, 2 * kFrame, Music},
      {3, 16, 2, 100000, Click},    {3, 24, 1, 100000, Music},     {3, 24, 2, kFrame + 1, Square},
      {4, 16, 2, 100000, Square},   {4, 24, 1, 4 * kFrame + 1, Music}, {4, 16, 1, 100000, Twins},
      {5, 24, 2, 100000, Square},   {5, 16, 1, 100000, Music},     {5, 16, 2, 100000, OneSilent},
      {5, 24, 2, 100000, Click},
  };
  const std::string path = TestFolder() + "/out.ape";
  for (const auto &c : rows) {
    SCOPED_TRACE("row " + std::to_string(&c - rows));
    const int32_t full = c.Bits == 16 ? 32767 : 8388607;
    std::vector<uint8_t> pcm = MakeMusic({.Channels = c.Channels, .Bits = c.Bits, .Seconds = double(c.Blocks) / 44100});
    for (int64_t t = 0; c.Shape != Music && t < c.Blocks * c.Channels; ++t) {
      const int64_t ch = t % c.Channels, at = t / c.Channels;
      const int32_t v = c.Shape == Silence     ? 0
                        : c.Shape == Square    ? ((at / 50 + ch) % 2 ? full : -full - 1)
                        : c.Shape == Twins     ? int32_t(full * 0.6 * std::sin(double(at) * 0.01))
                        : c.Shape == OneSilent ? (ch ? 0 : int32_t(full * 0.6 * std::sin(double(at) * 0.013)))
                                               : (at == 80000 ? full : 0);
      for (int b = 0; b < c.Bits / 8; ++b) pcm[size_t(t * c.Bits / 8 + b)] = uint8_t(v >> (8 * b));
    }
    Compress(path, pcm, 44100, c.Channels, c.Bits, c.Setting);
    EXPECT_TRUE(StrictDecode(path, c.Bits) == pcm);
    const int64_t frame = kFrame * (c.Setting == 4 ? 4 : c.Setting == 5 ? 16 : 1);
    EXPECT_EQ(ProbeStream(path, "duration_ts,nb_read_packets"),
              std::to_string(c.Blocks) + "," + std::to_string((c.Blocks + frame - 1) / frame) + "\n");
    const std::vector<uint8_t> reference = ReadFileBytes(path);
    const size_t b = size_t(c.Bits / 8 * c.Channels);
    for (const std::vector<size_t> &sizes : {std::vector<size_t>{b}, {4099 * b, b, 70001 * b, pcm.size()}}) {
      Compress(path, pcm, 44100, c.Channels, c.Bits, c.Setting, sizes);
      EXPECT_TRUE(ReadFileBytes(path) == reference) << sizes.size() << " sizes";
    }
  }
}

TEST(ApeCoder, HeaderSeekTableAndMd5) {
  const std::string folder = TestFolder();
  const TTestSignal s{.Seconds = 5};  // three frames at level 2000
  const std::vector<uint8_t> pcm = MakeMusic(s);
  // Without a stated length, and with one so short that the seek table outgrows its room and the frames move.
  for (double stated : {0.0, 1.0}) {
    SCOPED_TRACE("stated length " + std::to_string(stated));
    const std::string path = folder + "/h" + std::to_string(int(stated)) + ".ape";
    Compress(path, pcm, s.Rate, 2, 16, 2, {65536}, stated);
    const std::vector<uint8_t> f = ReadFileBytes(path);
    ASSERT_GT(f.size(), 200u);
    EXPECT_EQ(std::string(f.begin(), f.begin() + 4), "MAC ");
    const uint32_t seekBytes = LE(f, 16), frames = LE(f, 52 + 12);
    // Version; descriptor, header, seek table, no WAV header; then the header: level, flags, blocks per frame, final
    // frame blocks, frames, depth, channels, rate.
    EXPECT_EQ(std::vector<uint32_t>({LE(f, 4, 2), LE(f, 8), LE(f, 12), LE(f, 20), LE(f, 52, 2), LE(f, 54, 2),
                                     LE(f, 56), LE(f, 60), frames, LE(f, 68, 2), LE(f, 70, 2), LE(f, 72)}),
              std::vector<uint32_t>({3990, 52, 24, 0, 2000, 32, 73728, uint32_t(FrameCount(s) - 2 * 73728), 3, 16,
                                     2, 44100}));
    const uint64_t frameBytes = LE(f, 24) | uint64_t(LE(f, 28)) << 32;
    // The seek table: frame 0 at the first frame byte, then strictly increasing.
    const uint32_t firstFrame = 52 + 24 + seekBytes;
    ASSERT_GE(seekBytes / 4, frames);
    EXPECT_TRUE(stated == 0 || seekBytes / 4 == frames);  // the table was made to fit
    EXPECT_EQ(LE(f, 76), firstFrame);
    for (uint32_t i = 1; i < frames; ++i) EXPECT_GT(LE(f, 76 + 4 * i), LE(f, 76 + 4 * (i - 1)));
    EXPECT_EQ(firstFrame + frameBytes, f.size());
    // MD5 over the frame data, then the header and the seek table.
    std::vector<uint8_t> summed(f.begin() + firstFrame, f.end());
    summed.insert(summed.end(), f.begin() + 52, f.begin() + firstFrame);
    uint8_t digest[16];
    av_md5_sum(digest, summed.data(), summed.size());
    EXPECT_TRUE(std::equal(digest, digest + 16, f.begin() + 36));
    EXPECT_TRUE(StrictDecode(path, 16) == pcm);  // FFmpeg finds every frame by the seek table
  }
  TAPECoder empty(folder + "/empty.ape", TTagRec{}, PcmInfo(44100, 2, 16), TAPEOptions{2});
  std::string why;  // no audio: no valid file can be made
  ASSERT_EQ(empty.Init(why), 0);
  EXPECT_THROW(empty.Finish(), EAPEException);
}

TEST(ApeCoder, EachLevelCompressesMusicBetterAndNormalBeatsFlacBest) {
  const std::string folder = TestFolder();
  const TTestSignal s{.Seconds = 10, .Music = true};
  std::vector<uintmax_t> sizes;
  for (int32_t setting = 1; setting <= 5; ++setting) {
    Compress(folder + "/l.ape", MakeSamples(s), s.Rate, 2, 16, setting);
    sizes.push_back(fs::file_size(folder + "/l.ape"));
    EXPECT_TRUE(setting == 1 || sizes[size_t(setting) - 1] < sizes[size_t(setting) - 2]) << "level " << setting * 1000;
  }
  ASSERT_EQ(RunTool({"flac", "-8", "-s", "-f", WriteSignal(folder + "/music.wav", s), "-o", folder + "/best.flac"}), 0);
  EXPECT_LT(sizes[1], fs::file_size(folder + "/best.flac"));
}

}  // namespace
