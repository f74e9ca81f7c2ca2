// SPDX-License-Identifier: GPL-3.0-or-later
// The decoding interface: every input type decodes to the source's samples (lossless) or to FFmpeg's own decode
// (lossy) at its stated length, a seek to any frame reads what the plain decode has there, bad input fails cleanly.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <thread>

#include "base/misc.h"
#include "platform/bass/bass.h"
#include "test_support.h"

namespace {

HSTREAM Open(const std::string &path, DWORD flags = 0) {
  return GetBASSStreamFunc(GetFileExtension(path))(0, path.c_str(), 0, 0, BASS_STREAM_DECODE | BASS_UNICODE | flags);
}

// "{in}" and "{out}" stand for the WAV made of the signal and the source.
std::vector<std::string> FFmpeg(const std::string &codec) {
  return {"ffmpeg", "-v", "error", "-y", "-i", "{in}", "-c:a", codec, "{out}"};
}

struct TDecodeRow {
  const char *Name, *Ext;
  std::vector<std::string> Encode;  // none: the WAV itself
  int Bits, Channels;
  bool Lossless, StatesLength;  // lossy: the container states the source's own sample count
  double Level = 0.9;           // floats above full scale stay above it
  // A field of the WAV's "fmt " chunk its writer got wrong: its offset in the chunk's content and its size
  // (the fields that follow it too), written over with Value, little-endian.
  size_t Field = 0;
  int FieldBytes = 0;
  uint64_t Value = 0;
};

const TDecodeRow kRows[] = {
    {"wav8_mono", "wav", {}, 8, 1, true, true},
    {"wav16_6ch", "wav", {}, 16, 6, true, true},
    {"wav24", "wav", {}, 24, 2, true, true},
    {"wav_float_loud", "wav", {}, 32, 2, true, true, 1.6},
    {"wv8", "wv", {"wavpack", "-q", "-y", "{in}", "-o", "{out}"}, 8, 2, true, true},
    {"wv16_mono", "wv", {"wavpack", "-q", "-y", "{in}", "-o", "{out}"}, 16, 1, true, true},
    {"wv24_6ch", "wv", {"wavpack", "-q", "-y", "{in}", "-o", "{out}"}, 24, 6, true, true},
    {"wv_float_loud", "wv", {"wavpack", "-q", "-y", "{in}", "-o", "{out}"}, 32, 1, true, true, 1.6},
    {"flac16_mono", "flac", {"flac", "-s", "-f", "{in}", "-o", "{out}"}, 16, 1, true, true},
    {"flac24_6ch", "flac", {"flac", "-s", "-f", "{in}", "-o", "{out}"}, 24, 6, true, true},
    {"tta8_6ch", "tta", FFmpeg("tta"), 8, 6, true, true},
    {"tta24", "tta", FFmpeg("tta"), 24, 2, true, true},
    {"alac16", "m4a", FFmpeg("alac"), 16, 2, true, true},
    {"alac24_mono", "m4a", FFmpeg("alac"), 24, 1, true, true},
    {"mp3_vbr", "mp3", {"lame", "--quiet", "-V", "4", "{in}", "{out}"}, 16, 2, false, true},
    {"mp3_cbr_no_info_frame", "mp3", {"lame", "--quiet", "-t", "-b", "128", "{in}", "{out}"}, 16, 2, false, false},
    {"mp3_ffmpeg_mono", "mp3", FFmpeg("libmp3lame"), 16, 1, false, true},
    {"ogg", "ogg", {"oggenc", "-Q", "{in}", "-o", "{out}"}, 16, 2, false, true},
    {"wma", "wma", FFmpeg("wmav2"), 16, 2, false, false},
    {"ac3_6ch", "ac3", FFmpeg("ac3"), 16, 6, false, false},
    {"aac_adts", "aac", FFmpeg("aac"), 16, 2, false, false},
    {"mp4_aac", "mp4", FFmpeg("aac"), 16, 2, false, true},
    {"m4a_aac_mono", "m4a", FFmpeg("aac"), 16, 1, false, true},
    {"mpc", "mpc", {"mpcenc", "--silent", "--overwrite", "{in}", "{out}"}, 16, 2, false, false},
    // Seeks in raw PCM are placed by the stated byte rate and block size, which may be no whole number
    // of frames; a 4-bit codec has no whole bytes per frame, so no block size is no frame size.
    {"wav_byte_rate_of_another_rate", "wav", {}, 16, 2, true, true, 0.9, 8, 4, 44100 * 4 * 3 / 4},
    {"wav_byte_rate_too_high", "wav", {}, 16, 2, true, true, 0.9, 8, 4, 48000 * 4},
    {"wav_adpcm_without_block_size", "wav", FFmpeg("adpcm_yamaha"), 16, 2, false, false, 0.9, 12, 2, 0},
    {"wav_block_of_one_byte", "wav", {}, 16, 2, true, true, 0.9, 8, 6, uint64_t(1) << 32 | 44100},
    {"wav_block_of_odd_size", "wav", {}, 16, 2, true, true, 0.9, 12, 2, 143},
};

void PrintTo(const TDecodeRow &row, std::ostream *os) { *os << row.Name; }

class Decode : public ::testing::TestWithParam<TDecodeRow> {};

TEST_P(Decode, SamplesLengthPropertiesAndSeeks) {
  const TDecodeRow &r = GetParam();
  StartBass();
  const std::string folder = TestFolder();
  const TTestSignal signal{.Channels = r.Channels, .Bits = r.Bits, .Seconds = 2.5, .Level = r.Level};
  const std::string wav = WriteSignal(folder + "/input.wav", signal, {"-c:a", "pcm_" + RawFormat(r.Bits)});
  std::string path = wav;
  if (!r.Encode.empty()) {
    path = folder + "/source." + r.Ext;
    std::vector<std::string> argv = r.Encode;
    for (std::string &a : argv) a = a == "{in}" ? wav : a == "{out}" ? path : a;
    std::string err;
    ASSERT_EQ(RunTool(argv, nullptr, &err), 0) << err;
  }
  if (r.FieldBytes) {
    std::vector<uint8_t> bytes = ReadFileBytes(path);
    const auto fmt = std::search(bytes.begin(), bytes.end(), std::begin("fmt "), std::end("fmt ") - 1);
    const size_t at = size_t(fmt - bytes.begin()) + 8;
    for (int i = 0; i < r.FieldBytes; ++i) bytes.at(at + r.Field + size_t(i)) = uint8_t(r.Value >> 8 * i);
    WriteFileBytes(path, bytes);
  }
  const bool asFloat = r.Bits > 16;
  const HSTREAM s = Open(path, BASS_STREAM_PRESCAN | (asFloat ? BASS_SAMPLE_FLOAT : 0));
  ASSERT_NE(s, 0u) << "error " << BASS_ErrorGetCode();
  BASS_CHANNELINFO info;
  ASSERT_TRUE(BASS_ChannelGetInfo(s, &info));
  EXPECT_EQ(std::tuple(info.freq, int(info.chans), int(info.origres), (info.flags & BASS_SAMPLE_FLOAT) != 0),
            std::tuple(44100u, r.Channels, r.Lossless ? r.Bits : 0, asFloat));
  const int outBits = asFloat ? 32 : 16, frameBytes = r.Channels * outBits / 8;
  const QWORD length = BASS_ChannelGetLength(s, BASS_POS_BYTE);
  const std::vector<uint8_t> all = ReadToEnd(s, 10000);
  EXPECT_EQ(length, all.size());
  EXPECT_EQ(BASS_ChannelIsActive(s), BASS_ACTIVE_STOPPED);
  if (r.Lossless) {
    EXPECT_TRUE(AsSamples(all, outBits) == AsSamples(MakeSamples(signal), r.Bits));
  } else {
    const std::vector<uint8_t> reference = FFmpegDecode(path, "s16le");
    EXPECT_EQ(all.size(), r.StatesLength ? size_t(FrameCount(signal) * frameBytes) : reference.size());
    ASSERT_LE(all.size(), reference.size());
    EXPECT_TRUE(std::equal(all.begin(), all.end(), reference.begin()));
  }

  // Forward and backward, near and far, at block edges and at random.
  const int64_t frames = int64_t(all.size()) / frameBytes;
  std::vector<int64_t> targets = {44100, 44101, 0, 1, 1151, 1152, 4096, frames / 2, frames - 1, frames - 1000, 80077};
  std::mt19937 random(42);
  for (int i = 0; i < 4; ++i) targets.push_back(int64_t(random() % uint64_t(frames)));
  std::vector<uint8_t> block(4096 * size_t(frameBytes));
  for (const int64_t target : targets) {
    ASSERT_TRUE(BASS_ChannelSetPosition(s, QWORD(target * frameBytes), BASS_POS_BYTE)) << target;
    EXPECT_EQ(BASS_ChannelGetPosition(s, BASS_POS_BYTE), QWORD(target * frameBytes));
    const DWORD want = DWORD(std::min<int64_t>(4096, frames - target) * frameBytes);
    ASSERT_EQ(BASS_ChannelGetData(s, block.data(), want), want) << "at frame " << target;
    EXPECT_TRUE(std::equal(block.begin(), block.begin() + want, all.begin() + target * frameBytes))
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

INSTANTIATE_TEST_SUITE_P(Types, Decode, ::testing::ValuesIn(kRows), [](const auto &info) { return info.param.Name; });

// A folder or a missing file cannot be opened; empty and random files, and files whose extension names another family,
// are no audio to it; error codes are the asking thread's own.
TEST(BassFailures, WhatIsNoAudioOfItsExtensionIsRefused) {
  StartBass();
  const std::string folder = TestFolder();
  EXPECT_EQ(BASS_StreamCreateFile(0, folder.c_str(), 0, 0, BASS_STREAM_DECODE), 0u);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEOPEN);
  std::vector<std::pair<std::string, int>> rows = {{folder + "/missing.flac", BASS_ERROR_FILEOPEN}};
  std::mt19937 random(7);
  std::vector<uint8_t> noise(200000);
  for (uint8_t &b : noise) b = uint8_t(random());
  for (const std::string ext : {"flac", "mp3", "wav", "ogg", "wv", "ape", "m4a", "mpc", "tta", "wma"}) {
    WriteFileBytes(folder + "/empty." + ext, {});
    WriteFileBytes(folder + "/noise." + ext, noise);
    rows.insert(rows.end(), {{folder + "/empty." + ext, BASS_ERROR_FILEFORM}, {folder + "/noise." + ext, BASS_ERROR_FILEFORM}});
  }
  const std::string wav = WriteSignal(folder + "/real.wav", {.Seconds = 0.5});
  const std::string flac = WriteSignal(folder + "/real.flac", {.Seconds = 0.5}, {"-c:a", "flac"});
  for (const auto &[real, named] : {std::pair{wav, "wav_named.flac"}, {flac, "flac_named.mp3"}, {flac, "flac_named.wv"}}) {
    std::filesystem::copy_file(real, folder + "/" + named);
    rows.push_back({folder + "/" + named, BASS_ERROR_FILEFORM});
  }
  // A RIFF INFO item that states 1.9 GB in a file of 100 bytes.
  using namespace std::string_literals;
  const std::string item = "LIST\x28\0\0\x83INFOINAM\5\0\0\0seed\0\0data\x24\x69\x6e\x74"s;
  const std::string huge = "RIFF\x74\3\0\0WAVEfmt \x10\0\0\0\1\0\1\0\x40\x1f\0\0\x40\x1f\0\0\1\0\x08\0"s + item + "tt";
  rows.push_back({WriteText(folder + "/huge_item.wav", huge), BASS_ERROR_FILEFORM});
  rusage before{}, after{};
  getrusage(RUSAGE_SELF, &before);
  for (const auto &[path, error] : rows) {
    EXPECT_EQ(Open(path), 0u) << path;
    EXPECT_EQ(BASS_ErrorGetCode(), error) << path;
  }
  getrusage(RUSAGE_SELF, &after);
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 512 * 1024) << "kilobytes taken to refuse these files";
  int otherThreadCode = -2;
  std::thread([&] {
    BASS_StreamFree(Open(wav));
    otherThreadCode = BASS_ErrorGetCode();
  }).join();
  EXPECT_EQ(otherThreadCode, BASS_OK);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEFORM);
  uint8_t buffer[16];
  EXPECT_EQ(BASS_ChannelGetData(12345, buffer, sizeof buffer), DWORD(-1));  // a handle never given out
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
  EXPECT_FALSE(BASS_StreamFree(12345));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
}

// A cut or scrambled file delivers what FFmpeg decodes of it and then ends
// as any stream does; its report tells how it fell short. Whole files report nothing.
TEST(BassFailures, DamagedFilesDeliverWhatDecodesThenEnd) {
  StartBass();
  const std::string folder = TestFolder();
  const TTestSignal signal{.Seconds = 2};
  const std::string wav = WriteSignal(folder + "/full.wav", signal);
  WriteSignal(folder + "/full.flac", signal);
  ASSERT_EQ(RunTool({"lame", "--quiet", "-V", "2", wav, folder + "/full.mp3"}), 0);
  ASSERT_EQ(RunTool({"oggenc", "-Q", wav, "-o", folder + "/full.ogg"}), 0);
  const size_t whole = size_t(FrameCount(signal) * 4);
  for (const std::string ext : {"wav", "flac", "mp3", "ogg"}) {
    const std::vector<uint8_t> full = ReadFileBytes(folder + "/full." + ext);
    std::vector<uint8_t> flipped = full;
    for (size_t i = full.size() / 2; i < full.size() / 2 + 1024; ++i) flipped[i] ^= 0xa5;
    WriteFileBytes(folder + "/cut." + ext, std::vector<uint8_t>(full.begin(), full.begin() + long(full.size() * 6 / 10)));
    WriteFileBytes(folder + "/flipped." + ext, flipped);
    for (const std::string name : {"full", "cut", "flipped"}) {
      if (ext == "wav" && name == "flipped") continue;  // PCM has nothing to check
      const std::string path = folder + "/" + name + "." + ext;
      const HSTREAM s = Open(path);
      ASSERT_NE(s, 0u) << path;
      const std::vector<uint8_t> decoded = ReadToEnd(s), reference = FFmpegDecode(path, "s16le");
      BASS_DECODE_REPORT report;
      ASSERT_TRUE(BASS_ChannelGetDecodeReport(s, &report));
      BASS_StreamFree(s);
      EXPECT_EQ(report.ended, decoded.size()) << path;
      if (name == "full") {
        EXPECT_TRUE(decoded.size() == whole && report.stated == whole && report.damaged == 0 && !report.endmissing)
            << path;
        continue;
      }
      EXPECT_NEAR(double(decoded.size()), double(reference.size()), reference.size() * 0.01) << path;
      EXPECT_LT(decoded.size(), whole) << path;
      const size_t common = std::min(decoded.size(), reference.size()) / 4;
      EXPECT_TRUE(std::equal(decoded.begin(), decoded.begin() + long(common), reference.begin())) << path;
      EXPECT_TRUE(report.damaged > 0 || (report.stated != QWORD(-1) && report.stated > report.ended) || report.endmissing) << path;
      if (ext != "ogg") {
        EXPECT_EQ(report.stated, whole) << path;
      } else if (name == "cut") {
        EXPECT_TRUE(report.endmissing) << path;
      }
    }
  }
}

}  // namespace
