// SPDX-License-Identifier: GPL-3.0-or-later
// Every destination format, one row each: music converted with the format's
// default options, then decoded by an independent decoder. Lossless formats
// give back the source's samples exactly; lossy ones its length, and a
// signal-to-noise ratio above the row's margin (silence, swapped bytes or
// swapped channels fall far below it).
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "encoders/aac/aac_format.h"
#include "encoders/format.h"
#include "encoders/ogg/ogg_format.h"
#include "encoders/wavpack/wavpack_format.h"
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
  int Kbps = 0;                   // asked for: the audio's bitrate is within Tolerance of it
  double Tolerance = 0.15;
  int Delay = 0;  // frames of the encoder's start-up delay the decoder keeps
};

const TAACOptions kAac64{.Bitrate = 64}, kAac96{.Bitrate = 96}, kAac48{.Bitrate = 48};
const TWMAOptions kWmaQuality50{.Quality = 50, .BitrateType = 1};
const TWMAOptions kWmaTooLow{.AutoFindBitrate = true, .Bitrate = 10};  // the search takes the lowest it may
// Managed at 128 kbit/s average, no floor or ceiling.
const TOGGOptions kOggManaged = {.Max = 0, .Avg = 10, .Min = 0, .BitrateType = obCBR};
const TOGGOptions kOggLowest = {.Quality = 0};
const TWavPackOptions kWvFast = {.Compression = 0}, kWvVeryHigh = {.Compression = 2};
const TWavPackOptions kWvHybrid = {.Hybrid = true, .Bitrate = 320},
                      kWvHybridFast = {.Compression = 0, .Hybrid = true, .Bitrate = 600},
                      kWvCorrected = {.Hybrid = true, .Bitrate = 320, .CorrectionFile = true};

std::ostream &operator<<(std::ostream &os, const TRoundTrip &c) { return os << c.Name; }

const TRoundTrip kRows[] = {
    {"wav16", dfWAV, 16, 2, 16, 0},      {"wav24", dfWAV, 24, 2, 24, 0},
    {"wavFloat", dfWAV, 32, 2, 32, 0},   {"wav8Mono", dfWAV, 8, 1, 16, 0},
    {"flac16", dfFLAC, 16, 2, 16, 0},    {"flac24Mono", dfFLAC, 24, 1, 24, 0},
    {"ape16", dfAPE, 16, 2, 16, 0},      {"ape24", dfAPE, 24, 2, 24, 0},
    {"mp3Stereo", dfMP3, 16, 2, 16, 15}, {"mp3Mono", dfMP3, 16, 1, 16, 15},
    {"mp3From24", dfMP3, 24, 2, 16, 15},
    {"aacStereo", dfAAC, 16, 2, 16, 20, 44100, &kAac64, 128, 0.15, 1024},
    {"aacFloatMono48k", dfAAC, 32, 1, 16, 20, 48000, &kAac96, 96, 0.15, 1024},
    // The LFE channel keeps only its lowest band, the others about 20 dB.
    {"aac24Six48k", dfAAC, 24, 6, 16, 6, 48000, &kAac48, 288, 0.15, 1024},
    {"wmaStereo", dfWMA, 16, 2, 16, 20, 44100, nullptr, 160},
    {"wmaFloatMono48k", dfWMA, 32, 1, 16, 20, 48000, &kWmaQuality50, 48},
    {"wma24Found48k", dfWMA, 24, 2, 16, 10, 48000, &kWmaTooLow, 24},
    // Vorbis at the default quality 4 and the lowest, -1; not 6 channels, as the
    // sixth is an LFE channel Vorbis keeps to the bass. Tones in noise (5
    // channels) lose more than music.
    {"oggStereo", dfOGG, 16, 2, 16, 18},  {"oggFloat5ch48k", dfOGG, 32, 5, 16, 12, 48000},
    {"ogg24Mono96k", dfOGG, 24, 1, 16, 18, 96000}, {"oggLowest", dfOGG, 16, 2, 16, 10, 44100, &kOggLowest},
    {"oggManaged128", dfOGG, 16, 2, 16, 18, 44100, &kOggManaged, 128},
    {"wv16", dfWavPack, 16, 2, 16, 0},    {"wv24Mono96k", dfWavPack, 24, 1, 24, 0, 96000, &kWvFast},
    {"wvFloat6ch48k", dfWavPack, 32, 6, 32, 0, 48000, &kWvVeryHigh}, {"wv8Mono", dfWavPack, 8, 1, 16, 0},
    {"wvHybrid320", dfWavPack, 16, 2, 16, 25, 44100, &kWvHybrid, 320, 0.10},
    {"wvHybrid600From24", dfWavPack, 24, 2, 16, 25, 48000, &kWvHybridFast, 600, 0.10},
    {"wvHybridCorrected", dfWavPack, 16, 2, 16, 25, 44100, &kWvCorrected, 320, 0.10},
};

// Raw ADTS states no length, ASF no channel layout: FFmpeg says so of every such file.
const char *const kNoDetail[] = {"Estimating duration from bitrate, this may be inaccurate",
                                 "Guessed Channel Layout for Input Stream"};

// The codec's own decoder where there is one (LAME's takes the gapless
// information of its tag); oggdec leaves more than two channels in the
// Vorbis order: FFmpeg's then. Empty for FFmpeg's own.
std::vector<std::string> OwnDecoder(TDestinationFormat format, int channels, const std::string &file,
                                    const std::string &wav) {
  switch (format) {
    case dfMP3: return {"lame", "--quiet", "--decode", file, wav};
    case dfOGG:
      if (channels > 2) return {"ffmpeg", "-v", "error", "-y", "-i", file, wav};
      return {"oggdec", "--quiet", "-o", wav, file};
    case dfWavPack: return {"wvunpack", "-q", "-y", file, "-o", wav};
    default: return {};
  }
}

const char *PcmCodec(int bits) {
  switch (bits) {
    case 8: return "pcm_u8";
    case 24: return "pcm_s24le";
    case 32: return "pcm_f32le";
    default: return "pcm_s16le";
  }
}

// FFmpeg's decode of a file FFmpeg must find nothing to warn about.
std::vector<int32_t> QuietFFmpegDecode(const std::string &file) {
  std::string out, err;
  EXPECT_EQ(RunTool({"ffmpeg", "-nostdin", "-v", "warning", "-i", file, "-f", "s16le", "-"}, &out, &err), 0);
  std::istringstream lines(err);
  for (std::string line; std::getline(lines, line);)
    EXPECT_TRUE(line.find(kNoDetail[0]) != line.npos || line.find(kNoDetail[1]) != line.npos) << line;
  return AsInt16(std::vector<uint8_t>(out.begin(), out.end()));
}

// The audio packets' bitrate: the container's own overhead is no part of it.
double AudioKbps(const std::string &file, double seconds) {
  std::string sizes;
  EXPECT_EQ(RunTool({"ffprobe", "-v", "error", "-show_entries", "packet=size", "-of", "csv=p=0", file}, &sizes), 0);
  std::istringstream packets(sizes);
  double bytes = 0;
  for (std::string size; std::getline(packets, size);)
    if (!size.empty()) bytes += std::stod(size);  // side data makes empty lines
  return bytes * 8 / seconds / 1000;
}

class RoundTrip : public ::testing::TestWithParam<TRoundTrip> {};

TEST_P(RoundTrip, TheIndependentDecoderHearsTheSource) {
  const TRoundTrip &c = GetParam();
  const TFormatRow &row = *FormatRow(c.Format);
  const std::string folder = TestFolder();
  TTestSignal signal;
  signal.Bits = c.Bits;
  signal.Channels = c.Channels;
  signal.Rate = c.Rate;
  signal.Seconds = c.Kbps ? 10 : 2.5;  // headers weigh little against 10 s
  // The music is stereo; more channels get a tone each, so their order shows.
  // Not for AAC, which keeps only the bass of the LFE channel's tone.
  const bool tones = c.Channels > 2 && c.Format != dfAAC;
  const std::string source =
      (tones ? WriteSignal : WriteMusic)(folder + "/source.wav", signal, {"-c:a", PcmCodec(c.Bits)});
  const std::string output = folder + "/out." + row.Extension;
  const std::shared_ptr<void> defaults = row.NewOptions();
  const auto errors = ConvertFile(source, output, c.Format, c.Options ? c.Options : defaults.get());
  ASSERT_TRUE(errors.empty()) << errors[0].ErrorMessage;

  // The source at the depth the output holds.
  const std::string raw = RawFormat(c.OutBits);
  const std::vector<uint8_t> expected = FFmpegDecode(source, raw);
  if (c.Format == dfWavPack) {  // the first block, rewritten at the end, states the length
    const std::vector<uint8_t> file = ReadFileBytes(output);
    ASSERT_GT(file.size(), 16u);
    EXPECT_EQ(file[12] | file[13] << 8 | file[14] << 16 | uint32_t(file[15]) << 24, uint32_t(FrameCount(signal)));
  }
  const std::string decodedWav = folder + "/decoded.wav";
  const std::vector<std::string> ownDecoder = OwnDecoder(c.Format, c.Channels, output, decodedWav);
  if (c.MinSnrDb == 0) {
    EXPECT_EQ(FFmpegDecode(output, raw), expected);
    if (c.Format == dfWavPack) {
      ASSERT_EQ(RunTool(ownDecoder), 0);
      EXPECT_EQ(FFmpegDecode(decodedWav, raw), expected);
    }
    return;
  }
  if (c.Kbps) {
    const double kbps = AudioKbps(output, signal.Seconds);
    EXPECT_NEAR(kbps, c.Kbps, c.Kbps * c.Tolerance);
    RecordProperty("kbps", std::to_string(kbps));
  }
  std::vector<int32_t> decoded;
  if (ownDecoder.empty()) {
    decoded = QuietFFmpegDecode(output);
    // The delay at the start, at most a frame of padding at the end: nothing missing.
    const int64_t frames = int64_t(decoded.size()) / c.Channels - c.Delay;
    EXPECT_GE(frames, FrameCount(signal));
    EXPECT_LE(frames, FrameCount(signal) + 2048);
    if (c.Format == dfAAC) {  // and faad, the decoder many players of raw AAC use
      ASSERT_EQ(RunTool({"faad", "-q", "-o", decodedWav, output}), 0);
      std::vector<int32_t> faad = AsInt16(FFmpegDecode(decodedWav, "s16le"));
      if (c.Channels == 1) {  // faad writes mono as two equal channels
        for (size_t i = 0; 2 * i < faad.size(); ++i) faad[i] = faad[2 * i];
        faad.resize(faad.size() / 2);
      }
      EXPECT_GE(int64_t(faad.size()) / c.Channels, FrameCount(signal));
      EXPECT_GT(SnrDb(AsInt16(expected), faad, c.Channels, c.Delay), c.MinSnrDb);
    }
  } else {
    ASSERT_EQ(RunTool(ownDecoder), 0);
    if (c.Format == dfWavPack) {  // wvunpack takes the correction file beside it: the source itself
      const bool corrected = static_cast<const TWavPackOptions *>(c.Options)->CorrectionFile;
      EXPECT_EQ(std::filesystem::exists(output + "c"), corrected);
      if (corrected) {
        EXPECT_EQ(FFmpegDecode(decodedWav, raw), expected);
      }
    }
    decoded = AsInt16(FFmpegDecode(decodedWav, "s16le"));
    EXPECT_EQ(int64_t(decoded.size()) / c.Channels, FrameCount(signal));
  }
  const double snr = SnrDb(AsInt16(expected), decoded, c.Channels, c.Delay);
  EXPECT_GT(snr, c.MinSnrDb);
  RecordProperty("snr_db", std::to_string(snr));
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, RoundTrip, ::testing::ValuesIn(kRows),
                         [](const auto &info) { return std::string(info.param.Name); });

// Settings an encoder's library refuses fail the job at its start with the
// library's reason, and leave no file.
TEST(RoundTrip, RefusedSettingsFailWithTheirReason) {
  const TOGGOptions oggNoRates = {.Max = 192, .Avg = 192, .Min = 192, .BitrateType = obCBR};
  const struct {
    TDestinationFormat Format;
    const void *Options;
    std::string Text;
  } cases[] = {
      {dfOGG, &oggNoRates, "Vorbis codec setup with the requested bitrate failed. Try lower bitrate. Code=-131"},
  };
  const std::string folder = TestFolder();
  const std::string source = WriteMusic(folder + "/source.wav", TTestSignal{});
  for (const auto &c : cases) {
    const std::string output = folder + "/out." + FormatRow(c.Format)->Extension;
    const auto errors = ConvertFile(source, output, c.Format, c.Options);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].ErrorMessage.find(c.Text), std::string::npos) << errors[0].ErrorMessage;
    EXPECT_FALSE(std::filesystem::exists(output));
  }
}

// A coder whose library refused the stream ends without touching what never
// opened (the worker always ends the coder it made).
TEST(RoundTrip, ACoderThatNeverStartedEndsCleanly) {
  const std::string folder = TestFolder();
  for (const TFormatRow *row : FormatRows()) {
    SCOPED_TRACE(row->Name);
    const std::string output = folder + "/refused." + row->Extension;
    std::unique_ptr<TCustomCoder> coder = CreateCoder(row->Code, output, {}, PcmInfo(4000, 16, 16), nullptr);
    std::string why;
    coder->Init(why);
    try {
      coder->Finish();
    } catch (const std::exception &) {  // a failure may be said again; a crash may not happen
    }
  }
}

}  // namespace
