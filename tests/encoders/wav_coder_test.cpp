// SPDX-License-Identifier: GPL-3.0-or-later
// The WAV writer: the header other programs read, the samples as given.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "encoders/wav/wav_coder.h"
#include "test_support.h"

namespace {

uint32_t U32At(const std::vector<uint8_t> &b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}

// Encodes `samples` in uneven blocks (whole samples, not whole frames).
void Encode(TWAVCoder &coder, const std::vector<uint8_t> &samples, int sampleBytes) {
  size_t at = 0;
  for (size_t step = 1; at < samples.size(); step = step * 3 + 1) {
    const size_t n = std::min(samples.size() - at, step * size_t(sampleBytes));
    coder.DoOutput(samples.data() + at, int(n), true);
    at += n;
  }
}

struct TWavCase {
  int Bits, Channels;
  const char *Codec;
};

std::ostream &operator<<(std::ostream &os, const TWavCase &c) {
  return os << c.Bits << " bits, " << c.Channels << " channels";
}

class WavCoderFormats : public ::testing::TestWithParam<TWavCase> {};

TEST_P(WavCoderFormats, OtherProgramsReadTheSamplesBack) {
  const TWavCase c = GetParam();
  const std::string path = TestFolder() + "/out.wav";
  TTestSignal signal;
  signal.Bits = c.Bits;
  signal.Channels = c.Channels;
  signal.Rate = 48000;
  signal.Seconds = 0.3;
  const std::vector<uint8_t> samples = MakeSamples(signal);

  TWAVCoder coder(path, TTagRec{}, PcmInfo(48000, c.Channels, c.Bits));
  std::string error;
  ASSERT_EQ(coder.Init(error), 0) << error;
  Encode(coder, samples, c.Bits / 8);
  coder.Finish();

  std::string out, err;
  ASSERT_EQ(RunTool({"ffprobe", "-v", "error", "-show_entries",
                     "stream=codec_name,channels,sample_rate,duration_ts", "-of", "csv=p=0", path},
                    &out, &err), 0);
  EXPECT_EQ(err, "");
  EXPECT_EQ(out, std::string(c.Codec) + ",48000," + std::to_string(c.Channels) + "," +
                     std::to_string(FrameCount(signal)) + "\n");
  EXPECT_EQ(FFmpegDecode(path, RawFormat(c.Bits)), samples);
  ASSERT_EQ(RunTool({"sox", path, "-n"}, nullptr, &err), 0);
  // sox warns about every extensible float header, FFmpeg's own included.
  if (c.Bits == 32 && c.Channels > 2)
    EXPECT_EQ(err, "sox WARN wav: wave header missing extended part of fmt chunk\n");
  else
    EXPECT_EQ(err, "") << "sox complains";
}

INSTANTIATE_TEST_SUITE_P(Formats, WavCoderFormats,
                         ::testing::Values(TWavCase{16, 2, "pcm_s16le"}, TWavCase{16, 1, "pcm_s16le"},
                                           TWavCase{24, 1, "pcm_s24le"}, TWavCase{24, 2, "pcm_s24le"},
                                           TWavCase{32, 2, "pcm_f32le"}, TWavCase{16, 6, "pcm_s16le"},
                                           TWavCase{24, 6, "pcm_s24le"}, TWavCase{32, 6, "pcm_f32le"}),
                         [](const auto &info) {
                           return std::to_string(info.param.Bits) + "bit_" +
                                  std::to_string(info.param.Channels) + "ch";
                         });

// The header states the data written: none for an empty output, none for one
// whose data is left out (debug), an odd size with a pad byte outside it; an
// existing file under the name is replaced whole.
TEST(WavCoder, HeadersStateTheDataWrittenAndReplaceAnExistingFile) {
  const std::string folder = TestFolder();
  const struct {
    const char *Name;
    int Channels, Bits;
    size_t DataBytes;
    bool WriteData;
    uint32_t FileBytes, DataSize;
  } cases[] = {
      {"/empty.wav", 2, 16, 0, true, 44, 0},
      {"/debug.wav", 2, 16, 4000, false, 44, 0},
      {"/odd.wav", 1, 24, 3, true, 48, 3},
  };
  for (const auto &c : cases) {
    const std::string path = folder + c.Name;
    WriteFileBytes(path, std::vector<uint8_t>(100000, 1));
    TWAVCoder coder(path, TTagRec{}, PcmInfo(44100, c.Channels, c.Bits));
    std::string error;
    ASSERT_EQ(coder.Init(error), 0) << error;
    const std::vector<uint8_t> data(c.DataBytes, 7);
    if (!data.empty()) coder.DoOutput(data.data(), int(data.size()), c.WriteData);
    coder.Finish();
    const std::vector<uint8_t> bytes = ReadFileBytes(path);
    ASSERT_EQ(bytes.size(), c.FileBytes) << c.Name;
    EXPECT_EQ(U32At(bytes, 4), c.FileBytes - 8) << c.Name;
    EXPECT_EQ(U32At(bytes, 40), c.DataSize) << c.Name;
  }
}

// Outputs are regular files: a pipe under the name (read or not) is refused
// at once rather than waited on, and nothing is written into a device.
TEST(WavCoder, AnOutputThatCannotBeCreatedFailsInit) {
  const std::string folder = TestFolder();
  ASSERT_EQ(mkfifo((folder + "/pipe.wav").c_str(), 0644), 0);
  ASSERT_EQ(mkfifo((folder + "/read-pipe.wav").c_str(), 0644), 0);
  const int reader = open((folder + "/read-pipe.wav").c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  std::filesystem::create_directory(folder + "/folder.wav");
  std::filesystem::create_symlink("/dev/null", folder + "/null.wav");
  const struct {
    const char *Name, *Reason;
  } cases[] = {
      {"/missing/folder/out.wav", "No such file or directory"},
      {"/pipe.wav", "not a regular file"},
      {"/read-pipe.wav", "not a regular file"},
      {"/folder.wav", "Is a directory"},
      {"/null.wav", "not a regular file"},
  };
  for (const auto &c : cases) {
    TWAVCoder coder(folder + c.Name, TTagRec{}, PcmInfo(44100, 2, 16));
    std::string error;
    EXPECT_EQ(coder.Init(error), 1) << c.Name;
    EXPECT_EQ(error.rfind("CreateFileStream (step1) : ", 0), 0u) << error;
    EXPECT_NE(error.find(c.Reason), std::string::npos) << error;
    coder.Finish();  // tolerated without an output
  }
  char byte;
  EXPECT_EQ(read(reader, &byte, 1), 0);  // the pipe's reader got nothing
  close(reader);
}

TEST(WavCoder, AFullDiskIsAnError) {
  const std::string path = TestFolder() + "/full.wav";
  TWAVCoder coder(path, TTagRec{}, PcmInfo(44100, 2, 16));
  std::string error;
  ASSERT_EQ(coder.Init(error), 0);
  const std::vector<uint8_t> block(10000);
  TFileSizeLimit full(300000);
  EXPECT_THROW(
      {
        for (int i = 0; i < 100; ++i) coder.DoOutput(block.data(), int(block.size()), true);
        coder.Finish();
      },
      std::runtime_error);
}

}  // namespace
