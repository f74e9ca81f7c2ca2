// SPDX-License-Identifier: GPL-3.0-or-later
// One job on its own worker: samples, progress, damaged sources, failures that leave nothing behind; resampling
// and remixing; verifying lossless outputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "base/texts.h"
#include "encoders/flac/flac_format.h"
#include "encoders/format.h"
#include "engine/coder_thread.h"
#include "engine/output_verifier.h"
#include "engine/partial_output.h"
#include "engine/resampler.h"
#include "platform/main_thread/main_thread.h"
#include "test_support.h"

namespace {

struct TJobResult {
  std::vector<TProgressRec> Progress;
  std::vector<TThreadErrorRec> Errors;
  std::vector<TThreadWarningRec> Warnings;
  int Finished = 0;
  bool ProgressOnMainThread = true;
};

TJobResult RunJob(TFileListRec job) {
  StartBass();
  TJobResult result;
  job.OnWarning = [&](const TThreadWarningRec &w) { result.Warnings.push_back(w); };
  TCoderThread worker(0, 1, job,
      [&](const TProgressRec &p) {
        result.ProgressOnMainThread &= MainThreadPump().IsMainThread();
        result.Progress.push_back(p);
      },
      [&](int32_t slot) { result.Finished += slot == 0 ? 1 : 100; },
      [&](int32_t, const TThreadErrorRec &e) { result.Errors.push_back(e); });
  worker.Resume();
  worker.WaitFor();
  return result;
}

// A FLAC source reaches a WAV output at its own depth and channels, sample for
// sample, the job's progress rising to 100 on the main thread.
TEST(CoderThread, ProgressRisesOnTheMainThreadToTheWholeOutput) {
  const std::string folder = TestFolder();
  const TTestSignal signal{.Channels = 6, .Bits = 24, .Seconds = 1.3};
  const std::string source = WriteSignal(folder + "/source.flac", signal);
  TFileListRec job = WholeSourceJob(source, folder + "/out.wav", dfWAV, nullptr);
  job.JobNumber = 2;
  job.JobCount = 5;
  const TJobResult r = RunJob(job);
  ASSERT_TRUE(r.Errors.empty()) << r.Errors[0].ErrorMessage;
  ASSERT_GT(r.Progress.size(), 3u);
  for (size_t i = 1; i < r.Progress.size(); ++i) EXPECT_GE(r.Progress[i].Percent, r.Progress[i - 1].Percent);
  const TProgressRec &last = r.Progress.back();
  EXPECT_EQ(std::tuple(r.Finished, r.ProgressOnMainThread, last.Percent, last.JobNumber, last.JobCount, last.Stage,
                       last.InputFileName), std::tuple(1, true, 100, 2, 5, stWholeSource, source));
  EXPECT_NEAR(last.Duration, 1.3, 0.001);
  EXPECT_EQ(ProbeStream(job.OutputFileName, "bits_per_sample,channels"), "6,24\n");
  EXPECT_TRUE(FFmpegDecode(job.OutputFileName, "s24le") == MakeSamples(signal));
}

// A track of a source cut in half converts as far as it decodes and says how much it got; damage before a track (AAC
// tracks are reached by decoding from the start) is not the track's.
TEST(CoderThread, ADamagedSourcesTrackConvertsWhatItHoldsAndSaysSo) {
  const std::string folder = TestFolder();
  const std::string cut = CutInHalf(WriteSignal(folder + "/cut.flac", {.Seconds = 3}));
  const std::string scrambled = folder + "/scrambled.m4a";
  const double held = double(FFmpegDecode(cut, "s16le").size()) / 4 / 44100;
  ASSERT_GT(held, 1.1);
  std::vector<uint8_t> bytes = ReadFileBytes(WriteSignal(folder + "/good.m4a", {.Seconds = 4, .Music = true}));
  for (size_t i = bytes.size() / 5; i < bytes.size() / 5 + 512; ++i) bytes[i] ^= 0x5a;
  WriteFileBytes(scrambled, bytes);
  for (const auto &[source, start, converted] : {std::tuple{cut, 1.0, held - 1.0}, {scrambled, 2.5, -1.0}}) {
    SCOPED_TRACE(source);
    const TSourceGuard guard({source});
    TFileListRec job = WholeSourceJob(source, folder + "/out.wav", dfWAV, nullptr);
    job.IsTrack = true;
    job.Start = start;
    job.Length = int64_t(1.5 * 44100);
    const TJobResult r = RunJob(job);
    EXPECT_TRUE(r.Errors.empty()) << r.Errors[0].ErrorMessage;
    EXPECT_EQ(r.Finished, 1);
    ASSERT_EQ(r.Warnings.size(), converted < 0 ? 0u : 1u);
    if (converted < 0) continue;
    const TThreadWarningRec &w = r.Warnings[0];
    const double got = double(FFmpegDecode(job.OutputFileName, "s16le").size()) / 4 / 44100;
    EXPECT_NEAR(got, converted, 0.01 * held);
    EXPECT_EQ(std::tuple(w.InputFileName, w.OutputFileName, w.IsTrack, w.EndMissing),
              std::tuple(source, job.OutputFileName, true, true));
    EXPECT_NEAR(w.DecodedSeconds, got, 1.0 / 44100);
    EXPECT_NEAR(w.ExpectedSeconds, 1.5, 1.0 / 44100);
  }
}

// A job that cannot run reports one error with its text and where it stopped, ends as finished, and leaves no output.
TEST(CoderThread, AJobThatCannotRunReportsItsErrorAndLeavesNoOutput) {
  const std::string folder = TestFolder();
  const std::string source = WriteSignal(folder + "/source.flac", TTestSignal{});
  const std::string missingFolder = folder + "/no/such/folder/out.wav";
  const struct {
    std::function<void(TFileListRec &)> Change;
    std::string Message, LastCall;
    int ErrorCode;
  } rows[] = {
      {[&](TFileListRec &job) { job.SourceFileName = folder + "/vanished.wav"; }, "BASS_StreamCreateFile 2", "", 0},
      {[&](TFileListRec &job) { job.OutputFileName = missingFolder; },
       FormatText(text_failed_to_init_encoder, "TWAVCoder\r\n\"CreateFileStream (step1) : Cannot create file \"" +
                                                   missingFolder + "\". No such file or directory\""),
       "TWAVCoder.Init", 1},
      {[](TFileListRec &job) { job.Start = 5.0, job.IsTrack = true; }, "BASS_ChannelSetPosition 7", "", 0},
      {[](TFileListRec &job) { job.DestinationFormat = 42; }, "Assert failed : FCoder = nil", "", 0},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.Message);
    TFileListRec job = WholeSourceJob(source, folder + "/out.wav", dfWAV, nullptr);
    row.Change(job);
    const TJobResult r = RunJob(job);
    ASSERT_EQ(r.Errors.size(), 1u);
    EXPECT_EQ(std::tuple(r.Errors[0].ErrorMessage, r.Errors[0].LastCall, r.Errors[0].ErrorCode, r.Finished),
              std::tuple(row.Message, row.LastCall, row.ErrorCode, 1));
    EXPECT_FALSE(fs::exists(job.OutputFileName) || fs::exists(PartialFileName(job.OutputFileName)));
  }
}

// The tone's frequency from the upward zero crossings of the first channel.
double MeasuredTone(const std::vector<double> &samples, int channels, int rate) {
  int crossings = 0;
  int64_t first = -1, last = -1;
  for (size_t i = size_t(channels); i < samples.size(); i += size_t(channels))
    if (samples[i - size_t(channels)] < 0 && samples[i] >= 0) {
      ++crossings;
      last = int64_t(i / size_t(channels));
      first = first < 0 ? last : first;
    }
  return crossings > 1 ? (crossings - 1) * double(rate) / double(last - first) : 0;
}

TEST(Resample, OutputHasTheAskedRateChannelsLengthAndPitch) {
  const struct {
    const char *Name;
    int SourceRate, SourceChannels;
    const char *SourceCodec;
    TDestinationFormat Format;
    bool Resample;
    int ResampleTo, Channels;  // as stored
    double Start;              // >= 0: a track of the source, a second long
    int OutRate, OutChannels;  // what the output must hold
  } rows[] = {
      {"StereoTo48kMonoFlac", 44100, 2, "pcm_s24le", dfFLAC, true, 48000, 1, -1, 48000, 1},
      {"MonoToStereoKeepRateWav", 22050, 1, "pcm_s16le", dfWAV, false, 44100, 2, -1, 22050, 2},
      {"SixToStereoDownTo8kWav", 48000, 6, "pcm_s16le", dfWAV, true, 8000, 2, -1, 8000, 2},
      {"TrackOfASourceTo32k", 44100, 2, "pcm_s16le", dfWAV, true, 32000, 0, 1.0, 32000, 2},
      // Nothing new asked (off, or the source's own rate and channels): a lossless output is bit-exact.
      {"NothingAskedFlac", 44100, 2, "pcm_s16le", dfFLAC, false, 48000, 0, -1, 44100, 2},
      {"OwnRateAndChannelsFlac", 44100, 2, "pcm_s16le", dfFLAC, true, 44100, 2, -1, 44100, 2},
  };
  for (const auto &c : rows) {
    SCOPED_TRACE(c.Name);
    const std::string folder = TestFolder(), source = folder + "/tone.wav";
    ASSERT_EQ(RunTool({"ffmpeg", "-v", "error", "-f", "lavfi", "-i",
                       "sine=frequency=1000:sample_rate=" + std::to_string(c.SourceRate) + ":duration=3", "-ac",
                       std::to_string(c.SourceChannels), "-c:a", c.SourceCodec, source}), 0);
    const std::string output = folder + "/out." + FormatRow(c.Format)->Extension;
    TFLACOptions flac;
    TFileListRec job = WholeSourceJob(source, output, c.Format, c.Format == dfFLAC ? &flac : nullptr);
    job.PreprocessOptions.Resample = c.Resample;
    job.PreprocessOptions.ResampleTo = c.ResampleTo;
    job.PreprocessOptions.Channels = c.Channels;
    job.Start = c.Start;
    job.IsTrack = c.Start >= 0;
    job.Length = job.IsTrack ? c.SourceRate : LengthToEnd;
    const auto errors = ConvertJob(job);
    ASSERT_TRUE(errors.empty()) << errors[0].ErrorMessage;
    EXPECT_EQ(ProbeStream(output, "sample_rate,channels"),
              std::to_string(c.OutRate) + "," + std::to_string(c.OutChannels) + "\n");
    const std::vector<double> samples = AsSamples(FFmpegDecode(output, "s16le"), 16);
    const double seconds = c.Start >= 0 ? 1 : 3;
    EXPECT_NEAR(double(samples.size()) / c.OutChannels, seconds * c.OutRate, seconds) << "frames";
    EXPECT_NEAR(MeasuredTone(samples, c.OutChannels, c.OutRate), 1000, 1.0);
    if (c.OutRate == c.SourceRate) {  // the source's samples; an up-mix copies its one channel
      const std::vector<double> in = AsSamples(FFmpegDecode(source, "s16le"), 16);
      const size_t outChannels = size_t(c.OutChannels), inChannels = size_t(c.SourceChannels);
      ASSERT_EQ(samples.size() * inChannels, in.size() * outChannels);
      for (size_t i = 0; i < samples.size(); ++i)
        ASSERT_EQ(samples[i], in[i / outChannels * inChannels + i % outChannels % inChannels]) << i;
    }
    // Resampled and dithered alike on every run.
    job.OutputFileName = folder + "/again." + FormatRow(c.Format)->Extension;
    ASSERT_TRUE(ConvertJob(job).empty());
    EXPECT_TRUE(FFmpegDecode(job.OutputFileName, "s16le") == FFmpegDecode(output, "s16le")) << "another output";
  }
}

// A rate a format cannot hold comes down within its family, or to the limit.
TEST(Resample, RateWithinTheHighestOfTheSourcesFamilyThatFits) {
  const int32_t rows[][3] = {{352800, 0, 352800},      {352800, 96000, 88200}, {352800, 48000, 44100},  // rate, limit
                             {705600, 655350, 352800}, {192000, 96000, 96000}, {384000, 48000, 48000},
                             {100000, 96000, 96000},   {22050, 48000, 22050},  {96000, 44100, 44100}};
  for (const auto &[rate, limit, within] : rows)
    EXPECT_EQ(RateWithin(rate, limit), within) << rate << " within " << limit;
}


TSampleHash HashOf(const std::vector<uint8_t> &bytes, size_t cut = 0) {
  TSampleHash hash;
  hash.Add(bytes.data(), cut);  // the same stream in two uneven blocks
  hash.Add(bytes.data() + cut, bytes.size() - cut);
  return hash;
}

// The message of VerifyOutput's failure; "" when it passes.
std::string Verdict(const std::string &file, TDestinationFormat format, int bits, const TSampleHash &given,
                    const std::function<bool()> &stopped = {}) {
  try {
    VerifyOutput(file, "/music/out.x", format, bits, given, stopped);
    return "";
  } catch (const std::exception &e) {
    return e.what();
  }
}

TEST(OutputVerifier, HashIsTheSameHoweverTheStreamIsCutAndNothingElse) {
  const std::vector<uint8_t> bytes = MakeSamples({.Seconds = 0.01});
  const TSampleHash whole = HashOf(bytes);
  for (size_t cut : {size_t(1), size_t(7), size_t(13), bytes.size() - 3}) EXPECT_TRUE(HashOf(bytes, cut) == whole);
  std::vector<uint8_t> flipped = bytes, longer = bytes;
  flipped[bytes.size() / 2] ^= 1;
  longer.push_back(0);
  EXPECT_FALSE(HashOf(flipped) == whole || HashOf(longer) == whole);
}

// Each output, made by the program's own encoder from a source whose samples reach the encoder unchanged, verifies
// against the generated samples (under a hidden name too); a few bytes flipped in its middle, or its last quarter cut
// off, fail it with a message naming the output.
TEST(OutputVerifier, PassesWholeOutputsAndCatchesSpoiledOnes) {
  const std::string folder = TestFolder();
  // Every lossless format: 16-bit stereo, 24 bits on as many channels as it takes up to six, and floats where they
  // reach its encoder as floats.
  for (const TFormatRow *f : FormatRows()) {
    if (!f->Lossless || !f->Lossless(nullptr)) continue;
    const std::shared_ptr<void> options = f->NewOptions();
    const TEncoderRange takes = f->Takes ? f->Takes(options.get()) : TEncoderRange{};
    for (const auto &[bits, channels] : {std::pair{16, 2}, {24, takes.MaxChannels ? std::min(6, takes.MaxChannels) : 6},
                                         {32, 2}}) {
      if (bits == 32 && f->Samples.FromFloat != 32) continue;
      const std::string name = f->Name + std::to_string(bits);
      SCOPED_TRACE(name);
      const TTestSignal signal{.Channels = channels, .Bits = bits, .Seconds = 1.5};
      const std::string source = WriteSignal(folder + "/s" + name + ".wav", signal, {"-c:a", "pcm_" + RawFormat(bits)});
      const std::string output = folder + "/" + name + "." + f->Extension;
      const auto errors = ConvertFile(source, output, f->Code, options.get());
      ASSERT_TRUE(errors.empty()) << errors[0].ErrorMessage;
      const TSampleHash given = HashOf(MakeSamples(signal), 1001);
      const std::string hidden = folder + "/." + name + ".tonmill-part";
      std::filesystem::copy_file(output, hidden);
      EXPECT_EQ(Verdict(hidden, f->Code, bits, given), "");
      int blocks = 0;  // a check stopped half-way passes nothing
      EXPECT_NE(Verdict(hidden, f->Code, bits, given, [&blocks] { return ++blocks > 2; }), "");
      for (const bool cut : {false, true}) {
        std::vector<uint8_t> bytes = ReadFileBytes(output);
        for (size_t i = bytes.size() / 2; i < bytes.size() / 2 + 4; ++i) bytes[i] ^= 0x5A;
        if (cut) bytes = ReadFileBytes(output), bytes.resize(bytes.size() * 3 / 4);
        WriteFileBytes(hidden, bytes);
        const std::string verdict = Verdict(hidden, f->Code, bits, given);
        EXPECT_EQ(verdict.rfind("Verification failed: \"/music/out.x\" ", 0), 0u) << verdict;
      }
    }
  }
}

}  // namespace
