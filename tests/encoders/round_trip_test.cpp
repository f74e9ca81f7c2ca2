// SPDX-License-Identifier: GPL-3.0-or-later
// Every destination format through the worker, in rows of depth, channels and rate (pairwise, up to each encoder's
// limits), decoded by FFmpeg (lossless: the source's samples exactly, or dithered where floats become 16 bits; lossy:
// its length and a signal-to-noise ratio above the row's margin), its header read back by the format's own tools.
// Marked rows are also stopped with the shorter file kept, and run out of room near the file's end.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>

#include "encoders/aac/aac_format.h"
#include "encoders/alac/alac_format.h"
#include "encoders/ape/ape_format.h"
#include "encoders/flac/flac_format.h"
#include "encoders/mp3/mp3_format.h"
#include "encoders/ogg/ogg_format.h"
#include "encoders/opus/opus_format.h"
#include "encoders/wavpack/wavpack_format.h"
#include "encoders/wma/wma_format.h"
#include "test_support.h"

namespace {

enum : unsigned { kStop = 1, kDisk = 2 };

struct TRow {
  const char *Name;
  TDestinationFormat Format;
  int Bits, Channels, Rate;  // of the source
  int OutBits;               // the depth a lossless output holds (16 for lossy)
  double MinSnrDb;           // 0: lossless, sample for sample
  const void *Options = nullptr;  // null: the format's defaults
  int Kbps = 0;                   // asked for: the audio's bitrate is within 15 % of it
  unsigned Columns = 0;           // kStop, kDisk
  double Level = 0.9;             // peak; above 1, float samples over full scale
  int OutRate = 0, OutChannels = 0;  // resampled, mixed down into what the encoder takes (0: as the source)
  double Seconds = 0;                // 0: 2.5, 10 with Kbps, 8 with kStop
  double Stated = 0;                 // the length the job states (0: the true one)
};
std::ostream &operator<<(std::ostream &os, const TRow &c) { return os << c.Name; }

TFLACOptions FlacLevel(int level) {
  TFLACOptions o;
  ApplyFLACCommandLineLevel(level, o);
  return o;
}
const TFLACOptions kFlac0 = FlacLevel(0), kFlac3 = FlacLevel(3), kFlac8 = FlacLevel(8);
const TFLACOptions kFlacPrecision15 = {.QlpCoeffPrecision = 15};  // more than 24-bit samples allow
const TAPEOptions kApe[] = {{1}, {2}, {3}};
const TMP3Options kMp3Standard = {.BitrateType = btPRESET, .Preset = MP3PresetPosition("STANDARD")},
                  kMp3Abr = {.BitrateType = btPRESET, .Preset = MP3PresetPosition("ABR")},
                  kMp3Cbr128 = {.Bitrate = 128, .BitrateType = btCBR},
                  kMp3Cbr32 = {.Bitrate = 32, .BitrateType = btCBR}, kMp3Cbr320 = {.Bitrate = 320, .BitrateType = btCBR};
const TAACOptions kAac64{.Bitrate = 64}, kAac48{.Bitrate = 48};
const TAACOptions kAacM4a64{.Bitrate = 64, .Container = TAACContainer::MP4}, kAacM4a{.Container = TAACContainer::MP4};
// The bitrate search takes the lowest it may; a managed Ogg average of 128 kbit/s.
const TWMAOptions kWmaQuality50{.Quality = 50, .BitrateType = 1}, kWmaTooLow{.AutoFindBitrate = true, .Bitrate = 10};
const TOGGOptions kOggManaged = {.Max = 0, .Avg = 10, .Min = 0, .BitrateType = obCBR}, kOggLowest = {.Quality = 0};
const TWavPackOptions kWvFast = {.Compression = 0}, kWvVeryHigh = {.Compression = 2},
                      kWvHybrid = {.Hybrid = true, .Bitrate = 320},
                      kWvHybridFast = {.Compression = 0, .Hybrid = true, .Bitrate = 600},
                      kWvCorrected = {.Hybrid = true, .Bitrate = 320, .CorrectionFile = true};

const TRow kRows[] = {
    {"wav16", dfWAV, 16, 2, 44100, 16, 0, nullptr, 0, kDisk}, {"wav8Mono8k", dfWAV, 8, 1, 8000, 16, 0},
    {"wav24Three96k", dfWAV, 24, 3, 96000, 24, 0},
    {"wavFloatQuadOverFull", dfWAV, 32, 4, 48000, 32, 0, nullptr, 0, kStop | kDisk, 1.5},
    {"wav16Five22k", dfWAV, 16, 5, 22050, 16, 0}, {"wav24Six", dfWAV, 24, 6, 44100, 24, 0},
    {"wav16Seven", dfWAV, 16, 7, 32000, 16, 0},
    {"wavFloatEight384k", dfWAV, 32, 8, 384000, 32, 0, nullptr, 0, 0, 0.9, 0, 0, 0.4},
    {"flac24MonoLevel0", dfFLAC, 24, 1, 96000, 24, 0, &kFlac0, 0, kStop},
    {"flac24EightLevel8At384k", dfFLAC, 24, 8, 384000, 24, 0, &kFlac8, 0, 0, 0.9, 0, 0, 0.4},
    {"flacFloatSixOverFull", dfFLAC, 32, 6, 48000, 16, 0, &kFlac3, 0, 0, 1.5},
    {"flac24QuadPrecision15", dfFLAC, 24, 4, 48000, 24, 0, &kFlacPrecision15, 0, kDisk},
    {"ape16Mono8kUnderstated", dfAPE, 16, 1, 8000, 16, 0, &kApe[1], 0, kDisk, 0.9, 0, 0, 28, 1},
    {"ape24Extra96k", dfAPE, 24, 2, 96000, 24, 0, &kApe[2], 0, kStop},
    {"apeFloatOverFullFast", dfAPE, 32, 2, 48000, 16, 0, &kApe[0], 0, 0, 1.5},
    {"wv24MonoFast96k", dfWavPack, 24, 1, 96000, 24, 0, &kWvFast, 0, kStop},
    {"wvFloatSixOverFull", dfWavPack, 32, 6, 48000, 32, 0, &kWvVeryHigh, 0, 0, 1.5},
    {"wv24Eight192k", dfWavPack, 24, 8, 192000, 24, 0, nullptr, 0, 0, 0.9, 0, 0, 0.5},
    {"wv16Three", dfWavPack, 16, 3, 44100, 16, 0}, {"wvHybrid320", dfWavPack, 16, 2, 44100, 16, 25, &kWvHybrid, 320},
    {"wvHybrid600From24", dfWavPack, 24, 2, 48000, 16, 25, &kWvHybridFast, 600},
    {"wvHybridCorrected", dfWavPack, 16, 2, 44100, 16, 25, &kWvCorrected, 320, kDisk},  // and a .wvc
    {"mp3Vbr", dfMP3, 16, 2, 44100, 16, 15, nullptr, 0, kDisk},
    {"mp3StandardFrom24", dfMP3, 24, 2, 48000, 16, 15, &kMp3Standard},
    {"mp3AbrFloat", dfMP3, 32, 2, 32000, 16, 12, &kMp3Abr},
    {"mp3Cbr128", dfMP3, 16, 2, 44100, 16, 12, &kMp3Cbr128, 128, kStop | kDisk},
    {"mp3Cbr32Mono8k", dfMP3, 16, 1, 8000, 16, 6, &kMp3Cbr32, 32},
    {"mp3Cbr320", dfMP3, 16, 2, 48000, 16, 15, &kMp3Cbr320, 320},
    {"aacStereo", dfAAC, 16, 2, 44100, 16, 20, &kAac64, 128, kDisk},
    // The LFE channel keeps only its lowest band, the others about 20 dB.
    {"aac24Six48k", dfAAC, 24, 6, 48000, 16, 6, &kAac48, 288, kStop},
    {"aacFloat96kOverFull", dfAAC, 32, 2, 96000, 16, 6, &kAac64, 0, 0, 1.5},
    {"aac16Mono7350", dfAAC, 16, 1, 7350, 16, 12, &kAac48},
    {"aacM4a", dfAAC, 16, 2, 44100, 16, 20, &kAacM4a64, 128, kStop | kDisk},
    {"aacM4aFloatMono48kByQuality", dfAAC, 32, 1, 48000, 16, 20, &kAacM4a},
    // Not a whole number of milliseconds: the edit list states it to the sample.
    {"aacM4aOddLength", dfAAC, 16, 2, 44100, 16, 20, &kAacM4a, 0, 0, 0.9, 0, 0, 2.5 + 333.0 / 44100},
    {"wmaStereo", dfWMA, 16, 2, 44100, 16, 20, nullptr, 160, kDisk},
    {"wmaFloatMono48k", dfWMA, 32, 1, 48000, 16, 20, &kWmaQuality50, 48},
    {"wma24Found48k", dfWMA, 24, 2, 48000, 16, 10, &kWmaTooLow, 24, kStop},
    {"wma16Mono8k", dfWMA, 16, 1, 8000, 16, 6, &kWmaTooLow},
    // Vorbis keeps an LFE channel to the bass: no six or eight channels of tones.
    {"oggStereo", dfOGG, 16, 2, 44100, 16, 18, nullptr, 0, kDisk}, {"oggFloatFive48k", dfOGG, 32, 5, 48000, 16, 12},
    {"ogg24Mono96k", dfOGG, 24, 1, 96000, 16, 18}, {"oggLowest", dfOGG, 16, 2, 44100, 16, 10, &kOggLowest},
    {"oggManaged128", dfOGG, 16, 2, 44100, 16, 18, &kOggManaged, 128, kStop},
    {"oggFloatOverFull", dfOGG, 32, 2, 44100, 16, 6, nullptr, 0, 0, 1.5}, {"oggQuad", dfOGG, 16, 4, 22050, 16, 12},
    {"oggEight", dfOGG, 16, 8, 44100, 16, 3},
    {"oggManagedFrom96k", dfOGG, 16, 2, 96000, 16, 0, &kOggManaged, 0, 0, 0.9, 48000},
    // Opus takes 48 kHz only; the LFE keeps only its bass.
    {"opusStereo", dfOpus, 16, 2, 48000, 16, 15, nullptr, 0, kStop | kDisk}, {"opus24Mono", dfOpus, 24, 1, 48000, 16, 12},
    {"opusFloatSix44k", dfOpus, 32, 6, 44100, 16, 0, nullptr, 0, 0, 0.9, 48000},
    {"alac16", dfALAC, 16, 2, 44100, 16, 0, nullptr, 0, kDisk}, {"alac24Mono96k", dfALAC, 24, 1, 96000, 24, 0, nullptr, 0, kStop},
    {"alac8Mono8k", dfALAC, 8, 1, 8000, 16, 0}, {"alacFloatSixOverFull", dfALAC, 32, 6, 48000, 16, 0, nullptr, 0, 0, 1.5},
    {"alac24Three", dfALAC, 24, 3, 44100, 24, 0}, {"alac16Four22k", dfALAC, 16, 4, 22050, 16, 0},
    {"alac16Five", dfALAC, 16, 5, 32000, 16, 0}, {"alac24Eight", dfALAC, 24, 8, 48000, 24, 0},
    {"alac24Seven384k", dfALAC, 24, 7, 384000, 24, 0, nullptr, 0, 0, 0.9, 0, 0, 0.4},
};

std::string Run(const std::vector<std::string> &argv) {
  std::string out, err;
  EXPECT_EQ(RunTool(argv, &out, &err), 0) << argv[0] << ": " << err;
  return out;
}

// What the format's own tools say of a lossless file and its samples.
using THeader = void (*)(const TRow &c, const std::string &file, int64_t frames, const std::vector<uint8_t> &samples);
void WavHeader(const TRow &c, const std::string &file, int64_t frames, const std::vector<uint8_t> &samples) {
  const std::vector<uint8_t> b = ReadFileBytes(file);
  const std::string text(b.begin(), b.end());
  const size_t data = text.find("data") + 8, fact = text.find("fact") + 8;  // after the chunks' sizes
  EXPECT_TRUE(c.OutBits != 32 || (fact < data && ReadLE(b, fact, 4) == uint64_t(frames))) << "float: a fact chunk";
  ASSERT_GE(data, 44u);
  EXPECT_EQ(ReadLE(b, 4, 4), b.size() - 8);
  EXPECT_EQ(ReadLE(b, 20, 2), c.Channels > 2 ? 0xFFFEu : c.OutBits == 32 ? 3u : 1u);
  EXPECT_EQ(ReadLE(b, data - 4, 4), samples.size());
  EXPECT_TRUE(std::equal(samples.begin(), samples.end(), b.begin() + std::ptrdiff_t(data)));
  std::string err;
  EXPECT_EQ(RunTool({"sox", file, "-n"}, nullptr, &err), 0);
  // sox warns of every extensible float header, FFmpeg's too.
  EXPECT_TRUE(err.empty() || (c.OutBits == 32 && c.Channels > 2)) << err;
}
void FlacHeader(const TRow &c, const std::string &file, int64_t frames, const std::vector<uint8_t> &samples) {
  Run({"flac", "-t", "-s", file});
  WriteFileBytes(file + ".raw", samples);
  EXPECT_EQ(Run({"metaflac", "--show-total-samples", "--show-bps", "--show-channels", "--show-sample-rate",
                 "--show-md5sum", file}),
            std::to_string(frames) + "\n" + std::to_string(c.OutBits) + "\n" + std::to_string(c.Channels) + "\n" +
                std::to_string(c.Rate) + "\n" + Run({"md5sum", file + ".raw"}).substr(0, 32) + "\n");
  fs::remove(file + ".raw");
}
void ApeHeader(const TRow &, const std::string &file, int64_t, const std::vector<uint8_t> &) {
  std::string err;  // FFmpeg checks every frame's CRC
  EXPECT_EQ(RunTool({"ffmpeg", "-v", "error", "-err_detect", "crccheck+explode", "-i", file, "-f", "null", "-"}, nullptr,
                    &err), 0);
  EXPECT_EQ(err, "");
}
// WavPack's own decoder, which takes a correction file beside the output.
bool WvUnpacksTo(const std::string &file, const std::vector<uint8_t> &samples, int bits) {
  const bool same = RunTool({"wvunpack", "-q", "-y", file, "-o", file + ".wav"}) == 0 &&
                    FFmpegDecode(file + ".wav", RawFormat(bits)) == samples;
  fs::remove(file + ".wav");
  return same;
}
void WavPackHeader(const TRow &c, const std::string &file, int64_t frames, const std::vector<uint8_t> &samples) {
  const std::vector<uint8_t> b = ReadFileBytes(file);  // the first block states the length
  ASSERT_GT(b.size(), 16u);
  EXPECT_EQ(ReadLE(b, 12, 4), uint64_t(frames));
  const std::string summary = Run({"wvunpack", "-s", file});
  EXPECT_NE(summary.find("modalities:        lossless"), std::string::npos) << summary;
  EXPECT_TRUE(WvUnpacksTo(file, samples, c.OutBits));
}
void AlacHeader(const TRow &, const std::string &file, int64_t, const std::vector<uint8_t> &) {
  EXPECT_EQ(ProbeStream(file, "codec_name"), "alac\n");
  EXPECT_EQ(Run({"ffprobe", "-v", "error", "-show_entries", "format_tags=major_brand", "-of", "csv=p=0", file}), "M4A \n");
}

// How this test reads each format back. A new format needs its line here.
struct TFormatCheck {
  int Delay;  // start-up frames FFmpeg keeps
  THeader Header = nullptr;
  const char *DepthField = "bits_per_raw_sample";  // ffprobe's field of a lossless output's depth
  std::map<int, const char *> Layouts = {};         // where a format names a channel count's layout otherwise
};
const char *const kLayouts[] = {"", "mono", "stereo", "3.0", "quad", "5.0", "5.1", "6.1", "7.1"};
const std::map<TDestinationFormat, TFormatCheck> kChecks = {
    {dfWAV, {0, &WavHeader, "bits_per_sample", {{1, "unknown"}, {2, "unknown"}}}},  // no speakers stated
    {dfFLAC, {0, &FlacHeader, "bits_per_raw_sample", {{5, "5.0(side)"}, {6, "5.1(side)"}}}},
    {dfAPE, {0, &ApeHeader}},
    {dfWavPack, {0, &WavPackHeader}},
    {dfMP3, {0}},  // gapless by the tag frame
    {dfOGG, {0}},
    {dfAAC, {1024}},
    {dfWMA, {0, nullptr, "", {{1, "unknown"}, {2, "unknown"}}}},  // ASF states no speakers
    {dfOpus, {0}},  // pre-skip and the last granule state the length
    {dfALAC, {0, &AlacHeader, "bits_per_raw_sample", {{4, "4.0"}, {7, "6.1(back)"}, {8, "7.1(wide)"}}}},
};

// FFmpeg's decode to 16 bits of a file it finds nothing to warn about but what ADTS (length) and ASF (layout) lack.
std::vector<int32_t> QuietFFmpegDecode(const std::string &file) {
  std::string out, err;
  EXPECT_EQ(RunTool({"ffmpeg", "-nostdin", "-v", "warning", "-i", file, "-f", "s16le", "-"}, &out, &err), 0);
  const std::regex expected("[^\n]*(Estimating duration from bitrate|Guessed Channel Layout)[^\n]*\n?");
  EXPECT_EQ(std::regex_replace(err, expected, ""), "");
  return AsInt16(std::vector<uint8_t>(out.begin(), out.end()));
}

// The audio packets' bitrate: the container's own overhead is no part of it.
double AudioKbps(const std::string &file, double seconds) {
  std::istringstream packets(Run({"ffprobe", "-v", "error", "-show_entries", "packet=size", "-of", "csv=p=0", file}));
  double bytes = 0;
  for (std::string size; std::getline(packets, size);)
    if (!size.empty()) bytes += std::stod(size);  // side data makes empty lines
  return bytes * 8 / seconds / 1000;
}

class RoundTrip : public ::testing::TestWithParam<TRow> {};

TEST_P(RoundTrip, TheIndependentDecodersHearTheSource) {
  const TRow &c = GetParam();
  const TFormatRow &row = *FormatRow(c.Format);
  const TFormatCheck &check = kChecks.at(c.Format);
  const std::string folder = TestFolder();
  const bool lossless = c.MinSnrDb == 0 && !c.OutRate && !c.OutChannels;
  const int outRate = c.OutRate ? c.OutRate : c.Rate, outChannels = c.OutChannels ? c.OutChannels : c.Channels;
  TTestSignal signal{.Rate = c.Rate, .Channels = c.Channels, .Bits = c.Bits, .Level = c.Level};
  signal.Seconds = c.Seconds ? c.Seconds : c.Kbps ? 10 : c.Columns & kStop ? 8 : 2.5;
  // Music is mono or stereo within full scale; more channels get a tone each, so their order shows. Not for AAC, which
  // keeps only the bass of the LFE's.
  const bool tones = c.Level > 1 || (c.Channels > 2 && c.Format != dfAAC);
  // Tagged: the tags are written too before the output is complete.
  const std::string source = (tones ? WriteSignal : WriteMusic)(folder + "/source.wav", signal,
      {"-c:a", "pcm_" + RawFormat(c.Bits), "-metadata", "title=Long enough to be felt", "-metadata", "artist=A"});
  const int64_t frames = FrameCount(signal), outFrames = frames * outRate / c.Rate;
  const std::shared_ptr<void> defaults = row.NewOptions();
  const void *options = c.Options ? c.Options : defaults.get();
  EXPECT_EQ(row.Lossless && row.Lossless(options), lossless);  // what /verify goes by
  // The source at the depth the output holds (FFmpeg clips floats over full scale).
  const std::string raw = RawFormat(c.OutBits);
  const std::vector<uint8_t> expected = FFmpegDecode(source, raw);

  fs::create_directories(folder + "/disk");  // the output alone
  const std::string extension = OutputExtension(row, options);
  const bool m4a = extension == "m4a";  // an edit list states the delay and padding
  const std::string output = folder + "/disk/out." + extension;
  TFileListRec job = WholeSourceJob(source, output, c.Format, options);
  if (c.Stated) job.AudioInfo.Streams[size_t(job.AudioInfo.Index)].Duration = c.Stated;
  const auto errors = ConvertJob(job);
  ASSERT_TRUE(errors.empty()) << errors[0].ErrorMessage;

  const std::string layout = check.Layouts.count(outChannels) ? check.Layouts.at(outChannels) : kLayouts[outChannels];
  EXPECT_EQ(ProbeStream(output, "sample_rate,channels,channel_layout" + (lossless ? "," + std::string(check.DepthField) : "")),
            std::to_string(outRate) + "," + std::to_string(outChannels) + "," + layout +
                (lossless ? "," + std::to_string(c.OutBits) : "") + "\n");
  if (lossless) {
    // Floats held in 16 bits are dithered: within one step of FFmpeg's rounding (which has no dither), not equal to it.
    const bool dithered = c.Bits == 32 && c.OutBits == 16;
    const std::vector<uint8_t> held = FFmpegDecode(output, raw);
    if (dithered) {
      const std::vector<int32_t> got = AsInt16(held), rounded = AsInt16(expected);
      ASSERT_EQ(got.size(), rounded.size());
      size_t off = 0, stray = 0;
      for (size_t i = 0; i < got.size(); ++i) {
        off += got[i] != rounded[i];
        stray += std::abs(got[i] - rounded[i]) > 1;
      }
      EXPECT_EQ(stray, 0u);
      EXPECT_GT(off, got.size() / 4) << "no dither";
    } else {
      EXPECT_TRUE(held == expected) << "FFmpeg's decode differs";
    }
    EXPECT_EQ(ProbeStream(output, "duration_ts"), std::to_string(frames) + "\n");
    if (check.Header) check.Header(c, output, frames, held);
  } else {
    EXPECT_NEAR(c.Kbps ? AudioKbps(output, signal.Seconds) : 0, c.Kbps, c.Kbps * 0.15);
    // The delay at the start, at most a frame of padding at the end. FFmpeg drops the priming an edit list states; of
    // the end it keeps the last frame whole.
    const std::vector<int32_t> decoded = QuietFFmpegDecode(output);
    const int64_t decodedFrames = int64_t(decoded.size()) / outChannels - (m4a ? 0 : check.Delay);
    EXPECT_GE(decodedFrames, outFrames - (c.OutRate ? 64 : 0));
    EXPECT_LE(decodedFrames, outFrames + (m4a ? 1023 : c.Format == dfMP3 ? 1152 * 3 : 2048));
    if (m4a) {  // the stated length is the source's; tags in MP4 atoms, no ID3 tag
      EXPECT_EQ(ProbeStream(output, "duration_ts"), std::to_string(outFrames) + "\n");
      EXPECT_EQ(ReadText(output).substr(4, 4), "ftyp");
      EXPECT_EQ(::Run({"ffprobe", "-v", "error", "-show_entries", "format_tags=title", "-of", "csv=p=0", output}),
                "Long enough to be felt\n");
    }
    if (c.Format == dfWavPack) {  // the correction file restores the source itself
      const bool corrected = static_cast<const TWavPackOptions *>(c.Options)->CorrectionFile;
      EXPECT_EQ(fs::exists(output + "c"), corrected);
      EXPECT_TRUE(!corrected || WvUnpacksTo(output, expected, c.OutBits));
    }
    if (c.Format == dfMP3) {  // an ID3v1 block at the end, no genre
      const std::vector<uint8_t> bytes = ReadFileBytes(output);
      EXPECT_EQ(std::string(bytes.end() - 128, bytes.end() - 125) + char(bytes.back()), std::string("TAG\xff"));
    }
    if (!c.OutRate && !c.OutChannels) {
      // MP3 at a constant bitrate states no gapless length: its delay stays.
      const int delay = c.Kbps && c.Format == dfMP3 ? 3409 : m4a ? 0 : check.Delay;
      EXPECT_GT(SnrDb(AsInt16(expected), decoded, c.Channels, delay), c.MinSnrDb);
    }
  }

  if (c.Columns & kStop) {  // the shorter file kept: valid, and what was written
    const std::string kept = folder + "/stopped." + extension;
    TFileListRec stopping = WholeSourceJob(source, kept, c.Format, options);
    stopping.KeepPartial = true;
    const auto stopped = ConvertJob(stopping, [](TCoderThread &worker, const TProgressRec &p) {
      if (p.Percent >= 40) worker.Terminate();
    });
    ASSERT_TRUE(stopped.empty()) << stopped[0].ErrorMessage;
    const std::vector<uint8_t> part = FFmpegDecode(kept, raw);
    EXPECT_GT(part.size(), 0u);
    EXPECT_LT(part.size(), expected.size() * 9 / 10);
    if (lossless) {
      EXPECT_TRUE(std::equal(part.begin(), part.end(), expected.begin())) << "not the source's beginning";
      if (check.Header) check.Header(c, kept, int64_t(part.size()) / (c.Channels * c.OutBits / 8), part);
    } else {
      EXPECT_GT(SnrDb(AsInt16(expected), AsInt16(part), c.Channels, 4096), c.MinSnrDb);
    }
  }
  if (!(c.Columns & kDisk)) return;

  // A file size limit cuts the file anywhere: at whole pages around its end, inside its last 128 bytes, at half, at
  // nothing. A failure names the file and why and leaves nothing; a success is the whole file. (A full disk fails
  // writes alike: the batch run's rows.)
  const std::vector<uint8_t> reference = ReadFileBytes(output);
  const uint64_t size = reference.size() + (fs::exists(output + "c") ? fs::file_size(output + "c") : 0);
  const uint64_t page = 4096, pages = (size + page - 1) / page;
  for (const uint64_t bytes : {uint64_t(0), size / 2 + 1, (pages - 3) * page, (pages - 1) * page, size - 129,
                               size - 128, size - 64, size - 1, pages * page, (pages + 1) * page}) {
    SCOPED_TRACE("file size limit " + std::to_string(bytes) + " of " + std::to_string(size));
    fs::remove(output);
    fs::remove(output + "c");
    const std::vector<TThreadErrorRec> full = [&] {
      TFileSizeLimit limit(bytes);
      return ConvertJob(job);
    }();
    if (full.empty()) {
      EXPECT_TRUE(ReadFileBytes(output) == reference) << "a success must be the whole file";
      continue;
    }
    EXPECT_LT(bytes, (pages + 1) * page) << full[0].ErrorMessage;  // room to spare must do
    ASSERT_EQ(full.size(), 1u);
    const std::string &message = full[0].ErrorMessage;
    EXPECT_NE(message.find(std::strerror(EFBIG)), std::string::npos) << message;
    EXPECT_TRUE(message.find("\"" + output + "\"") != std::string::npos ||
                message.find("\"" + output + "c\"") != std::string::npos) << message;
    EXPECT_TRUE(fs::is_empty(folder + "/disk")) << "a failed job leaves nothing behind";
  }
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, RoundTrip, ::testing::ValuesIn(kRows),
                         [](const auto &info) { return std::string(info.param.Name); });

// A 1 kHz tone's peak level in channel 0 of a decoded file and the RMS of the rest (dBFS), past the first half second.
std::pair<double, double> ToneAndRest(const std::string &file, int rate, int channels) {
  const std::vector<double> x = AsSamples(FFmpegDecode(file, "f32le"), 32);
  const int64_t frames = int64_t(x.size()) / channels - rate, first = rate / 2, n = frames / rate * rate;
  const double w = 2 * M_PI * 1000 / rate;
  double s = 0, c = 0;
  for (int64_t i = 0; i < n; ++i) {
    s += x[size_t((first + i) * channels)] * std::sin(w * double(i));
    c += x[size_t((first + i) * channels)] * std::cos(w * double(i));
  }
  s *= 2.0 / double(n), c *= 2.0 / double(n);
  double rest = 0;
  for (int64_t i = 0; i < n; ++i) {
    const double r = x[size_t((first + i) * channels)] - s * std::sin(w * double(i)) - c * std::cos(w * double(i));
    rest += r * r;
  }
  return {10 * std::log10(s * s + c * c + 1e-30), 10 * std::log10(rest / double(n) + 1e-30)};
}

// Quiet tones keep the source's resolution on the way into the lossy encoders: a -90 dBFS tone from 24-bit or float
// samples comes back with a signal-to-noise ratio no 16-bit step allows (16 bits leave a few dB at that level). Where
// floats must become 16 bits they are dithered: a -100 dBFS tone is kept at its level in noise of the dither's level
// (rounding would silence it; a tone within 1 dB, noise at TPDF's -96.3 dBFS).
TEST(RoundTripRows, QuietTonesKeepTheirResolution) {
  const struct {
    const char *Name;
    TDestinationFormat Format;
    int Bits;
    double ToneDb, MinSnrDb;  // MinSnrDb 0: dithered into 16 bits
    const void *Options = nullptr;
  } rows[] = {
      {"mp3From24", dfMP3, 24, -90, 25},        {"mp3FromFloat", dfMP3, 32, -90, 25},
      {"oggFrom24", dfOGG, 24, -90, 14},        {"oggFromFloat", dfOGG, 32, -90, 14},
      {"opusFrom24", dfOpus, 24, -90, 35},      {"aacFrom24", dfAAC, 24, -90, 35, &kAac64},
      {"aacM4aFromFloat", dfAAC, 32, -90, 35, &kAacM4a64}, {"flacFromFloat", dfFLAC, 32, -100, 0},
      {"wmaFromFloat", dfWMA, 32, -100, 0},
  };
  const std::string folder = TestFolder();
  for (const auto &c : rows) {
    SCOPED_TRACE(c.Name);
    const std::string source = folder + "/" + c.Name + ".wav";
    const std::string depth = c.Bits == 32 ? "-e floating-point -b 32" : "-b 24";
    ASSERT_EQ(RunTool({"sh", "-c", "sox -n -r 48000 " + depth + " -c 2 '" + source + "' synth 4 sine 1000 vol " +
                                     std::to_string(int(c.ToneDb)) + "dB"}), 0);
    const std::string output = folder + "/" + c.Name + "." + FormatRow(c.Format)->Extension;
    const auto errors = ConvertFile(source, output, c.Format, c.Options);
    ASSERT_TRUE(errors.empty()) << errors[0].ErrorMessage;
    const auto [tone, rest] = ToneAndRest(output, 48000, 2);
    EXPECT_NEAR(tone, c.ToneDb, 1);
    if (c.MinSnrDb > 0) {
      EXPECT_GT(tone - 3.01 - rest, c.MinSnrDb) << "noise at " << rest << " dBFS";
    } else if (c.Format == dfFLAC) {
      EXPECT_NEAR(rest, -96.3, 1);
    }
  }
}

// What an encoder cannot take fails the job at its start with the reason, and leaves no file. (Channel limits:
// FurtherTypes; FLAC's: SpreadStart.)
TEST(RoundTripRows, RefusedAtTheStart) {
  const TOGGOptions oggNoRates = {.Max = 192, .Avg = 192, .Min = 192, .BitrateType = obCBR};
  const TWMAOptions wma[] = {{.UseProCodec = true}, {.AutoFindBitrate = true, .UseProCodec = true},
                             {.Lossless = true, .BitrateType = 1}, {.AutoFindBitrate = true, .Lossless = true, .BitrateType = 1},
                             {.Bitrate = 5}};
  const std::string noPro = "FFmpeg has no encoder for the WMA Pro codec", noLossless = "FFmpeg has no encoder for lossless WMA";
  const struct { TDestinationFormat Format; const void *Options; int Rate; std::string Says; } cases[] = {
      {dfFLAC, nullptr, 705600, "FLAC files hold sample rates of 1 to 655350 Hz; the source has 705600 Hz"},
      {dfOGG, &oggNoRates, 44100, "Vorbis codec setup with the requested bitrate failed. Try lower bitrate. Code=-131"},
      {dfWMA, &wma[0], 44100, noPro},      {dfWMA, &wma[1], 44100, noPro},
      {dfWMA, &wma[2], 44100, noLossless}, {dfWMA, &wma[3], 44100, noLossless},
      {dfWMA, &wma[4], 44100, "The WMA encoder (wmav2) refused 2 channels at 44100 Hz and 5 kbit/s: Invalid argument"},
  };
  const std::string folder = TestFolder();
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Says);
    fs::remove_all(folder + "/out");
    fs::create_directories(folder + "/out");
    const std::string source = WriteSignal(folder + "/source.wav", {.Rate = c.Rate, .Seconds = 0.3});
    const auto errors = ConvertFile(source, folder + "/out/out." + FormatRow(c.Format)->Extension, c.Format, c.Options);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].ErrorMessage.find(c.Says), std::string::npos) << errors[0].ErrorMessage;
    EXPECT_TRUE(fs::is_empty(folder + "/out"));
  }
}

// Coders given samples directly: one whose library refused the stream ends without touching what never opened; a
// lossless one given 8-bit samples keeps them as they are (the worker hands 8-bit sources over as 16 bits).
TEST(RoundTripRows, CodersGivenSamplesDirectly) {
  const std::string folder = TestFolder();
  const TTestSignal s{.Rate = 8000, .Channels = 1, .Bits = 8};
  const std::vector<uint8_t> pcm = MakeSamples(s);
  for (const TFormatRow *row : FormatRows()) {
    std::unique_ptr<TCustomCoder> refused =
        CreateCoder(row->Code, folder + "/refused." + row->Extension, {}, PcmInfo(4000, 16, 16), nullptr);
    std::string why;
    refused->Init(why);
    try {
      refused->Finish();
    } catch (const std::exception &) {  // a failure may be said again; a crash may not happen
    }
    if (row->Code != dfWAV && row->Code != dfFLAC && row->Code != dfWavPack) continue;  // APE holds 16 bits or more
    const std::string path = folder + "/eight." + row->Extension;
    std::unique_ptr<TCustomCoder> coder = CreateCoder(row->Code, path, {}, PcmInfo(s.Rate, 1, 8), nullptr);
    ASSERT_EQ(coder->Init(why), 0) << why;
    coder->DoOutput(pcm.data(), int(pcm.size()), true);
    coder->Finish();
    EXPECT_TRUE(FFmpegDecode(path, "u8") == pcm) << path;
  }
}

}  // namespace
