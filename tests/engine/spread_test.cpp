// SPDX-License-Identifier: GPL-3.0-or-later
// One output encoded in spans on several threads and joined. Every row
// converts the same music twice, once in one piece and once spread over three
// span threads (with verification on), and checks the joined file against
// the one-piece file (the same bytes where the format allows), against the
// source through an independent decoder, and with the format's own tool.
// The sources run three and a half spans, so the last span is a short one.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include "encoders/ape/ape_format.h"
#include "encoders/flac/flac_format.h"
#include "encoders/flac/flac_joiner.h"
#include "encoders/format.h"
#include "encoders/span_join.h"
#include "encoders/wavpack/wavpack_format.h"
#include "test_support.h"

namespace {

struct TSpreadRow {
  const char *Name;
  TDestinationFormat Format;
  int Bits, Channels, Rate;
  const void *Options;  // null: the format's defaults
  bool SameBytes;       // the joined file is the one-piece file, byte for byte
  // The format's own check of the output ({} for none); "{}" stands for the file.
  std::vector<std::string> OwnCheck;
  // A tool's report on the file that must read the same for the joined file
  // as for the one-piece file ({} for none).
  std::vector<std::string> SameReport = {};
  // Also stopped half-way with its shorter file kept (one row per joiner).
  bool Stop = false;
};

const TAPEOptions kApeFast{.Compression = 1};

TFLACOptions FLACLevel(int level, void (*apply)(int, TFLACOptions &)) {
  TFLACOptions o;
  apply(level, o);
  return o;
}
// Level 8 searches the most; the dialog's level 2 has blocks of 1152, which
// no span length divides by a power of two; level 6 adapts mid-side stereo,
// a choice the library carries over from frame to frame.
const TFLACOptions kFlacBest = FLACLevel(8, &ApplyFLACCommandLineLevel),
                   kFlac1152 = FLACLevel(2, &ApplyFLACDialogLevel),
                   kFlacAdaptive = FLACLevel(6, &ApplyFLACCommandLineLevel);
// What the dialog offers beyond the streamable subset at 48 kHz and below.
const TFLACOptions kFlacBeyondSubset{.MaxLpcOrder = 32, .MaxResidualPartitionOrder = 15, .BlockSize = 16384};
const std::vector<std::string> kFlacTest = {"flac", "-t", "-s", "{}"};
const TWavPackOptions kWvFast{.Compression = 0}, kWvVeryHigh{.Compression = 2};
const std::vector<std::string> kWvUnpack = {"wvunpack", "-vq", "{}"};

std::ostream &operator<<(std::ostream &os, const TSpreadRow &r) { return os << r.Name; }

const TSpreadRow kRows[] = {
    {"ape16", dfAPE, 16, 2, 44100, nullptr, true, {}, {}, true},
    {"ape24Mono", dfAPE, 24, 1, 48000, &kApeFast, true, {}},
    {"flac16", dfFLAC, 16, 2, 44100, nullptr, true, kFlacTest},
    {"flac24Mono96k", dfFLAC, 24, 1, 96000, &kFlacBest, true, kFlacTest, {}, true},
    {"flacBlock1152", dfFLAC, 16, 2, 44100, &kFlac1152, true, kFlacTest},
    {"flacBeyondSubset", dfFLAC, 16, 2, 44100, &kFlacBeyondSubset, true, kFlacTest},
    {"flacAdaptiveMidSide", dfFLAC, 16, 2, 44100, &kFlacAdaptive, false, kFlacTest,
     {"metaflac", "--show-md5sum", "--show-total-samples", "--show-min-framesize", "--show-max-framesize", "{}"}},
    // A span's filters start afresh: other bytes, the same samples.
    {"wv16", dfWavPack, 16, 2, 44100, nullptr, false, kWvUnpack, {}, true},
    {"wv24Mono96kFast", dfWavPack, 24, 1, 96000, &kWvFast, false, kWvUnpack},
    {"wvFloat4chVeryHigh", dfWavPack, 32, 4, 48000, &kWvVeryHigh, false, kWvUnpack},
    {"wv8Mono", dfWavPack, 8, 1, 44100, nullptr, false, kWvUnpack},
};

std::vector<std::string> WithFile(std::vector<std::string> command, const std::string &file) {
  for (std::string &arg : command)
    if (arg == "{}") arg = file;
  return command;
}

// What the first block of a WavPack file states: its sample count, and in
// the WAV header stored there (as wvunpack restores it) the RIFF and data
// lengths, which must match the file wvunpack writes.
void ExpectWavPackLength(const std::string &file, int64_t frames, const std::string &folder) {
  const std::vector<uint8_t> bytes = ReadFileBytes(file);
  ASSERT_GT(bytes.size(), 32u);
  EXPECT_EQ(int64_t(ReadLE(bytes, 12, 4) | ReadLE(bytes, 11, 1) << 32), frames);
  const std::string wav = folder + "/restored.wav";
  ASSERT_EQ(RunTool({"wvunpack", "-q", "-y", file, "-o", wav}), 0);
  const std::vector<uint8_t> restored = ReadFileBytes(wav);
  ASSERT_GT(restored.size(), 44u);
  EXPECT_EQ(ReadLE(restored, 4, 4), restored.size() - 8);
  const auto data = std::search(restored.begin(), restored.begin() + 100, std::begin("data"), std::end("data") - 1);
  ASSERT_NE(data, restored.begin() + 100);
  const size_t at = size_t(data - restored.begin()) + 4;
  EXPECT_EQ(ReadLE(restored, at, 4), restored.size() - at - 4);
}

class Spread : public ::testing::TestWithParam<TSpreadRow> {
 protected:
  void SetUp() override {
    const TSpreadRow &r = GetParam();
    Row = FormatRow(r.Format);
    Defaults = Row->NewOptions();
    Options = r.Options ? r.Options : Defaults.get();
    TTestSignal signal{.Rate = r.Rate, .Channels = r.Channels, .Bits = r.Bits};
    signal.Seconds = 3.5 * double(TSpreadCoder::SpanFrames) / r.Rate;
    Folder = TestFolder();
    Frames = FrameCount(signal);
    signal.Music = true;
    Source = WriteSignal(Folder + "/source.wav", signal,
                        {"-c:a", r.Bits == 8    ? "pcm_u8"
                                 : r.Bits == 24 ? "pcm_s24le"
                                 : r.Bits == 32 ? "pcm_f32le"
                                                : "pcm_s16le"});
    Raw = RawFormat(r.Bits == 32 ? 32 : r.Bits);
  }
  std::string Output(const char *name) const { return Folder + "/" + name + "." + Row->Extension; }
  TFileListRec Job(const std::string &output, int32_t spanThreads) const {
    TFileListRec job = WholeSourceJob(Source, output, GetParam().Format, Options);
    job.SpanThreads = spanThreads;
    return job;
  }

  const TFormatRow *Row = nullptr;
  std::shared_ptr<void> Defaults;
  const void *Options = nullptr;
  std::string Folder, Source, Raw;
  int64_t Frames = 0;
};

TEST_P(Spread, JoinedOutputIsTheOnePieceOutput) {
  const TSpreadRow &r = GetParam();
  // The format really spreads: no quiet fall-back to one piece.
  const std::unique_ptr<TCustomCoder> coder =
      CreateCoder(r.Format, Output("probe"), {}, PcmInfo(r.Rate, r.Channels, r.Bits), Options, 3);
  ASSERT_NE(dynamic_cast<TSpreadCoder *>(coder.get()), nullptr);

  const std::string whole = Output("whole"), spread = Output("spread");
  auto errors = ConvertJob(Job(whole, 1));
  ASSERT_TRUE(errors.empty()) << errors[0].ErrorMessage;
  std::atomic<int32_t> verified = 0;
  TFileListRec job = Job(spread, 3);
  job.Verify = true;
  job.Verified = &verified;
  errors = ConvertJob(job);
  ASSERT_TRUE(errors.empty()) << errors[0].ErrorMessage;
  EXPECT_EQ(verified, 1);

  if (r.SameBytes) {
    EXPECT_TRUE(ReadFileBytes(whole) == ReadFileBytes(spread));
  }
  EXPECT_TRUE(FFmpegDecode(spread, Raw) == FFmpegDecode(Source, Raw));
  if (!r.OwnCheck.empty()) {
    std::string out, err;
    EXPECT_EQ(RunTool(WithFile(r.OwnCheck, spread), &out, &err), 0) << err;
  }
  if (!r.SameReport.empty()) {
    std::string wholeReport, spreadReport;
    ASSERT_EQ(RunTool(WithFile(r.SameReport, whole), &wholeReport), 0);
    ASSERT_EQ(RunTool(WithFile(r.SameReport, spread), &spreadReport), 0);
    EXPECT_EQ(spreadReport, wholeReport);
  }
  if (r.Format == dfWavPack) ExpectWavPackLength(spread, Frames, Folder);
  if (!r.Stop) return;
  // Stopped, its shorter file kept: it holds everything read before the stop
  // (half the source, at least), in a valid file that begins exactly as the source does.
  const std::string kept = Output("kept");
  job = Job(kept, 3);
  job.KeepPartial = true;
  ConvertJob(job, [](TCoderThread &worker, const TProgressRec &p) {
    if (p.Percent >= 50) worker.Terminate();
  });
  const std::vector<uint8_t> decoded = FFmpegDecode(kept, Raw), source = FFmpegDecode(Source, Raw);
  EXPECT_GE(decoded.size() * 2, source.size());
  EXPECT_LT(decoded.size(), source.size());
  EXPECT_TRUE(std::equal(decoded.begin(), decoded.end(), source.begin()));
  if (!r.OwnCheck.empty()) {
    EXPECT_EQ(RunTool(WithFile(r.OwnCheck, kept)), 0);
  }
  if (r.Format == dfWavPack) ExpectWavPackLength(kept, int64_t(decoded.size()) * Frames / int64_t(source.size()), Folder);
}

INSTANTIATE_TEST_SUITE_P(JoinableFormats, Spread, ::testing::ValuesIn(kRows),
                         [](const auto &info) { return std::string(info.param.Name); });

// A spread FLAC output fails to start, and ends with no samples, as one
// piece does; hybrid WavPack (with its correction file) is one piece.
TEST(SpreadStart, FailuresAndNoSamplesAsInOnePiece) {
  const std::string folder = TestFolder();
  const TWavPackOptions hybrid{.Hybrid = true, .Bitrate = 320, .CorrectionFile = true};
  EXPECT_EQ(dynamic_cast<TSpreadCoder *>(
                CreateCoder(dfWavPack, folder + "/hybrid.wv", {}, PcmInfo(44100, 2, 16), &hybrid, 3).get()), nullptr);
  const std::shared_ptr<void> defaults = FormatRow(dfFLAC)->NewOptions();
  TFLACOptions refused;
  refused.BlockSize = 3;  // the library refuses blocks this small
  std::string errors[2];
  std::vector<uint8_t> files[2];
  for (int32_t threads : {1, 3}) {
    const bool spread = threads > 1;
    const std::unique_ptr<TCustomCoder> failing =
        CreateCoder(dfFLAC, folder + "/refused.flac", {}, PcmInfo(44100, 2, 16), &refused, threads);
    EXPECT_NE(failing->Init(errors[spread]), 0);
    EXPECT_EQ(std::string(failing->ClassName()), "TFLACCoder");

    const std::string name = folder + "/empty" + std::to_string(threads) + ".flac";
    const std::unique_ptr<TCustomCoder> coder =
        CreateCoder(dfFLAC, name, {}, PcmInfo(44100, 2, 16), defaults.get(), threads);
    EXPECT_EQ(dynamic_cast<TSpreadCoder *>(coder.get()) != nullptr, spread);
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

// The real FLAC joiner, but every span's encoding waits at a gate the test
// opens; the gate counts the spans that reached it.
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
  int Start(std::string &ErrorText) override { return Real->Start(ErrorText); }
  std::unique_ptr<TEncodedSpan> Encode(int64_t FirstFrame, const uint8_t *Samples, size_t Bytes) const override {
    {
      std::unique_lock<std::mutex> lock(Gate.Lock);
      ++Gate.Reached;
      Gate.Changed.notify_all();
      Gate.Changed.wait(lock, [&] { return Gate.Open; });
    }
    return Real->Encode(FirstFrame, Samples, Bytes);
  }
  void Append(TEncodedSpan &Span, const uint8_t *Samples, size_t Bytes) override { Real->Append(Span, Samples, Bytes); }
  void Finish() override { Real->Finish(); }

 private:
  std::unique_ptr<TSpanJoiner> Real;
  TGate &Gate;
};

class SpreadEnd : public ::testing::Test {
 protected:
  // A spread FLAC coder on two span threads, given Spans spans of music.
  std::unique_ptr<TCustomCoder> Started(double Spans) {
    Music = MakeSamples({.Seconds = Spans * double(TSpreadCoder::SpanFrames) / 44100, .Music = true});
    const TAudioInfo info = PcmInfo(44100, 2, 16);
    auto coder = std::make_unique<TSpreadCoder>(
        std::make_unique<TGatedJoiner>(CreateFLACJoiner(Output, info, Defaults.get()), Gate), 2, Output, TTagRec{},
        info);
    std::string error;
    EXPECT_EQ(coder->Init(error), 0) << error;
    const size_t block = size_t(coder->GetBufferSize());
    for (size_t at = 0; at < Music.size(); at += block)
      coder->DoOutput(Music.data() + at, int(std::min(block, Music.size() - at)), true);
    return coder;
  }

  const std::shared_ptr<void> Defaults = FormatRow(dfFLAC)->NewOptions();
  const std::string Folder = TestFolder(), Output = Folder + "/out.flac";
  std::vector<uint8_t> Music;
  TGate Gate;
};

// While a spread job waits for its last spans, another worker's finish goes
// through: the spans are awaited outside the process-wide finish lock.
TEST_F(SpreadEnd, AnotherWorkersFinishIsNotHeldByTheSpans) {
  const std::unique_ptr<TCustomCoder> coder = Started(1.5);
  Gate.WaitFor(1);
  std::thread ending([&] { EndEncoder(*coder, false, false); });
  Gate.WaitFor(2);  // the last, short span: given by the end itself
  std::unique_lock<std::mutex> second(EncoderFinishLock, std::try_to_lock);
  EXPECT_TRUE(second.owns_lock());
  if (second.owns_lock()) {
    second.unlock();
    const std::string wav = Folder + "/other.wav";
    const std::unique_ptr<TCustomCoder> other = CreateCoder(dfWAV, wav, {}, PcmInfo(44100, 2, 16), nullptr, 1);
    std::string error;
    ASSERT_EQ(other->Init(error), 0) << error;
    other->DoOutput(Music.data(), 4096, true);
    EndEncoder(*other, false, false);
    EXPECT_EQ(FFmpegDecode(wav, "s16le"), std::vector<uint8_t>(Music.begin(), Music.begin() + 4096));
  }
  Gate.Release();
  ending.join();
  EXPECT_EQ(RunTool({"flac", "-t", "-s", Output}), 0);
  EXPECT_TRUE(FFmpegDecode(Output, "s16le") == Music);
}

// A stopped job whose file goes encodes nothing more than the spans already
// begun; one whose shorter file is kept encodes all it was given.
TEST_F(SpreadEnd, AStopDropsTheSpansNotBegunUnlessTheFileIsKept) {
  for (const bool keep : {false, true}) {
    SCOPED_TRACE(keep ? "kept" : "not kept");
    Gate.Open = false;
    Gate.Reached = 0;
    const std::unique_ptr<TCustomCoder> coder = Started(2.5);
    Gate.WaitFor(2);  // both span threads busy, half a span not yet given to them
    std::thread ending([&] { EndEncoder(*coder, true, keep); });
    Gate.Release();
    ending.join();
    EXPECT_EQ(Gate.Reached, keep ? 3 : 2);
    if (keep) {
      EXPECT_EQ(RunTool({"flac", "-t", "-s", Output}), 0);
      EXPECT_TRUE(FFmpegDecode(Output, "s16le") == Music);
    }
  }
}

// A spread job whose output cannot be written fails as a one-piece job does,
// and leaves nothing under the output's name.
TEST(SpreadFailure, FullDiskFailsTheJobAndLeavesNothing) {
  const std::string folder = TestFolder();
  const std::string source =
      WriteSignal(folder + "/source.wav", {.Seconds = 3.5 * double(TSpreadCoder::SpanFrames) / 44100, .Music = true});
  const std::string output = folder + "/full.ape";
  TFileListRec job = WholeSourceJob(source, output, dfAPE, nullptr);
  job.SpanThreads = 2;
  std::vector<TThreadErrorRec> errors;
  {
    const TFileSizeLimit limit(300000);
    errors = ConvertJob(job);
  }
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].ErrorMessage.find("File too large"), std::string::npos) << errors[0].ErrorMessage;
  EXPECT_FALSE(std::filesystem::exists(output));
}

}  // namespace
