// SPDX-License-Identifier: GPL-3.0-or-later
// One job on its own worker: the right samples in the right format, progress,
// damaged sources, and failures that leave nothing broken behind.
#include <gtest/gtest.h>

#include <filesystem>

#include "base/texts.h"
#include "engine/coder_thread.h"
#include "engine/partial_output.h"
#include "platform/main_thread/main_thread.h"
#include "test_support.h"

namespace fs = std::filesystem;

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
  TCoderThread worker(
      0, 1, job,
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

struct TDepthRow {
  const char *Name, *Ext, *Codec;
  int Bits, Channels, OutputBits;  // what the WAV output holds
  double Level = 0.9;
};

class CoderThreadDepths : public ::testing::TestWithParam<TDepthRow> {};

// Sources reach a WAV output at their own depth (8 bits as 16, floats past
// full scale as they are), sample for sample, with the job's progress
// rising to 100 on the main thread.
TEST_P(CoderThreadDepths, WavOutputHoldsTheSourceSamples) {
  const TDepthRow &c = GetParam();
  const std::string folder = TestFolder();
  const TTestSignal signal{.Channels = c.Channels, .Bits = c.Bits, .Seconds = 1.3, .Level = c.Level};
  const std::string source = WriteSignal(folder + "/source." + c.Ext, signal, {"-c:a", c.Codec});
  TFileListRec job = WholeSourceJob(source, folder + "/out.wav", dfWAV, nullptr);
  job.JobNumber = 2;
  job.JobCount = 5;
  const TJobResult r = RunJob(job);
  ASSERT_TRUE(r.Errors.empty()) << r.Errors[0].ErrorMessage;
  EXPECT_EQ(r.Finished, 1);
  ASSERT_GT(r.Progress.size(), 3u);
  EXPECT_TRUE(r.ProgressOnMainThread);
  for (size_t i = 1; i < r.Progress.size(); ++i) EXPECT_GE(r.Progress[i].Percent, r.Progress[i - 1].Percent);
  const TProgressRec &last = r.Progress.back();
  EXPECT_EQ(std::vector<int>({last.Percent, last.JobNumber, last.JobCount, last.Stage}),
            std::vector<int>({100, 2, 5, stWholeSource}));
  EXPECT_EQ(last.InputFileName, source);
  EXPECT_NEAR(last.Duration, 1.3, 0.001);
  EXPECT_EQ(ProbeStream(job.OutputFileName, "bits_per_sample,channels"),
            std::to_string(c.Channels) + "," + std::to_string(c.OutputBits) + "\n");
  EXPECT_TRUE(AsSamples(FFmpegDecode(job.OutputFileName, RawFormat(c.OutputBits)), c.OutputBits) ==
              AsSamples(MakeSamples(signal), c.Bits));
}

INSTANTIATE_TEST_SUITE_P(Sources, CoderThreadDepths,
                         ::testing::Values(TDepthRow{"wav8_mono", "wav", "pcm_u8", 8, 1, 16},
                                           TDepthRow{"flac16_6ch", "flac", "flac", 16, 6, 16},
                                           TDepthRow{"flac24_stereo", "flac", "flac", 24, 2, 24},
                                           TDepthRow{"tta24_6ch", "tta", "tta", 24, 6, 24},
                                           TDepthRow{"wav_float_loud", "wav", "pcm_f32le", 32, 2, 32, 1.7},
                                           TDepthRow{"wav_float_8ch", "wav", "pcm_f32le", 32, 8, 32}),
                         [](const auto &info) { return info.param.Name; });

// A source cut in half converts as far as it decodes, whole or as a track
// that runs past the cut, and each job says how much it got; damage in an
// earlier part of a source is not a later track's (AAC tracks are reached by
// decoding from the start, past it); the whole file reports nothing.
TEST(CoderThread, ADamagedSourceConvertsWhatItHoldsAndSaysSo) {
  const std::string folder = TestFolder();
  const std::string good = WriteSignal(folder + "/good.flac", {.Seconds = 3}, {"-c:a", "flac"});
  const std::string cut = folder + "/cut.flac";
  fs::copy_file(good, cut);
  CutInHalf(cut);
  const double held = double(FFmpegDecode(cut, "s16le").size()) / 4 / 44100;
  ASSERT_GT(held, 1.1);
  std::vector<uint8_t> bytes = ReadFileBytes(WriteSignal(folder + "/good.m4a", {.Seconds = 4, .Music = true}, {"-c:a", "aac"}));
  for (size_t i = bytes.size() / 5; i < bytes.size() / 5 + 512; ++i) bytes[i] ^= 0x5a;
  WriteFileBytes(folder + "/scrambled.m4a", bytes);
  const struct {
    std::string Source;
    double Start, Expected, Converted;  // Start < 0: the whole source; Converted < 0: no warning
    bool Damaged;
  } rows[] = {{cut, -1, 3.0, held, false},          {cut, 1.0, 1.5, held - 1.0, false},
              {good, -1, 3.0, -1, false},           {folder + "/scrambled.m4a", -1, 4.0, 0, true},
              {folder + "/scrambled.m4a", 2.5, 1.5, -1, false}};
  for (const auto &row : rows) {
    SCOPED_TRACE(row.Source + " from " + std::to_string(row.Start));
    const TSourceGuard guard({row.Source});
    TFileListRec job = WholeSourceJob(row.Source, folder + "/out.wav", dfWAV, nullptr);
    if (row.Start >= 0) {
      job.IsTrack = true;
      job.Start = row.Start;
      job.Length = int64_t(row.Expected * 44100);
    }
    const TJobResult r = RunJob(job);
    EXPECT_TRUE(r.Errors.empty()) << r.Errors[0].ErrorMessage;
    EXPECT_EQ(r.Finished, 1);
    ASSERT_EQ(r.Warnings.size(), row.Converted < 0 ? 0u : 1u);
    if (row.Converted < 0) continue;
    const TThreadWarningRec &w = r.Warnings[0];
    if (row.Damaged) {
      EXPECT_GT(w.DamagedBlocks, 0);
      continue;
    }
    const double converted = double(FFmpegDecode(job.OutputFileName, "s16le").size()) / 4 / 44100;
    EXPECT_NEAR(converted, row.Converted, 0.01 * held);
    EXPECT_EQ(w.InputFileName, row.Source);
    EXPECT_EQ(w.OutputFileName, job.OutputFileName);
    EXPECT_EQ(w.IsTrack, row.Start >= 0);
    EXPECT_NEAR(w.DecodedSeconds, converted, 1.0 / 44100);
    EXPECT_NEAR(w.ExpectedSeconds, row.Expected, 1.0 / 44100);
    EXPECT_TRUE(w.EndMissing);
  }
}

// A job that cannot run reports one error with its text and where it stopped,
// ends as finished, and leaves no output.
TEST(CoderThread, AJobThatCannotRunReportsItsErrorAndLeavesNoOutput) {
  const std::string folder = TestFolder();
  const std::string source = WriteSignal(folder + "/source.flac", TTestSignal{}, {"-c:a", "flac"});
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
    EXPECT_EQ(r.Errors[0].ErrorMessage, row.Message);
    EXPECT_EQ(r.Errors[0].LastCall, row.LastCall);
    EXPECT_EQ(r.Errors[0].ErrorCode, row.ErrorCode);
    EXPECT_EQ(r.Finished, 1);
    EXPECT_FALSE(fs::exists(job.OutputFileName));
    EXPECT_FALSE(fs::exists(PartialFileName(job.OutputFileName)));
  }
}

}  // namespace
