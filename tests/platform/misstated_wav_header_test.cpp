// SPDX-License-Identifier: GPL-3.0-or-later
// WAV headers with a field their writer got wrong: the stream still gives
// the samples ffmpeg decodes, from the start and after seeks.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/bass/bass.h"
#include "test_support.h"

namespace {

struct TMisstatedWav {
  std::string Name;
  std::vector<std::string> Codec;  // as ffmpeg writes the file
  size_t Field;                    // offset of the field in the "fmt " chunk's content
  int Bytes;                       // its size (the fields that follow it too)
  uint64_t Value;                  // written over it, little-endian
};

std::ostream &operator<<(std::ostream &os, const TMisstatedWav &c) { return os << c.Name; }

class MisstatedWav : public ::testing::TestWithParam<TMisstatedWav> {
 protected:
  void SetUp() override { StartBass(); }
};

TEST_P(MisstatedWav, DecodesAndSeeksAsFFmpegDecodes) {
  const TMisstatedWav &c = GetParam();
  const std::string path = WriteSignal(TestFolder() + "/source.wav", {.Seconds = 3}, c.Codec);
  std::vector<uint8_t> bytes = ReadFileBytes(path);
  const std::string fmt = "fmt ";
  const size_t at = std::search(bytes.begin(), bytes.end(), fmt.begin(), fmt.end()) - bytes.begin() + 8;
  ASSERT_LT(at + c.Field + c.Bytes, bytes.size());
  for (int i = 0; i < c.Bytes; ++i) bytes[at + c.Field + i] = uint8_t(c.Value >> 8 * i);
  WriteFileBytes(path, bytes);
  const std::vector<uint8_t> want = FFmpegDecode(path, "s16le");
  constexpr int64_t kFrameBytes = 4;  // 16-bit stereo
  const int64_t frames = int64_t(want.size()) / kFrameBytes;
  ASSERT_GT(frames, 44100 * 2);

  const HSTREAM s = BASS_StreamCreateFile(0, path.c_str(), 0, 0, BASS_STREAM_DECODE);
  ASSERT_NE(s, 0u) << BASS_ErrorGetCode();
  EXPECT_TRUE(ReadToEnd(s) == want) << "a plain decode differs";
  std::vector<uint8_t> block(4096 * kFrameBytes);
  for (const int64_t target : {frames / 2, int64_t(44100), frames - 5000, int64_t(3)}) {
    ASSERT_TRUE(BASS_ChannelSetPosition(s, QWORD(target * kFrameBytes), BASS_POS_BYTE)) << target;
    ASSERT_EQ(BASS_ChannelGetData(s, block.data(), DWORD(block.size())), block.size()) << target;
    EXPECT_TRUE(std::equal(block.begin(), block.end(), want.begin() + target * kFrameBytes))
        << "samples differ after a seek to frame " << target;
  }
  BASS_StreamFree(s);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, MisstatedWav,
    ::testing::Values(
        // Seeks in raw PCM are placed by the stated byte rate.
        TMisstatedWav{"ByteRateOfAnotherRate", {"-c:a", "pcm_s16le"}, 8, 4, 44100 * 4 * 3 / 4},
        TMisstatedWav{"ByteRateTooHigh", {"-c:a", "pcm_s16le"}, 8, 4, 48000 * 4},
        // A 4-bit codec has no whole bytes per frame: no block size is no frame size.
        TMisstatedWav{"AdpcmWithoutBlockSize", {"-c:a", "adpcm_yamaha"}, 12, 2, 0},
        // A block size of one byte, and the byte rate that goes with it.
        TMisstatedWav{"BlockOfOneByte", {"-c:a", "pcm_s16le"}, 8, 6, uint64_t(1) << 32 | 44100},
        // A block size that is no whole number of frames: seeks land on its multiples.
        TMisstatedWav{"BlockOfOddSize", {"-c:a", "pcm_s16le"}, 12, 2, 143}),
    [](const auto &info) { return info.param.Name; });

}  // namespace
