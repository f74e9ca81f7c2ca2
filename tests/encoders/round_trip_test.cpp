// Every destination format, one row each: music converted with the format's
// default options, then decoded by an independent decoder. Lossless formats
// give back the source's samples exactly; lossy ones its length, and a
// signal-to-noise ratio above the row's margin (silence, swapped bytes or
// swapped channels fall far below it).
#include <gtest/gtest.h>

#include <sstream>

#include "encoders/aac/aac_format.h"
#include "encoders/format.h"
#include "encoders/wma/wma_format.h"
#include "test_support.h"

namespace {

struct TRoundTrip {
  const char *Name;
  TDestinationFormat Format;
  int Bits, Channels;  // of the source
  int OutBits;         // the depth the output holds
  double MinSnrDb;     // 0: lossless, sample for sample
  int Rate = 44100;
  const void *Options = nullptr;  // null: the format's defaults
  int Kbps = 0;                   // the whole file's bitrate the options ask for
  int Delay = 0;                  // frames of the encoder's start-up delay the decoder keeps
};

const TAACOptions kAac64{.Bitrate = 64}, kAac96{.Bitrate = 96}, kAac48{.Bitrate = 48};
const TWMAOptions kWmaQuality50{.Quality = 50, .BitrateType = 1};
const TWMAOptions kWmaTooLow{.AutoFindBitrate = true, .Bitrate = 10};  // the search takes the lowest it may

std::ostream &operator<<(std::ostream &os, const TRoundTrip &c) { return os << c.Name; }

const TRoundTrip kRows[] = {
    {"wav16", dfWAV, 16, 2, 16, 0},      {"wav24", dfWAV, 24, 2, 24, 0},
    {"wavFloat", dfWAV, 32, 2, 32, 0},   {"wav8Mono", dfWAV, 8, 1, 16, 0},
    {"flac16", dfFLAC, 16, 2, 16, 0},    {"flac24Mono", dfFLAC, 24, 1, 24, 0},
    {"ape16", dfAPE, 16, 2, 16, 0},      {"ape24", dfAPE, 24, 2, 24, 0},
    {"mp3Stereo", dfMP3, 16, 2, 16, 15}, {"mp3Mono", dfMP3, 16, 1, 16, 15},
    {"mp3From24", dfMP3, 24, 2, 16, 15},
    {"aacStereo", dfAAC, 16, 2, 16, 20, 44100, &kAac64, 128, 1024},
    {"aacFloatMono48k", dfAAC, 32, 1, 16, 20, 48000, &kAac96, 96, 1024},
    // The LFE channel keeps only its lowest band, the others about 20 dB.
    {"aac24Six48k", dfAAC, 24, 6, 16, 6, 48000, &kAac48, 288, 1024},
    {"wmaStereo", dfWMA, 16, 2, 16, 20, 44100, nullptr, 160, 0},
    {"wmaFloatMono48k", dfWMA, 32, 1, 16, 20, 48000, &kWmaQuality50, 48, 0},
    {"wma24Found48k", dfWMA, 24, 2, 16, 10, 48000, &kWmaTooLow, 24, 0},
};

// Raw ADTS states no length, ASF no channel layout: FFmpeg says so of every such file.
const char *const kNoDetail[] = {"Estimating duration from bitrate, this may be inaccurate",
                                 "Guessed Channel Layout for Input Stream"};

const char *PcmCodec(int bits) {
  switch (bits) {
    case 8: return "pcm_u8";
    case 24: return "pcm_s24le";
    case 32: return "pcm_f32le";
    default: return "pcm_s16le";
  }
}

class RoundTrip : public ::testing::TestWithParam<TRoundTrip> {};

TEST_P(RoundTrip, TheIndependentDecoderHearsTheSource) {
  const TRoundTrip &c = GetParam();
  const TFormatRow &row = *FormatRow(c.Format);
  const std::string folder = TestFolder();
  TTestSignal signal;
  signal.Bits = c.Bits;
  signal.Channels = c.Channels;
  signal.Seconds = 2.5;
  signal.Rate = c.Rate;
  const std::string source = WriteMusic(folder + "/source.wav", signal, {"-c:a", PcmCodec(c.Bits)});
  const std::string output = folder + "/out." + row.Extension;
  const std::shared_ptr<void> options = row.NewOptions();
  const auto errors = ConvertFile(source, output, c.Format, c.Options ? c.Options : options.get());
  ASSERT_TRUE(errors.empty()) << errors[0].ErrorMessage;

  // The source at the depth the output holds.
  const std::string raw = RawFormat(c.OutBits);
  const std::vector<uint8_t> expected = FFmpegDecode(source, raw);
  if (c.MinSnrDb == 0) {
    EXPECT_EQ(FFmpegDecode(output, raw), expected);
    return;
  }
  std::vector<int32_t> decoded;
  if (c.Format == dfMP3) {
    // LAME's own decoder, which takes the gapless information of the LAME tag.
    const std::string decodedWav = folder + "/decoded.wav";
    ASSERT_EQ(RunTool({"lame", "--quiet", "--decode", output, decodedWav}), 0);
    decoded = AsInt16(FFmpegDecode(decodedWav, "s16le"));
    EXPECT_EQ(int64_t(decoded.size()) / c.Channels, FrameCount(signal));
  } else {
    // FFmpeg, which must find nothing to warn about.
    std::string out, err;
    ASSERT_EQ(RunTool({"ffmpeg", "-nostdin", "-v", "warning", "-i", output, "-f", "s16le", "-"}, &out, &err), 0);
    std::istringstream lines(err);
    for (std::string line; std::getline(lines, line);)
      EXPECT_TRUE(line.find(kNoDetail[0]) != line.npos || line.find(kNoDetail[1]) != line.npos) << line;
    decoded = AsInt16(std::vector<uint8_t>(out.begin(), out.end()));
    // The delay at the start, at most a frame of padding at the end: nothing missing.
    const int64_t frames = int64_t(decoded.size()) / c.Channels - c.Delay;
    EXPECT_GE(frames, FrameCount(signal));
    EXPECT_LE(frames, FrameCount(signal) + 2048);
    // The audio packets' bytes: the container's own overhead is no part of the bitrate.
    std::string sizes;
    ASSERT_EQ(RunTool({"ffprobe", "-v", "error", "-show_entries", "packet=size", "-of", "csv=p=0", output}, &sizes), 0);
    std::istringstream packets(sizes);
    double bytes = 0;
    for (std::string size; std::getline(packets, size);) bytes += std::stod(size);
    const double kbps = bytes * 8 / signal.Seconds / 1000;
    EXPECT_NEAR(kbps, c.Kbps, c.Kbps * 0.15);
    RecordProperty("kbps", std::to_string(kbps));
  }
  const double snr = SnrDb(AsInt16(expected), decoded, c.Channels, c.Delay);
  EXPECT_GT(snr, c.MinSnrDb);
  RecordProperty("snr_db", std::to_string(snr));
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, RoundTrip, ::testing::ValuesIn(kRows),
                         [](const auto &info) { return std::string(info.param.Name); });

}  // namespace
