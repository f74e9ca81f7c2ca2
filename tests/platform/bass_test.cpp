// SPDX-License-Identifier: GPL-3.0-or-later
// The decoding interface: every input type decodes to the right samples, the
// right length and the right properties, and bad input fails cleanly.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <thread>

#include "base/misc.h"
#include "platform/bass/bass.h"
#include "test_support.h"

namespace {

std::string PcmCodec(int bits) {
  switch (bits) {
    case 8: return "pcm_u8";
    case 16: return "pcm_s16le";
    case 24: return "pcm_s24le";
    default: return "pcm_f32le";
  }
}

using TMaker = std::function<std::string(const std::string &folder, const TTestSignal &)>;

TMaker ByFFmpeg(const std::string &ext, std::vector<std::string> codecArgs) {
  return [=](const std::string &folder, const TTestSignal &s) {
    return WriteSignal(folder + "/source." + ext, s, codecArgs);
  };
}

TMaker Wav() {
  return [](const std::string &folder, const TTestSignal &s) {
    return WriteSignal(folder + "/source.wav", s, {"-c:a", PcmCodec(s.Bits)});
  };
}

// WavPack's own encoder, from a WAV file.
TMaker WavPack() {
  return [](const std::string &folder, const TTestSignal &s) {
    const std::string wav = WriteSignal(folder + "/input.wav", s, {"-c:a", PcmCodec(s.Bits)});
    const std::string wv = folder + "/source.wv";
    EXPECT_EQ(RunTool({"wavpack", "-q", "-y", wav, "-o", wv}), 0);
    return wv;
  };
}

HSTREAM Open(const std::string &path, DWORD flags = 0) {
  return GetBASSStreamFunc(GetFileExtension(path))(0, path.c_str(), 0, 0,
                                                   BASS_STREAM_DECODE | BASS_UNICODE | flags);
}

struct TLosslessCase {
  std::string Name;
  TMaker Make;
  int Bits;
  int Channels;
};

std::ostream &operator<<(std::ostream &os, const TLosslessCase &c) { return os << c.Name; }

class LosslessDecode : public ::testing::TestWithParam<TLosslessCase> {
 protected:
  void SetUp() override { StartBass(); }
};

// Every lossless source arrives exactly: 8 bits as 16-bit integers, 16 bits
// as they are, 24 bits and floats as floats that hold the values exactly.
TEST_P(LosslessDecode, DeliversTheSourceSamplesExactly) {
  const TLosslessCase &c = GetParam();
  const TTestSignal signal{.Channels = c.Channels, .Bits = c.Bits, .Seconds = 0.7};
  const std::string path = c.Make(TestFolder(), signal);
  const std::vector<uint8_t> source = MakeSamples(signal);
  const bool asFloat = c.Bits > 16;

  HSTREAM s = Open(path, asFloat ? BASS_SAMPLE_FLOAT : 0);
  ASSERT_NE(s, 0u) << "error " << BASS_ErrorGetCode();
  BASS_CHANNELINFO info;
  ASSERT_TRUE(BASS_ChannelGetInfo(s, &info));
  EXPECT_EQ(info.freq, 44100u);
  EXPECT_EQ(int(info.chans), c.Channels);
  EXPECT_EQ(int(info.origres), c.Bits);
  EXPECT_EQ((info.flags & BASS_SAMPLE_FLOAT) != 0, asFloat);

  const int64_t frames = FrameCount(signal);
  const int frameBytes = c.Channels * (asFloat ? 4 : 2);
  EXPECT_EQ(BASS_ChannelGetLength(s, BASS_POS_BYTE), QWORD(frames * frameBytes));

  const std::vector<uint8_t> decoded = ReadToEnd(s, 10000);
  ASSERT_EQ(decoded.size(), size_t(frames * frameBytes));
  EXPECT_EQ(BASS_ChannelIsActive(s), BASS_ACTIVE_STOPPED);
  uint8_t spare[64];
  EXPECT_EQ(BASS_ChannelGetData(s, spare, sizeof spare), DWORD(-1));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ENDED);
  BASS_StreamFree(s);

  size_t mismatches = 0;
  if (c.Bits == 8) {
    const std::vector<int32_t> got = AsInt16(decoded);
    for (size_t i = 0; i < got.size(); ++i)
      mismatches += got[i] != (int32_t(source[i]) - 128) * 256;
  } else if (c.Bits == 24) {
    const std::vector<float> got = AsFloat(decoded);
    const std::vector<int32_t> want = AsInt24(source);
    for (size_t i = 0; i < got.size(); ++i)
      mismatches += int32_t(got[i] * 8388608.0f) != want[i];
  } else {  // 16-bit integers and floats arrive as they are
    mismatches = decoded == source ? 0 : 1;
  }
  EXPECT_EQ(mismatches, 0u);
}

std::vector<TLosslessCase> LosslessCases() {
  std::vector<TLosslessCase> cases;
  for (int ch : {1, 2, 6}) {
    const std::string suffix = "_" + std::to_string(ch) + "ch";
    for (int bits : {8, 16, 24, 32})
      cases.push_back({"wav" + std::to_string(bits) + suffix, Wav(), bits, ch});
    for (int bits : {8, 16, 24, 32})
      cases.push_back({"wv" + std::to_string(bits) + suffix, WavPack(), bits, ch});
    for (int bits : {16, 24})
      cases.push_back({"flac" + std::to_string(bits) + suffix, ByFFmpeg("flac", {"-c:a", "flac"}), bits, ch});
    for (int bits : {8, 16, 24})
      cases.push_back({"tta" + std::to_string(bits) + suffix, ByFFmpeg("tta", {"-c:a", "tta"}), bits, ch});
  }
  for (int bits : {16, 24})
    cases.push_back({"m4a_alac" + std::to_string(bits), ByFFmpeg("m4a", {"-c:a", "alac"}), bits, 2});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(AllTypes, LosslessDecode, ::testing::ValuesIn(LosslessCases()),
                         [](const auto &info) { return info.param.Name; });

struct TLossyCase {
  std::string Name;
  std::string Ext;
  std::function<void(const std::string &wav, const std::string &out)> Encode;
  bool GaplessLength;  // the container states the source's own sample count
};

std::ostream &operator<<(std::ostream &os, const TLossyCase &c) { return os << c.Name; }

std::function<void(const std::string &, const std::string &)> Tool(std::vector<std::string> before,
                                                                    std::vector<std::string> after) {
  return [=](const std::string &wav, const std::string &out) {
    std::vector<std::string> argv = before;
    argv.push_back(wav);
    argv.insert(argv.end(), after.begin(), after.end());
    argv.push_back(out);
    std::string err;
    ASSERT_EQ(RunTool(argv, nullptr, &err), 0) << err;
  };
}

std::function<void(const std::string &, const std::string &)> FFmpeg(std::vector<std::string> codec) {
  std::vector<std::string> after = codec;
  return Tool({"ffmpeg", "-v", "error", "-y", "-i"}, after);
}

std::vector<TLossyCase> LossyCases() {
  return {
      {"mp3_lame_vbr", "mp3", Tool({"lame", "--quiet", "-V", "4"}, {}), true},
      {"mp3_lame_cbr_without_info_frame", "mp3", Tool({"lame", "--quiet", "-t", "-b", "128"}, {}), false},
      {"mp3_ffmpeg", "mp3", FFmpeg({"-c:a", "libmp3lame", "-b:a", "160k"}), true},
      {"ogg_oggenc", "ogg", Tool({"oggenc", "-Q"}, {"-o"}), true},
      {"wma", "wma", FFmpeg({"-c:a", "wmav2", "-b:a", "128k"}), false},
      {"ac3", "ac3", FFmpeg({"-c:a", "ac3"}), false},
      {"aac_adts", "aac", FFmpeg({"-c:a", "aac"}), false},
      {"mp4_aac", "mp4", FFmpeg({"-c:a", "aac"}), true},
      {"m4a_aac", "m4a", FFmpeg({"-c:a", "aac"}), true},
      {"mpc", "mpc", Tool({"mpcenc", "--silent", "--overwrite"}, {}), false},
  };
}

class LossyDecode : public ::testing::TestWithParam<TLossyCase> {
 protected:
  void SetUp() override { StartBass(); }
};

// Lossy sources decode to what FFmpeg's own decoder makes of them, and to the
// length the container states, where it states one.
TEST_P(LossyDecode, MatchesFFmpegAndTheStatedLength) {
  const TLossyCase &c = GetParam();
  const std::string folder = TestFolder();
  const TTestSignal signal{.Seconds = 2.3};
  const std::string wav = WriteSignal(folder + "/input.wav", signal);
  const std::string path = folder + "/source." + c.Ext;
  c.Encode(wav, path);

  HSTREAM s = Open(path);
  ASSERT_NE(s, 0u) << "error " << BASS_ErrorGetCode();
  BASS_CHANNELINFO info;
  ASSERT_TRUE(BASS_ChannelGetInfo(s, &info));
  EXPECT_EQ(info.chans, 2u);
  EXPECT_EQ(info.origres, 0u);
  const QWORD length = BASS_ChannelGetLength(s, BASS_POS_BYTE);
  const std::vector<uint8_t> decoded = ReadToEnd(s);
  BASS_StreamFree(s);

  EXPECT_EQ(length, decoded.size());
  const std::vector<uint8_t> reference = FFmpegDecode(path, "s16le");
  if (c.GaplessLength) {
    EXPECT_EQ(decoded.size(), size_t(FrameCount(signal) * 4));
  } else {
    EXPECT_EQ(decoded.size(), reference.size());
  }
  ASSERT_LE(decoded.size(), reference.size());
  EXPECT_TRUE(std::equal(decoded.begin(), decoded.end(), reference.begin()));
}

INSTANTIATE_TEST_SUITE_P(AllTypes, LossyDecode, ::testing::ValuesIn(LossyCases()),
                         [](const auto &info) { return info.param.Name; });

class BassFailures : public ::testing::Test {
 protected:
  void SetUp() override {
    StartBass();
    Folder = TestFolder();
  }
  std::string Folder;
};

// A missing file or a folder cannot be opened; empty and random files, and
// files whose extension names another family, are no audio to it.
TEST_F(BassFailures, WhatIsNoAudioOfItsExtensionIsRefused) {
  EXPECT_EQ(BASS_StreamCreateFile(0, Folder.c_str(), 0, 0, BASS_STREAM_DECODE), 0u);  // a folder
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEOPEN);
  std::vector<std::pair<std::string, int>> rows = {{Folder + "/missing.flac", BASS_ERROR_FILEOPEN}};
  std::mt19937 random(7);
  std::vector<uint8_t> noise(200000);
  for (uint8_t &b : noise) b = uint8_t(random());
  for (const std::string ext : {"flac", "mp3", "wav", "ogg", "wv", "ape", "m4a", "mpc", "tta", "wma"}) {
    WriteFileBytes(Folder + "/empty." + ext, {});
    WriteFileBytes(Folder + "/noise." + ext, noise);
    rows.insert(rows.end(), {{Folder + "/empty." + ext, BASS_ERROR_FILEFORM}, {Folder + "/noise." + ext, BASS_ERROR_FILEFORM}});
  }
  const std::string wav = WriteSignal(Folder + "/real.wav", {.Seconds = 0.5});
  const std::string flac = WriteSignal(Folder + "/real.flac", {.Seconds = 0.5}, {"-c:a", "flac"});
  const std::pair<std::string, std::string> liars[] = {{wav, "wav_named.flac"}, {flac, "flac_named.mp3"}, {flac, "flac_named.wv"}};
  for (const auto &[real, named] : liars) {
    std::filesystem::copy_file(real, Folder + "/" + named);
    rows.push_back({Folder + "/" + named, BASS_ERROR_FILEFORM});
  }
  for (const auto &[path, error] : rows) {
    EXPECT_EQ(Open(path), 0u) << path;
    EXPECT_EQ(BASS_ErrorGetCode(), error) << path;
  }
}

// A truncated or scrambled file delivers what FFmpeg decodes of it and then
// ends as any stream does; its report tells how it fell short.
TEST_F(BassFailures, DamagedFilesDeliverWhatDecodesThenEnd) {
  const TTestSignal signal{.Seconds = 2};
  const std::string wav = WriteSignal(Folder + "/full.wav", signal);
  WriteSignal(Folder + "/full.flac", signal, {"-c:a", "flac"});
  EXPECT_EQ(RunTool({"lame", "--quiet", "-V", "2", wav, Folder + "/full.mp3"}), 0);
  EXPECT_EQ(RunTool({"oggenc", "-Q", wav, "-o", Folder + "/full.ogg"}), 0);
  const size_t whole = size_t(FrameCount(signal) * 4);
  for (const std::string ext : {"wav", "flac", "mp3", "ogg"}) {
    const std::vector<uint8_t> full = ReadFileBytes(Folder + "/full." + ext);
    std::vector<uint8_t> flipped = full;
    for (size_t i = full.size() / 2; i < full.size() / 2 + 1024; ++i) flipped[i] ^= 0xa5;
    WriteFileBytes(Folder + "/cut." + ext, std::vector<uint8_t>(full.begin(), full.begin() + long(full.size() * 6 / 10)));
    WriteFileBytes(Folder + "/flipped." + ext, flipped);
    for (const std::string name : {"cut", "flipped"}) {
      if (ext == "wav" && name == "flipped") continue;  // PCM has nothing to check
      const std::string path = Folder + "/" + name + "." + ext;
      HSTREAM s = Open(path);
      ASSERT_NE(s, 0u) << path;
      const std::vector<uint8_t> decoded = ReadToEnd(s);
      const std::vector<uint8_t> reference = FFmpegDecode(path, "s16le");
      EXPECT_NEAR(double(decoded.size()), double(reference.size()), reference.size() * 0.01) << path;
      EXPECT_LT(decoded.size(), whole) << path;
      const size_t common = std::min(decoded.size(), reference.size()) / 4;
      EXPECT_TRUE(std::equal(decoded.begin(), decoded.begin() + long(common), reference.begin())) << path;

      BASS_DECODE_REPORT report;
      ASSERT_TRUE(BASS_ChannelGetDecodeReport(s, &report));
      EXPECT_EQ(report.ended, decoded.size()) << path;
      const bool shortOfStated = report.stated != QWORD(-1) && report.stated > report.ended;
      EXPECT_TRUE(report.damaged > 0 || shortOfStated || report.endmissing) << path;
      if (ext != "ogg") {
        EXPECT_EQ(report.stated, whole) << path;
      } else if (name == "cut") {
        EXPECT_TRUE(report.endmissing) << path;
      }
      BASS_StreamFree(s);
    }
  }
  // The whole files end where they say, with nothing to report.
  for (const std::string ext : {"wav", "flac", "mp3", "ogg"}) {
    HSTREAM s = Open(Folder + "/full." + ext);
    EXPECT_EQ(ReadToEnd(s).size(), whole) << ext;
    BASS_DECODE_REPORT report;
    ASSERT_TRUE(BASS_ChannelGetDecodeReport(s, &report));
    EXPECT_EQ(report.stated, whole) << ext;
    EXPECT_EQ(report.ended, whole) << ext;
    EXPECT_EQ(report.damaged, 0u) << ext;
    EXPECT_FALSE(report.endmissing) << ext;
    BASS_StreamFree(s);
  }
}

TEST_F(BassFailures, ErrorCodesBelongToTheirThreadAndUnknownHandlesFail) {
  const std::string wav = WriteSignal(Folder + "/ok.wav", TTestSignal{});
  ASSERT_EQ(Open(Folder + "/missing.wav"), 0u);
  int otherThreadCode = -2;
  std::thread([&] {
    HSTREAM s = Open(wav);
    otherThreadCode = BASS_ErrorGetCode();
    BASS_StreamFree(s);
  }).join();
  EXPECT_EQ(otherThreadCode, BASS_OK);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEOPEN);

  // Handles never given out.
  uint8_t buffer[16];
  EXPECT_EQ(BASS_ChannelGetData(12345, buffer, sizeof buffer), DWORD(-1));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
  EXPECT_FALSE(BASS_StreamFree(12345));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
}

}  // namespace
