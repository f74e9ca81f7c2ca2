// SPDX-License-Identifier: GPL-3.0-or-later
// A disk that fills up at any point of a job: the job either completes its
// file exactly as it would on an empty disk, or fails, says which file and
// why, and leaves nothing behind. Never a success with a short file.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "encoders/aac/aac_format.h"
#include "encoders/ape/ape_format.h"
#include "encoders/flac/flac_format.h"
#include "encoders/mp3/mp3_format.h"
#include "encoders/ogg/ogg_format.h"
#include "encoders/wavpack/wavpack_format.h"
#include "encoders/wma/wma_format.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kPage = 4096;

struct TDiskCase {
  std::string Name;
  TDestinationFormat Format;
  std::string Ext;
  TTestSignal Signal;
  const void *Options;
  // The source's header states a fraction of its real length (a Monkey's
  // Audio seek table then outgrows its room and the frames move to make more).
  bool UnderstatedLength = false;
};

std::ostream &operator<<(std::ostream &os, const TDiskCase &c) { return os << c.Name; }

// Music at a rate, channel count, depth and length.
TTestSignal Signal(int rate, int channels, int bits, double seconds) {
  return {.Rate = rate, .Channels = channels, .Bits = bits, .Seconds = seconds};
}

const TMP3Options &Mp3Cbr() {
  static const TMP3Options o = [] {
    TMP3Options o;
    o.BitrateType = btCBR;
    o.Bitrate = 128;
    return o;
  }();
  return o;
}
const TMP3Options kMp3Vbr;  // VBR: the LAME tag frame is written over the first frame
const TFLACOptions kFlac;
const TAPEOptions kApeNormal{2};
const TAACOptions kAac{.Bitrate = 64};
const TWMAOptions kWma;
const TOGGOptions kOgg;
const TWavPackOptions kWavPack;
const TWavPackOptions kWavPackCorrected = {.Hybrid = true, .Bitrate = 320, .CorrectionFile = true};

std::vector<TDiskCase> Cases() {
  return {
      {"wav16", dfWAV, "wav", Signal(44100, 2, 16, 1.5), nullptr},
      {"wav_float", dfWAV, "wav", Signal(44100, 2, 32, 0.7), nullptr},
      {"mp3_cbr", dfMP3, "mp3", Signal(44100, 2, 16, 2.0), &Mp3Cbr()},
      {"mp3_vbr", dfMP3, "mp3", Signal(44100, 2, 16, 2.0), &kMp3Vbr},
      {"flac16", dfFLAC, "flac", Signal(44100, 2, 16, 2.0), &kFlac},
      {"flac24", dfFLAC, "flac", Signal(48000, 2, 24, 1.0), &kFlac},
      {"ape16", dfAPE, "ape", Signal(44100, 2, 16, 2.0), &kApeNormal},
      {"ape_rewritten", dfAPE, "ape", Signal(8000, 1, 16, 28.0), &kApeNormal, true},
      {"aac", dfAAC, "aac", Signal(44100, 2, 16, 2.0), &kAac},
      {"wma", dfWMA, "wma", Signal(44100, 2, 16, 2.0), &kWma},
      {"ogg", dfOGG, "ogg", Signal(44100, 2, 16, 2.0), &kOgg},
      {"wavpack24", dfWavPack, "wv", Signal(48000, 2, 24, 2.0), &kWavPack},  // the first block rewritten last
      {"wavpack_corrected", dfWavPack, "wv", Signal(44100, 2, 16, 2.0), &kWavPackCorrected},  // and a .wvc
  };
}

class FullDisk : public ::testing::TestWithParam<TDiskCase> {};

TEST_P(FullDisk, AJobCompletesItsFileOrFailsAndLeavesNothing) {
  const TDiskCase &c = GetParam();
  const std::string folder = TestFolder();
  const std::vector<std::string> codec =
      c.Signal.Bits == 24 ? std::vector<std::string>{"-c:a", "pcm_s24le"}
      : c.Signal.Bits == 32 ? std::vector<std::string>{"-c:a", "pcm_f32le"}
                            : std::vector<std::string>{};
  const std::string source = WriteMusic(folder + "/source.wav", c.Signal, codec);
  const int64_t frames = FrameCount(c.Signal);

  TScratchDisk disk(folder + "/disk", "64m");
  const std::string outFolder = disk.Mounted ? disk.Folder : folder + "/out";
  fs::create_directories(outFolder);
  const std::string output = outFolder + "/out." + c.Ext;
  TFileListRec job = WholeSourceJob(source, output, c.Format, c.Options);
  if (c.UnderstatedLength) job.AudioInfo.Streams[size_t(job.AudioInfo.Index)].Duration = 1.0;

  // The file as an empty disk gets it, decoding to the source's whole length.
  const std::vector<TThreadErrorRec> clean = ConvertJob(job);
  ASSERT_TRUE(clean.empty()) << clean[0].ErrorMessage;
  const std::vector<uint8_t> reference = ReadFileBytes(output);
  const std::vector<uint8_t> sourceSamples = FFmpegDecode(source, "s16le");
  auto expectWholeLength = [&](const std::string &path) {
    const std::vector<uint8_t> samples = FFmpegDecode(path, "s16le");
    const int64_t decoded = int64_t(samples.size()) / (2 * c.Signal.Channels);
    if (c.Format == dfMP3 && c.Options == &Mp3Cbr())  // no LAME tag: encoder delay and padding stay
      EXPECT_TRUE(decoded >= frames && decoded < frames + 3 * 1152) << decoded << " of " << frames;
    else if (c.Format == dfAAC || c.Format == dfWMA)  // AAC's start-up delay, padding to whole frames
      EXPECT_TRUE(decoded >= frames + (c.Format == dfAAC ? 1024 : 0) && decoded <= frames + 3 * 2048)
          << decoded << " of " << frames;
    else
      EXPECT_EQ(decoded, frames);
    if (c.Format != dfMP3 && c.Format != dfAAC && c.Format != dfWMA && c.Format != dfOGG &&
        c.Options != &kWavPackCorrected) {
      EXPECT_TRUE(samples == sourceSamples) << "lossless, sample for sample";
    }
  };
  expectWholeLength(output);
  // Both files of a WavPack file with its correction file count.
  const uint64_t size = reference.size() + (fs::exists(output + "c") ? fs::file_size(output + "c") : 0);
  fs::remove(output);
  fs::remove(output + "c");

  // Room for whole pages around the file's end, for nothing and for half;
  // past the tmpfs, a size limit cuts the file anywhere, even inside its
  // last 128 bytes.
  const uint64_t pages = (size + kPage - 1) / kPage;
  struct TRoom {
    uint64_t Bytes;
    bool SizeLimit;      // a file size limit rather than a full tmpfs
    bool Enough = false;  // room to spare: the job must succeed
  };
  std::vector<TRoom> rooms;
  for (uint64_t p = pages - 3; p <= pages + 1; ++p) rooms.push_back({p * kPage, !disk.Mounted, p == pages + 1});
  for (uint64_t bytes : {uint64_t(0), pages / 2 * kPage}) rooms.push_back({bytes, !disk.Mounted});
  for (uint64_t bytes : {uint64_t(0), size / 2 + 1, size - 129, size - 128, size - 64, size - 1})
    rooms.push_back({bytes, true});

  for (const TRoom &room : rooms) {
    SCOPED_TRACE(std::string(room.SizeLimit ? "file size limit " : "free on disk ") + std::to_string(room.Bytes) +
                 " of " + std::to_string(size));
    std::vector<TThreadErrorRec> errors;
    if (room.SizeLimit) {
      TFileSizeLimit limit(room.Bytes);
      errors = ConvertJob(job);
    } else {
      disk.LeaveFree(room.Bytes);
      errors = ConvertJob(job);
      disk.Unfill();
    }
    EXPECT_TRUE(errors.empty() || !room.Enough) << errors[0].ErrorMessage;
    if (errors.empty()) {
      const std::vector<uint8_t> written = ReadFileBytes(output);
      EXPECT_TRUE(written == reference) << "a success must be the whole file: " << written.size() << " bytes";
      expectWholeLength(output);
    } else {
      ASSERT_EQ(errors.size(), 1u);
      const std::string &message = errors[0].ErrorMessage;
      const char *reason = std::strerror(room.SizeLimit ? EFBIG : ENOSPC);
      EXPECT_NE(message.find(reason), std::string::npos) << message;
      EXPECT_TRUE(message.find("\"" + output + "\"") != std::string::npos ||
                  message.find("\"" + output + "c\"") != std::string::npos) << message;
      EXPECT_TRUE(fs::is_empty(outFolder)) << "a failed job leaves nothing behind";
    }
    fs::remove(output);
    fs::remove(output + "c");
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, FullDisk, ::testing::ValuesIn(Cases()),
                         [](const auto &info) { return info.param.Name; });

}  // namespace
