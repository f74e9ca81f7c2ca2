// SPDX-License-Identifier: GPL-3.0-or-later
// The WAV writer: the sizes its header states, and where it will not write. (Every depth and layout: the round trip.)
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "encoders/wav/wav_coder.h"
#include "test_support.h"

namespace {

// The header states the data written: none for an empty output, none for one whose data is left out (debug), an odd
// size with a pad byte outside it, data given in pieces of any size as it came; a file under the name is replaced.
TEST(WavCoder, HeadersStateTheDataWrittenAndReplaceAnExistingFile) {
  const std::string path = TestFolder() + "/out.wav";
  const struct { int Channels, Bits; size_t DataBytes; bool WriteData; uint32_t FileBytes, DataSize; } rows[] = {
      {2, 16, 0, true, 44, 0}, {2, 16, 4000, false, 44, 0}, {1, 24, 3, true, 48, 3}, {2, 16, 4000, true, 4044, 4000}};
  for (const auto &c : rows) {
    SCOPED_TRACE(std::to_string(c.DataBytes) + " bytes" + (c.WriteData ? "" : " left out"));
    WriteFileBytes(path, std::vector<uint8_t>(100000, 1));
    TWAVCoder coder(path, TTagRec{}, PcmInfo(44100, c.Channels, c.Bits));
    std::string error;
    ASSERT_EQ(coder.Init(error), 0) << error;
    std::vector<uint8_t> data(c.DataBytes);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7 + i / 256);
    for (size_t at = 0, step = size_t(c.Bits / 8); at < data.size(); at += step, step = step * 3 + size_t(c.Bits / 8))
      coder.DoOutput(data.data() + at, int(std::min(step, data.size() - at)), c.WriteData);  // whole samples
    coder.Finish();
    const std::vector<uint8_t> bytes = ReadFileBytes(path);
    ASSERT_EQ(bytes.size(), c.FileBytes);
    EXPECT_EQ(ReadLE(bytes, 4, 4), c.FileBytes - 8);
    EXPECT_EQ(ReadLE(bytes, 40, 4), c.DataSize);
    EXPECT_TRUE(!c.WriteData || std::equal(data.begin(), data.end(), bytes.begin() + 44));
  }
}

// Outputs are regular files: a pipe under the name (read or not) is refused rather than waited on; no device written.
TEST(WavCoder, AnOutputThatCannotBeCreatedFailsInit) {
  const std::string folder = TestFolder();
  ASSERT_EQ(mkfifo((folder + "/pipe.wav").c_str(), 0644), 0);
  ASSERT_EQ(mkfifo((folder + "/read-pipe.wav").c_str(), 0644), 0);
  const int reader = open((folder + "/read-pipe.wav").c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  std::filesystem::create_directory(folder + "/folder.wav");
  std::filesystem::create_symlink("/dev/null", folder + "/null.wav");
  for (const auto &[name, reason] : {std::pair{"/missing/folder/out.wav", "No such file or directory"},
                                     {"/pipe.wav", "not a regular file"}, {"/read-pipe.wav", "not a regular file"},
                                     {"/folder.wav", "Is a directory"}, {"/null.wav", "not a regular file"}}) {
    TWAVCoder coder(folder + name, TTagRec{}, PcmInfo(44100, 2, 16));
    std::string error;
    EXPECT_EQ(coder.Init(error), 1) << name;
    EXPECT_EQ(error.rfind("CreateFileStream (step1) : ", 0), 0u) << error;
    EXPECT_NE(error.find(reason), std::string::npos) << error;
    coder.Finish();  // tolerated without an output
  }
  char byte;
  EXPECT_EQ(read(reader, &byte, 1), 0);  // the pipe's reader got nothing
  close(reader);
}

}  // namespace
