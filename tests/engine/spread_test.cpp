// SPDX-License-Identifier: GPL-3.0-or-later
// One output encoded in spans on several threads and joined: each row converts music of three and a half spans in one
// piece and spread over three threads (verified), and compares the two, the source and the format's own check. A lossy
// row compares size, noise and length, and the error at the joins.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>

#include "encoders/aac/aac_format.h"
#include "encoders/ape/ape_format.h"
#include "encoders/flac/flac_format.h"
#include "encoders/flac/flac_joiner.h"
#include "encoders/format.h"
#include "encoders/mp3/mp3_format.h"
#include "encoders/mp3/mp3_frames.h"
#include "encoders/opus/opus_format.h"
#include "encoders/span_join.h"
#include "encoders/wavpack/wavpack_format.h"
#include "test_support.h"

namespace {

struct TSpreadRow {
  const char *Name;
  TDestinationFormat Format;
  int Bits, Channels, Rate;
  const void *Options;  // null: the format's defaults
  bool SameBytes;       // a span's WavPack filters start afresh: other bytes, the same samples
  std::vector<std::string> OwnCheck = {};    // "{}" is the file
  std::vector<std::string> SameReport = {};  // must read alike for both files
  bool Stop = false;                         // also stopped half-way, its shorter file kept
  // Lossy: the codec's frame (spans are whole frames); the frames FFmpeg decodes before the source's first; whether it
  // decodes exactly the source's length (else as much as from one piece); a decoder of its own that writes "{}" to the
  // WAV file after it.
  int64_t CodecFrame = 0;
  int Delay = 0;
  bool SourceLength = false;
  std::vector<std::string> OwnDecoder = {};
};

TFLACOptions FLACLevel(int level, void (*apply)(int, TFLACOptions &)) {
  TFLACOptions o;
  apply(level, o);
  return o;
}
const TAPEOptions kApeFast{.Compression = 1};
// Level 2 of the dialog has blocks of 1152 (no span is a power of two of them); level 6 adapts mid-side per frame.
const TFLACOptions kFlacBest = FLACLevel(8, &ApplyFLACCommandLineLevel),
                   kFlac1152 = FLACLevel(2, &ApplyFLACDialogLevel),
                   kFlacAdaptive = FLACLevel(6, &ApplyFLACCommandLineLevel);
// What the dialog offers beyond the streamable subset at 48 kHz and below.
const TFLACOptions kFlacBeyondSubset{.MaxLpcOrder = 32, .MaxResidualPartitionOrder = 15, .BlockSize = 16384};
const std::vector<std::string> kFlacTest = {"flac", "-t", "-s", "{}"}, kWvUnpack = {"wvunpack", "-vq", "{}"};
const TWavPackOptions kWvFast{.Compression = 0}, kWvVeryHigh{.Compression = 2};
const TOpusOptions kOpusCbr10ms{.Mode = TOpusMode::CBR, .FrameSize = 100};
const std::vector<std::string> kOpusDec = {"opusdec", "--quiet", "{}"};
const TAACOptions kAacM4a{.Container = TAACContainer::MP4};
// Its spans reach one piece's size only with a lead of about fifty frames.
const TAACOptions kAacM4aQ350{.Quality = 350, .Container = TAACContainer::MP4};
// INSANE is CBR at 320 kbit/s with a LAME tag; plain CBR has none, so FFmpeg and LAME decode its delay and padding too.
const TMP3Options kMp3Cbr{.Bitrate = 128, .BitrateType = btCBR}, kMp3Insane{.BitrateType = btPRESET, .Preset = 10};
const std::vector<std::string> kLameDec = {"lame", "--quiet", "--decode", "{}"};

const TSpreadRow kRows[] = {
    {"ape16", dfAPE, 16, 2, 44100, nullptr, true, {}, {}, true},
    {"ape24Mono", dfAPE, 24, 1, 48000, &kApeFast, true},
    {"flac16", dfFLAC, 16, 2, 44100, nullptr, true, kFlacTest},
    {"flac24Mono96k", dfFLAC, 24, 1, 96000, &kFlacBest, true, kFlacTest, {}, true},
    {"flacBlock1152", dfFLAC, 16, 2, 44100, &kFlac1152, true, kFlacTest},
    {"flacBeyondSubset", dfFLAC, 16, 2, 44100, &kFlacBeyondSubset, true, kFlacTest},
    {"flacAdaptiveMidSide", dfFLAC, 16, 2, 44100, &kFlacAdaptive, false, kFlacTest,
     {"metaflac", "--show-md5sum", "--show-total-samples", "--show-min-framesize", "--show-max-framesize", "{}"}},
    {"wv16", dfWavPack, 16, 2, 44100, nullptr, false, kWvUnpack, {}, true},
    {"wv24Mono96kFast", dfWavPack, 24, 1, 96000, &kWvFast, false, kWvUnpack},
    {"wvFloat4chVeryHigh", dfWavPack, 32, 4, 48000, &kWvVeryHigh, false, kWvUnpack},
    {"wv8Mono", dfWavPack, 8, 1, 44100, nullptr, false, kWvUnpack},
    {"opus", dfOpus, 16, 2, 48000, nullptr, false, {}, {}, true, 960, 0, true, kOpusDec},
    {"opusFloat6ch", dfOpus, 32, 6, 48000, nullptr, false, {}, {}, false, 960, 0, true, kOpusDec},
    {"opusMono10msCbr", dfOpus, 16, 1, 48000, &kOpusCbr10ms, false, {}, {}, false, 480, 0, true, kOpusDec},
    {"aacAdts", dfAAC, 16, 2, 44100, nullptr, false, {}, {}, true, 1024, 1024},
    {"aacM4a24Bit6ch", dfAAC, 24, 6, 48000, &kAacM4a, false, {}, {}, false, 1024, 0},
    {"aacM4aMono", dfAAC, 16, 1, 44100, &kAacM4a, false, {}, {}, true, 1024, 0},
    {"mp3Vbr", dfMP3, 16, 2, 44100, nullptr, false, {}, {}, true, 1152, 0, true, kLameDec},
    {"mp3VbrMono48k", dfMP3, 16, 1, 48000, nullptr, false, {}, {}, false, 1152, 0, true, kLameDec},
    {"mp3Insane48k", dfMP3, 16, 2, 48000, &kMp3Insane, false, {}, {}, false, 1152, 0, true, kLameDec},
    {"mp3Cbr", dfMP3, 16, 2, 44100, &kMp3Cbr, false, {}, {}, false, 1152, 1105},
    {"mp3CbrMono48k", dfMP3, 16, 1, 48000, &kMp3Cbr, false, {}, {}, false, 1152, 1105},
    {"opusMonoVbr64k", dfOpus, 16, 1, 48000, nullptr, false, {}, {}, false, 960, 0, true, kOpusDec},
    {"aacM4aQuality350", dfAAC, 16, 2, 44100, &kAacM4aQ350, false, {}, {}, false, 1024, 0},
    {"aacM4a22k", dfAAC, 16, 2, 22050, &kAacM4a, false, {}, {}, false, 1024, 0},
};

// What `command` prints of `file` (its "{}"); it must succeed.
std::string RunOn(std::vector<std::string> command, const std::string &file) {
  for (std::string &arg : command)
    if (arg == "{}") arg = file;
  std::string out;
  EXPECT_EQ(RunTool(command, &out), 0) << command[0] << " " << file;
  return out;
}

// The sample count in a WavPack file's first block, and the RIFF and data lengths of its WAV header, as restored.
void ExpectWavPackLength(const std::string &file, int64_t frames, const std::string &folder) {
  const std::vector<uint8_t> bytes = ReadFileBytes(file);
  EXPECT_EQ(int64_t(ReadLE(bytes, 12, 4) | ReadLE(bytes, 11, 1) << 32), frames);
  ASSERT_EQ(RunTool({"wvunpack", "-q", "-y", file, "-o", folder + "/restored.wav"}), 0);
  const std::vector<uint8_t> wav = ReadFileBytes(folder + "/restored.wav");
  EXPECT_EQ(ReadLE(wav, 4, 4), wav.size() - 8);
  const size_t at = size_t(std::search(wav.begin(), wav.end(), std::begin("data"), std::end("data") - 1) - wav.begin());
  EXPECT_EQ(ReadLE(wav, at + 4, 4), wav.size() - at - 8);
}

// What FFmpeg says decoding File, its frames' CRCs checked too.
std::string FFmpegComplaints(const std::string &File) {
  std::string errors;
  const int status = RunTool({"ffmpeg", "-v", "error", "-err_detect", "crccheck", "-i", File, "-f", "null", "-"},
                             nullptr, &errors);
  return status == 0 ? errors : errors + "exit status " + std::to_string(status);
}

// How a lossy output's decoded samples stray from the source: the signal to noise ratio, and the largest step of the
// error from one sample to the next within a codec frame of a join and elsewhere (a click is a step).
struct TLossyMeasure { double Snr = 0, StepAtJoins = 0, StepElsewhere = 0; };

TLossyMeasure MeasureLossy(const std::vector<double> &source, const std::vector<double> &decoded, size_t delay,
                           int channels, int64_t span, int64_t frame) {
  TLossyMeasure m;
  double signal = 0, noise = 0;
  const auto error = [&](size_t i) { return decoded[delay + i] - source[i]; };
  for (size_t i = 0; i < source.size(); ++i) {
    const double e = error(i);
    signal += source[i] * source[i];
    noise += e * e;
    if (i < size_t(channels)) continue;
    const auto at = int64_t(i) / channels;
    const double step = std::abs(e - error(i - size_t(channels)));
    const int64_t fromJoin = std::min(at % span, span - at % span);
    double &largest = at >= span && fromJoin <= frame ? m.StepAtJoins : m.StepElsewhere;
    largest = std::max(largest, step);
  }
  m.Snr = 10 * std::log10(signal / std::max(noise, 1e-30));
  return m;
}

class Spread : public ::testing::TestWithParam<TSpreadRow> {};

TEST_P(Spread, JoinedOutputIsTheOnePieceOutput) {
  const TSpreadRow &r = GetParam();
  const TFormatRow *row = FormatRow(r.Format);
  const std::shared_ptr<void> defaults = row->NewOptions();
  const void *options = r.Options ? r.Options : defaults.get();
  const std::string folder = TestFolder(), raw = RawFormat(r.Bits);
  const auto output = [&](const char *name) { return folder + "/" + name + "." + row->Extension; };
  // A joiner's long lead makes the spans longer.
  const int64_t span = TSpreadCoder::SpanLength(
      r.CodecFrame, row->CreateJoiner(output("probe"), {}, PcmInfo(r.Rate, r.Channels, r.Bits), options)->LeadFrames());
  const TTestSignal signal{.Rate = r.Rate, .Channels = r.Channels, .Bits = r.Bits,
                           // a lossy codec's last frame short
                           .Seconds = (3.5 * double(span) + (r.CodecFrame ? 333 : 0)) / r.Rate,
                           .Music = true};
  const std::string source = WriteSignal(folder + "/source.wav", signal, {"-c:a", "pcm_" + raw});
  const auto job = [&](const std::string &out, int32_t spanThreads) {
    TFileListRec j = WholeSourceJob(source, out, r.Format, options);
    j.SpanThreads = spanThreads;
    j.Tags.Title = "Joined";
    return j;
  };
  // No quiet fall-back to one piece.
  ASSERT_NE(dynamic_cast<TSpreadCoder *>(CreateCoder(r.Format, output("probe"), {}, PcmInfo(r.Rate, r.Channels, r.Bits),
                                                     options, 3).get()), nullptr);
  const std::string whole = output("whole"), spread = output("spread");
  ASSERT_TRUE(ConvertJob(job(whole, 1)).empty());
  std::atomic<int32_t> verified = 0;
  TFileListRec verifiedJob = job(spread, 3);
  verifiedJob.Verify = r.CodecFrame == 0;  // a lossy output cannot be checked against its samples
  verifiedJob.Verified = &verified;
  ASSERT_TRUE(ConvertJob(verifiedJob).empty());
  EXPECT_EQ(verified, r.CodecFrame == 0 ? 1 : 0);
  EXPECT_TRUE(!r.SameBytes || ReadFileBytes(whole) == ReadFileBytes(spread));
  const std::vector<uint8_t> samples = FFmpegDecode(source, raw);
  if (r.CodecFrame == 0) {
    EXPECT_TRUE(FFmpegDecode(spread, raw) == samples);
  } else {
    // Against one piece: no decoder's complaint, much the same size, the same length, no more noise, no click at joins.
    EXPECT_EQ(FFmpegComplaints(spread), "");
    const double wholeSize = double(std::filesystem::file_size(whole));
    EXPECT_NEAR(double(std::filesystem::file_size(spread)), wholeSize, wholeSize * 0.005);
    if (r.Format == dfMP3) {  // the ID3v1 block at the end
      const std::vector<uint8_t> a = ReadFileBytes(whole), b = ReadFileBytes(spread);
      EXPECT_TRUE(std::equal(a.end() - 128, a.end(), b.end() - 128, b.end()));
    }
    const std::vector<double> reference = AsSamples(FFmpegDecode(source, "f32le"), 32),
                              wholeDecoded = AsSamples(FFmpegDecode(whole, "f32le"), 32),
                              spreadDecoded = AsSamples(FFmpegDecode(spread, "f32le"), 32);
    const size_t delay = size_t(r.Delay * r.Channels);
    ASSERT_GE(wholeDecoded.size(), reference.size() + delay);
    ASSERT_TRUE(!r.SourceLength || wholeDecoded.size() == reference.size()) << wholeDecoded.size();
    ASSERT_EQ(spreadDecoded.size(), wholeDecoded.size());
    const TLossyMeasure a = MeasureLossy(reference, wholeDecoded, delay, r.Channels, span, r.CodecFrame),
                        b = MeasureLossy(reference, spreadDecoded, delay, r.Channels, span, r.CodecFrame);
    EXPECT_GE(b.Snr, a.Snr - 0.1);
    EXPECT_LE(b.StepAtJoins, b.StepElsewhere);
    if (r.Delay == 0) {  // the container holds the start and length: as one piece's
      EXPECT_EQ(ProbeStream(spread, "start_pts,duration_ts"), ProbeStream(whole, "start_pts,duration_ts"));
    }
    if (!r.OwnDecoder.empty()) {
      std::vector<std::string> own = r.OwnDecoder;
      own.push_back(folder + "/own.wav");
      RunOn(own, spread);
      EXPECT_EQ(FFmpegDecode(folder + "/own.wav", "f32le").size(), reference.size() * 4);
    }
  }
  if (!r.OwnCheck.empty()) RunOn(r.OwnCheck, spread);
  if (!r.SameReport.empty()) {
    EXPECT_EQ(RunOn(r.SameReport, spread), RunOn(r.SameReport, whole));
  }
  if (r.Format == dfWavPack) ExpectWavPackLength(spread, FrameCount(signal), folder);
  if (!r.Stop) return;
  // Stopped: a valid file of everything read before the stop (half, at least).
  const std::string kept = output("kept");
  TFileListRec stopped = job(kept, 3);
  stopped.KeepPartial = true;
  ConvertJob(stopped, [](TCoderThread &worker, const TProgressRec &p) {
    if (p.Percent >= 50) worker.Terminate();
  });
  const std::vector<uint8_t> decoded = FFmpegDecode(kept, raw);
  EXPECT_GE(decoded.size() * 2, samples.size());
  EXPECT_LT(decoded.size(), samples.size());
  EXPECT_TRUE(r.CodecFrame != 0 || std::equal(decoded.begin(), decoded.end(), samples.begin()));
  if (r.Format == dfOpus) {  // the comments are in its header, also stopped
    EXPECT_EQ(RunOn({"ffprobe", "-v", "error", "-show_entries", "stream_tags=title", "-of", "csv=p=0", "{}"}, kept),
              "Joined\n");
  }
  // No ID3v1 block on a stopped MP3 output, as in one piece.
  EXPECT_TRUE(r.Format != dfMP3 || ReadText(kept).substr(ReadText(kept).size() - 128, 3) != "TAG");
  if (!r.OwnCheck.empty()) RunOn(r.OwnCheck, kept);
  if (r.Format == dfWavPack)
    ExpectWavPackLength(kept, int64_t(decoded.size()) * FrameCount(signal) / int64_t(samples.size()), folder);
}

INSTANTIATE_TEST_SUITE_P(JoinableFormats, Spread, ::testing::ValuesIn(kRows),
                         [](const auto &info) { return std::string(info.param.Name); });

// Frames from the middle of a stream laid out from an empty reservoir: a frame whose main data began in the frames left
// out gets a larger frame, and the frames decode without complaint to what they decoded to before.
TEST(SpreadMP3Layout, AFrameLeaningOnFramesLeftOutGetsALargerOne) {
  const std::string folder = TestFolder(), whole = folder + "/whole.mp3", part = folder + "/part.mp3";
  const std::string source = WriteSignal(folder + "/source.wav", {.Seconds = 4, .Music = true});
  ASSERT_TRUE(ConvertFile(source, whole, dfMP3, &kMp3Cbr).empty());
  std::vector<uint8_t> bytes = ReadFileBytes(whole);
  bytes.resize(bytes.size() - 128);  // the ID3v1 tag
  const std::vector<TMP3Frame> frames = SplitMP3Frames(bytes.data(), bytes.size());
  // Past the first second, the frame with the most main data.
  size_t first = 38;
  for (size_t i = first; i < frames.size() - 10; ++i)
    if (frames[i].MainData.size() > frames[first].MainData.size()) first = i;
  std::vector<uint8_t> laid;
  TMP3Layout layout([&](const uint8_t *data, size_t size) { laid.insert(laid.end(), data, data + size); });
  for (size_t i = first; i < frames.size(); ++i) layout.Add(frames[i]);
  layout.Flush();
  EXPECT_GT(layout.Raised, 0);
  EXPECT_EQ(layout.Frames, int64_t(frames.size() - first));
  WriteFileBytes(part, laid);
  EXPECT_EQ(FFmpegComplaints(part), "");
  // Past the first two frames (the decoder's overlap), the same samples.
  const std::vector<uint8_t> before = FFmpegDecode(whole, "s16le"), after = FFmpegDecode(part, "s16le");
  const size_t tail = (frames.size() - first - 2) * 1152 * 4;
  ASSERT_GE(after.size(), tail);
  EXPECT_TRUE(std::equal(after.end() - ptrdiff_t(tail), after.end(), before.end() - ptrdiff_t(tail)));
}

// Notes dying away over 20 s after ten seconds of silence, in 16 bits (so both end in dither): spans whose encoders had
// not met the output's first sounds came out 5 % (AAC) and 6 % (Opus) larger.
TEST(SpreadSize, DecayingNotesKeepOnePieceSize) {
  const std::string folder = TestFolder();
  const struct {
    const char *Name, *Rate;
    TDestinationFormat Format;
    const void *Options;
  } rows[] = {{"opus", "48000", dfOpus, nullptr}, {"m4a", "44100", dfAAC, &kAacM4a}};
  for (const auto &r : rows) {
    const std::string source = folder + "/decaying-" + r.Name + ".wav";
    ASSERT_EQ(RunTool({"sox", "-R", "-n", "-r", r.Rate, "-c", "2", "-b", "16", source, "synth", "20", "pluck", "220",
                       "repeat", "2", "pad", "10@0"}),
              0);
    std::uintmax_t sizes[2] = {};
    for (const int32_t spanThreads : {1, 3}) {
      TFileListRec job =
          WholeSourceJob(source, folder + "/out" + std::to_string(spanThreads) + "." + r.Name, r.Format, r.Options);
      job.SpanThreads = spanThreads;
      ASSERT_TRUE(ConvertJob(job).empty());
      sizes[spanThreads > 1] = std::filesystem::file_size(job.OutputFileName);
    }
    EXPECT_NEAR(double(sizes[1]), double(sizes[0]), double(sizes[0]) * 0.005) << r.Name;
  }
}

// A spread FLAC output fails to start, and ends with no samples, as one piece does. Hybrid WavPack, AAC at a set
// bitrate and constrained-VBR Opus are one piece (their spans lose size or quality).
TEST(SpreadStart, FailuresAndNoSamplesAsInOnePiece) {
  const std::string folder = TestFolder();
  const TWavPackOptions hybrid{.Hybrid = true, .Bitrate = 320, .CorrectionFile = true};
  const TAACOptions aacBitrate{.Bitrate = 64};
  const TOpusOptions opusCvbr{.Mode = TOpusMode::CVBR};
  const std::tuple<TDestinationFormat, const char *, int32_t, const void *> onePiece[] = {
      {dfWavPack, "hybrid.wv", 44100, &hybrid}, {dfAAC, "bitrate.aac", 44100, &aacBitrate},
      {dfOpus, "cvbr.opus", 48000, &opusCvbr}};
  for (const auto &[format, name, rate, options] : onePiece)
    EXPECT_EQ(dynamic_cast<TSpreadCoder *>(
                  CreateCoder(format, folder + "/" + name, {}, PcmInfo(rate, 2, 16), options, 3).get()), nullptr)
        << name;
  const std::shared_ptr<void> defaults = FormatRow(dfFLAC)->NewOptions();
  const TFLACOptions refused{.BlockSize = 3};  // the library refuses blocks this small
  std::string errors[2];
  std::vector<uint8_t> files[2];
  for (const bool spread : {false, true}) {
    const std::unique_ptr<TCustomCoder> failing =
        CreateCoder(dfFLAC, folder + "/refused.flac", {}, PcmInfo(44100, 2, 16), &refused, spread ? 3 : 1);
    EXPECT_NE(failing->Init(errors[spread]), 0);
    EXPECT_EQ(std::string(failing->ClassName()), "TFLACCoder");
    const std::string name = folder + "/empty" + std::to_string(spread) + ".flac";
    const std::unique_ptr<TCustomCoder> coder =
        CreateCoder(dfFLAC, name, {}, PcmInfo(44100, 2, 16), defaults.get(), spread ? 3 : 1);
    std::string error;
    ASSERT_EQ(coder->Init(error), 0) << error;
    coder->Finish();
    files[spread] = ReadFileBytes(name);
  }
  EXPECT_NE(errors[0].find("Failed to initialize FLAC encoder. Code="), std::string::npos) << errors[0];
  EXPECT_EQ(errors[1], errors[0]);
  EXPECT_FALSE(files[0].empty());
  EXPECT_TRUE(files[0] == files[1]);
}

// The real FLAC joiner, but every span's encoding waits at a gate the test opens, which counts the spans reaching it.
struct TGate {
  std::mutex Lock;
  std::condition_variable Changed;
  bool Open = false;
  int Reached = 0;
  void WaitFor(int spans) {
    std::unique_lock<std::mutex> lock(Lock);
    Changed.wait(lock, [&] { return Reached >= spans; });
  }
  void Release() {
    std::lock_guard<std::mutex> lock(Lock);
    Open = true;
    Changed.notify_all();
  }
};

class TGatedJoiner final : public TSpanJoiner {
 public:
  TGatedJoiner(std::unique_ptr<TSpanJoiner> Real, TGate &Gate) : Real(std::move(Real)), Gate(Gate) {}
  const char *ClassName() const override { return Real->ClassName(); }
  int BufferSize() const override { return Real->BufferSize(); }
  int64_t Quantum() const override { return Real->Quantum(); }
  void Start() override { Real->Start(); }
  std::unique_ptr<TEncodedSpan> Encode(int64_t FirstFrame, const uint8_t *Samples, size_t Bytes,
                                       const TSpanAround &Around) const override {
    {
      std::unique_lock<std::mutex> lock(Gate.Lock);
      ++Gate.Reached;
      Gate.Changed.notify_all();
      Gate.Changed.wait(lock, [&] { return Gate.Open; });
    }
    return Real->Encode(FirstFrame, Samples, Bytes, Around);
  }
  void Append(TEncodedSpan &Span, const uint8_t *Samples, size_t Bytes) override { Real->Append(Span, Samples, Bytes); }
  void Finish() override { Real->Finish(); }

 private:
  std::unique_ptr<TSpanJoiner> Real;
  TGate &Gate;
};

class SpreadEnd : public ::testing::Test {
 protected:
  // A spread FLAC coder on two span threads, given `spans` spans of music.
  std::unique_ptr<TCustomCoder> Started(double spans) {
    Gate.Open = false;
    Gate.Reached = 0;
    Music = MakeSamples({.Seconds = spans * double(TSpreadCoder::SpanFrames) / 44100, .Music = true});
    const TAudioInfo info = PcmInfo(44100, 2, 16);
    auto coder = std::make_unique<TSpreadCoder>(
        std::make_unique<TGatedJoiner>(CreateFLACJoiner(Output, {}, info, Defaults.get()), Gate), 2, Output, TTagRec{},
        info);
    std::string error;
    EXPECT_EQ(coder->Init(error), 0) << error;
    const size_t block = size_t(coder->GetBufferSize());
    for (size_t at = 0; at < Music.size(); at += block)
      coder->DoOutput(Music.data() + at, int(std::min(block, Music.size() - at)), true);
    return coder;
  }
  void ExpectWhole() {
    EXPECT_EQ(RunTool({"flac", "-t", "-s", Output}), 0);
    EXPECT_TRUE(FFmpegDecode(Output, "s16le") == Music);
  }

  const std::shared_ptr<void> Defaults = FormatRow(dfFLAC)->NewOptions();
  const std::string Folder = TestFolder(), Output = Folder + "/out.flac";
  std::vector<uint8_t> Music;
  TGate Gate;
};

// The spans of a finished output are awaited outside the process-wide finish lock: another worker's output finishes
// meanwhile. A stopped job whose file goes encodes no span not yet begun; one whose shorter file is kept encodes all it
// was given.
TEST_F(SpreadEnd, FinishedOrStopped) {
  for (const int end : {0, 1, 2}) {  // finished, stopped, stopped with the file kept
    SCOPED_TRACE(end);
    const std::unique_ptr<TCustomCoder> coder = Started(end ? 2.5 : 1.5);
    Gate.WaitFor(end ? 2 : 1);  // stopped: both span threads busy, half a span not yet given to them
    std::thread ending([&] { EndEncoder(*coder, end > 0, end == 2); });
    if (end == 0) {
      Gate.WaitFor(2);  // the last, short span: given by the end itself
      std::unique_lock<std::mutex> second(EncoderFinishLock, std::try_to_lock);
      EXPECT_TRUE(second.owns_lock());
    }
    Gate.Release();
    ending.join();
    EXPECT_EQ(Gate.Reached, end == 2 ? 3 : 2);
    if (end != 1) ExpectWhole();
  }
}

// Every span is given the samples just around it, and the opening once it is whole: each sample here is its frame's
// index, or 0 before the sound begins; a joiner records the spans.
struct TAroundRow {
  const char *Name;
  double Spans;  // given before the end
  int64_t Lead, Trail;
  bool StopKept = false;
  int64_t Prime = 0, Sound = 0;  // the first frame that is not silent
};

struct TGiven { int64_t FirstFrame; std::vector<int32_t> Samples, Prime, Before, After; bool Last; };

class TRecordingJoiner final : public TSpanJoiner {
 public:
  TRecordingJoiner(const TAroundRow &Row, std::vector<TGiven> &Given, std::mutex &Lock)
      : Lead(Row.Lead), Trail(Row.Trail), Prime(Row.Prime), Given(Given), Lock(Lock) {}
  const char *ClassName() const override { return "TRecording"; }
  int BufferSize() const override { return 10000; }
  int64_t Quantum() const override { return 1152; }
  int64_t LeadFrames() const override { return Lead; }
  int64_t TrailFrames() const override { return Trail; }
  int64_t PrimeFrames() const override { return Prime; }
  bool Silent(const uint8_t *Samples, size_t Bytes) const override {
    return std::all_of(Samples, Samples + Bytes, [](uint8_t b) { return b == 0; });
  }
  void Start() override {}
  std::unique_ptr<TEncodedSpan> Encode(int64_t FirstFrame, const uint8_t *Samples, size_t Bytes,
                                       const TSpanAround &Around) const override {
    const auto frames = [](const uint8_t *at, size_t bytes) {
      std::vector<int32_t> v(bytes / 4);
      if (bytes) std::memcpy(v.data(), at, bytes);
      return v;
    };
    std::lock_guard<std::mutex> lock(Lock);
    Given.push_back({FirstFrame, frames(Samples, Bytes), frames(Around.Prime, Around.PrimeBytes),
                     frames(Around.Before, Around.BeforeBytes), frames(Around.After, Around.AfterBytes), Around.Last});
    return std::make_unique<TEncodedSpan>();
  }
  void Append(TEncodedSpan &, const uint8_t *, size_t) override {}
  void Finish() override {}

 private:
  const int64_t Lead, Trail, Prime;
  std::vector<TGiven> &Given;
  std::mutex &Lock;
};

class SpreadAround : public ::testing::TestWithParam<TAroundRow> {};

TEST_P(SpreadAround, EachSpanIsGivenItsNeighboursEdges) {
  const TAroundRow &r = GetParam();
  std::vector<TGiven> given;
  std::mutex lock;
  const TAudioInfo info = PcmInfo(44100, 1, 32);
  TSpreadCoder coder(std::make_unique<TRecordingJoiner>(r, given, lock), 2, "", TTagRec{}, info);
  std::string error;
  ASSERT_EQ(coder.Init(error), 0) << error;
  const auto total = int64_t(r.Spans * double(TSpreadCoder::SpanLength(1152)));
  std::vector<int32_t> samples(static_cast<size_t>(total));
  for (int64_t i = r.Sound; i < total; ++i) samples[size_t(i)] = int32_t(i);
  for (int64_t at = 0; at < total; at += 10000)
    coder.DoOutput(samples.data() + at, int(std::min<int64_t>(10000, total - at) * 4), true);
  EndEncoder(coder, r.StopKept, r.StopKept);
  std::sort(given.begin(), given.end(),
            [](const TGiven &a, const TGiven &b) { return a.FirstFrame < b.FirstFrame; });
  const auto indices = [&](int64_t from, int64_t to) {
    return std::vector<int32_t>(samples.begin() + std::clamp<int64_t>(from, 0, total),
                                samples.begin() + std::clamp<int64_t>(to, 0, total));
  };
  // From the quantum before the one the sound begins in.
  const int64_t opening = std::max<int64_t>(0, r.Sound / 1152 * 1152 - 1152);
  int64_t next = 0, primed = 0;
  for (const TGiven &g : given) {
    SCOPED_TRACE(g.FirstFrame);
    const bool whole = r.Prime > 0 && opening + r.Prime <= g.FirstFrame;
    EXPECT_TRUE(g.Prime == (whole ? indices(opening, opening + r.Prime) : std::vector<int32_t>()));
    primed += whole;
    const int64_t end = g.FirstFrame + int64_t(g.Samples.size());
    EXPECT_EQ(g.FirstFrame, next);
    EXPECT_TRUE(g.Samples == indices(g.FirstFrame, end));
    EXPECT_TRUE(g.Before == indices(g.FirstFrame - r.Lead, g.FirstFrame));
    EXPECT_TRUE(g.After == indices(end, end + r.Trail));
    EXPECT_EQ(g.Last, end == total);
    next = end;
  }
  EXPECT_EQ(next, total);
  EXPECT_EQ(primed > 0, r.Prime > 0);
}

const TAroundRow kAroundRows[] = {
    {"Middle", 2.5, 1000, 3000},                {"WholeSpans", 3, 1000, 3000},
    {"LastShorterThanTrail", 1.01, 5000, 3000}, {"OneShortSpan", 0.01, 1000, 3000},
    {"StopKept", 2.5, 1000, 3000, true},        {"NoOverlap", 2.5, 0, 0},
    {"TrailOnly", 2.5, 0, 2048},
    // The sound begins at the first frame; in the second span; in the last quantum of the second span, so that the
    // opening reaches into the third; at the third span's first frame, so that it begins with the second's last quantum.
    {"Opening", 2.5, 1000, 3000, false, 4 * 1152, 0},
    {"OpeningAfterSilence", 3.5, 1000, 3000, false, 4 * 1152, TSpreadCoder::SpanLength(1152) + 3 * 1152 + 5},
    {"OpeningAcrossSpans", 4.5, 1000, 3000, false, 4 * 1152, 2 * TSpreadCoder::SpanLength(1152) - 7},
    {"OpeningAtSpanStart", 4.5, 1000, 3000, true, 4 * 1152, 2 * TSpreadCoder::SpanLength(1152)},
};
INSTANTIATE_TEST_SUITE_P(Rows, SpreadAround, ::testing::ValuesIn(kAroundRows),
                         [](const auto &info) { return std::string(info.param.Name); });

TEST(SpreadFailure, FullDiskFailsTheJobAndLeavesNothing) {
  const std::string folder = TestFolder(), output = folder + "/full.ape";
  TFileListRec job = WholeSourceJob(
      WriteSignal(folder + "/source.wav", {.Seconds = 3.5 * double(TSpreadCoder::SpanFrames) / 44100, .Music = true}),
      output, dfAPE, nullptr);
  job.SpanThreads = 2;
  const TFileSizeLimit limit(300000);
  const std::vector<TThreadErrorRec> errors = ConvertJob(job);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].ErrorMessage.find("File too large"), std::string::npos) << errors[0].ErrorMessage;
  EXPECT_FALSE(std::filesystem::exists(output));
}

}  // namespace
