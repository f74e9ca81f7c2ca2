// SPDX-License-Identifier: GPL-3.0-or-later
// Seeking: after a seek to any frame, reading gives exactly the frames a plain
// decode has from there (CUE tracks are cut this way).
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "base/misc.h"
#include "platform/bass/bass.h"
#include "test_support.h"

namespace {

struct TSeekCase {
  std::string Name;
  std::string Ext;
  std::vector<std::string> Command;  // encoder command; "{in}" and "{out}" are replaced
  int Bits = 16;
};

std::ostream &operator<<(std::ostream &os, const TSeekCase &c) { return os << c.Name; }

class SeekExactly : public ::testing::TestWithParam<TSeekCase> {
 protected:
  void SetUp() override { StartBass(); }
};

TEST_P(SeekExactly, AnyFrameLikeAPlainDecode) {
  const TSeekCase &c = GetParam();
  const std::string folder = TestFolder();
  const TTestSignal signal{.Bits = c.Bits, .Seconds = 7.5};
  const std::string wav = WriteSignal(folder + "/input.wav", signal,
                                      {"-c:a", c.Bits == 24 ? "pcm_s24le" : "pcm_s16le"});
  std::string path = wav;
  if (!c.Command.empty()) {
    path = folder + "/source." + c.Ext;
    std::vector<std::string> argv = c.Command;
    for (std::string &a : argv) {
      if (a == "{in}") a = wav;
      if (a == "{out}") a = path;
    }
    std::string err;
    ASSERT_EQ(RunTool(argv, nullptr, &err), 0) << err;
  }
  const DWORD flags = BASS_STREAM_DECODE | BASS_STREAM_PRESCAN | (c.Bits > 16 ? BASS_SAMPLE_FLOAT : 0);
  const TBASSStreamCreateFunc create = GetBASSStreamFunc(GetFileExtension(path));

  HSTREAM linear = create(0, path.c_str(), 0, 0, flags);
  ASSERT_NE(linear, 0u);
  const std::vector<uint8_t> all = ReadToEnd(linear);
  BASS_StreamFree(linear);
  BASS_CHANNELINFO info;
  HSTREAM s = create(0, path.c_str(), 0, 0, flags);
  ASSERT_NE(s, 0u);
  BASS_ChannelGetInfo(s, &info);
  const int frameBytes = int(info.chans) * (c.Bits > 16 ? 4 : 2);
  const int64_t frames = int64_t(all.size()) / frameBytes;
  const int64_t second = info.freq;  // encoders may have resampled
  ASSERT_GT(frames, second * 7);

  // Forward and backward, near and far, at the edges and at random.
  std::vector<int64_t> targets = {second * 3, second * 3 + 1, 0, 1, 1151, 1152, 4096,
                                  frames / 2, frames - 1, frames - 1000, second * 6 + 77,
                                  second * 2 + 5, second * 5};
  std::mt19937 random(42);
  for (int i = 0; i < 8; ++i) targets.push_back(int64_t(random() % uint64_t(frames)));

  std::vector<uint8_t> block(4096 * size_t(frameBytes));
  for (int64_t target : targets) {
    ASSERT_TRUE(BASS_ChannelSetPosition(s, QWORD(target * frameBytes), BASS_POS_BYTE)) << target;
    EXPECT_EQ(BASS_ChannelGetPosition(s, BASS_POS_BYTE), QWORD(target * frameBytes));
    const int64_t want = std::min<int64_t>(4096, frames - target);
    const DWORD got = BASS_ChannelGetData(s, block.data(), DWORD(want * frameBytes));
    ASSERT_EQ(got, DWORD(want * frameBytes)) << "at frame " << target;
    EXPECT_TRUE(std::equal(block.begin(), block.begin() + got, all.begin() + target * frameBytes))
        << "samples differ after a seek to frame " << target;
  }

  // The very end: nothing left to read; past it: no such position.
  EXPECT_TRUE(BASS_ChannelSetPosition(s, QWORD(frames * frameBytes), BASS_POS_BYTE));
  EXPECT_EQ(BASS_ChannelGetData(s, block.data(), 4096), DWORD(-1));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ENDED);
  EXPECT_FALSE(BASS_ChannelSetPosition(s, QWORD((frames + 10) * frameBytes), BASS_POS_BYTE));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_POSITION);
  BASS_StreamFree(s);
}

const std::vector<TSeekCase> kSeekCases = {
    {"wav16", "wav", {}, 16},
    {"wav24", "wav", {}, 24},
    {"flac16", "flac", {"flac", "-s", "-f", "{in}", "-o", "{out}"}, 16},
    {"flac24", "flac", {"flac", "-s", "-f", "{in}", "-o", "{out}"}, 24},
    {"wv", "wv", {"wavpack", "-q", "-y", "{in}", "-o", "{out}"}, 16},
    {"tta", "tta", {"ffmpeg", "-v", "error", "-y", "-i", "{in}", "-c:a", "tta", "{out}"}, 16},
    {"m4a_alac", "m4a", {"ffmpeg", "-v", "error", "-y", "-i", "{in}", "-c:a", "alac", "{out}"}, 16},
    {"mp3_vbr", "mp3", {"lame", "--quiet", "-V", "5", "{in}", "{out}"}, 16},
    {"mp3_cbr_without_info_frame", "mp3", {"lame", "--quiet", "-t", "-b", "96", "{in}", "{out}"}, 16},
    {"ogg", "ogg", {"oggenc", "-Q", "{in}", "-o", "{out}"}, 16},
    {"wma", "wma", {"ffmpeg", "-v", "error", "-y", "-i", "{in}", "-c:a", "wmav2", "{out}"}, 16},
    {"ac3", "ac3", {"ffmpeg", "-v", "error", "-y", "-i", "{in}", "-c:a", "ac3", "{out}"}, 16},
    {"aac_adts", "aac", {"ffmpeg", "-v", "error", "-y", "-i", "{in}", "-c:a", "aac", "{out}"}, 16},
    {"m4a_aac", "m4a", {"ffmpeg", "-v", "error", "-y", "-i", "{in}", "-c:a", "aac", "{out}"}, 16},
    {"mpc", "mpc", {"mpcenc", "--silent", "--overwrite", "{in}", "{out}"}, 16},
};

INSTANTIATE_TEST_SUITE_P(AllTypes, SeekExactly, ::testing::ValuesIn(kSeekCases),
                         [](const auto &info) { return info.param.Name; });

}  // namespace
