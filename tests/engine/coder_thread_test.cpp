// SPDX-License-Identifier: GPL-3.0-or-later
// One job on its own worker: the right samples in the right format, progress,
// cancel, and failures that leave nothing broken behind.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <filesystem>

#include "base/texts.h"
#include "engine/coder_thread.h"
#include "platform/main_thread/main_thread.h"
#include "sources/audio_info.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

struct TJobResult {
  std::vector<TProgressRec> Progress;
  std::vector<TThreadErrorRec> Errors;
  int Finished = 0;
  bool ProgressOnMainThread = true;
};

TFileListRec WavJob(const std::string &source, const std::string &output) {
  return WholeSourceJob(source, output, dfWAV, nullptr);
}

// Runs the job on a worker and waits for it; `onProgress` may stop the worker.
TJobResult RunJob(const TFileListRec &job,
                  std::function<void(TCoderThread &, const TProgressRec &)> onProgress = {}) {
  TJobResult result;
  std::unique_ptr<TCoderThread> worker;
  worker = std::make_unique<TCoderThread>(
      0, 1, job,
      [&](const TProgressRec &p) {
        result.ProgressOnMainThread &= MainThreadPump().IsMainThread();
        result.Progress.push_back(p);
        if (onProgress) onProgress(*worker, p);
      },
      [&](int32_t slot) {
        EXPECT_EQ(slot, 0);
        ++result.Finished;
      },
      [&](int32_t, const TThreadErrorRec &e) { result.Errors.push_back(e); });
  worker->Resume();
  worker->WaitFor();
  return result;
}

class CoderThread : public ::testing::Test {
 protected:
  void SetUp() override {
    StartBass();
    Folder = TestFolder();
  }
  std::string Folder;
};

struct TDepthCase {
  std::string Name;
  std::vector<std::string> Codec;
  std::string Ext;
  int Bits, Channels;
  int OutputBits;  // what the WAV output holds
};

std::ostream &operator<<(std::ostream &os, const TDepthCase &c) { return os << c.Name; }

class CoderThreadDepths : public ::testing::TestWithParam<TDepthCase> {
 protected:
  void SetUp() override { StartBass(); }
};

// Sources reach a WAV output at their own depth (8 bits as 16), sample for
// sample, with the job's progress reported on the way.
TEST_P(CoderThreadDepths, WavOutputHoldsTheSourceSamples) {
  const TDepthCase &c = GetParam();
  const std::string folder = TestFolder();
  const TTestSignal signal{.Channels = c.Channels, .Bits = c.Bits, .Seconds = 1.3};
  const std::string source = WriteSignal(folder + "/source." + c.Ext, signal, c.Codec);
  const std::string output = folder + "/out.wav";

  TFileListRec job = WavJob(source, output);
  job.JobNumber = 2;
  job.JobCount = 5;
  const TJobResult r = RunJob(job);
  ASSERT_TRUE(r.Errors.empty()) << r.Errors[0].ErrorMessage;
  EXPECT_EQ(r.Finished, 1);
  // Progress rises to 100 on the main thread and names its job.
  ASSERT_GT(r.Progress.size(), 3u);
  EXPECT_TRUE(r.ProgressOnMainThread);
  for (size_t i = 1; i < r.Progress.size(); ++i) EXPECT_GE(r.Progress[i].Percent, r.Progress[i - 1].Percent);
  const TProgressRec &last = r.Progress.back();
  EXPECT_EQ(last.Percent, 100);
  EXPECT_EQ(last.JobNumber, 2);
  EXPECT_EQ(last.JobCount, 5);
  EXPECT_EQ(last.Stage, stWholeSource);
  EXPECT_EQ(last.InputFileName, source);
  EXPECT_NEAR(last.Duration, 1.3, 0.001);

  EXPECT_EQ(ProbeStream(output, "bits_per_sample,channels"),
            std::to_string(c.Channels) + "," + std::to_string(c.OutputBits) + "\n");

  const std::vector<uint8_t> source8 = MakeSamples(signal);
  const std::vector<uint8_t> decoded = FFmpegDecode(output, RawFormat(c.OutputBits));
  if (c.Bits == 8) {
    const std::vector<int32_t> got = AsInt16(decoded);
    ASSERT_EQ(got.size(), source8.size());
    for (size_t i = 0; i < got.size(); ++i)
      ASSERT_EQ(got[i], (int32_t(source8[i]) - 128) * 256) << "sample " << i;
  } else {
    EXPECT_EQ(decoded, source8);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sources, CoderThreadDepths,
    ::testing::Values(TDepthCase{"wav8_mono", {"-c:a", "pcm_u8"}, "wav", 8, 1, 16},
                      TDepthCase{"wav16_stereo", {}, "wav", 16, 2, 16},
                      TDepthCase{"flac16_6ch", {"-c:a", "flac"}, "flac", 16, 6, 16},
                      TDepthCase{"flac24_stereo", {"-c:a", "flac"}, "flac", 24, 2, 24},
                      TDepthCase{"tta24_6ch", {"-c:a", "tta"}, "tta", 24, 6, 24},
                      TDepthCase{"wav_float_stereo", {"-c:a", "pcm_f32le"}, "wav", 32, 2, 32},
                      TDepthCase{"wav_float_6ch", {"-c:a", "pcm_f32le"}, "wav", 32, 6, 32}),
    [](const auto &info) { return info.param.Name; });

// A track is exactly its frames: it starts at the frame nearest its start time
// and holds Length frames, whatever the rate.
TEST_F(CoderThread, TrackJobsCutExactlyAtTheirFrames) {
  for (int rate : {44100, 48000, 96000}) {
    const TTestSignal signal{.Rate = rate, .Bits = 24, .Seconds = 4};
    const std::string source =
        WriteSignal(Folder + "/source" + std::to_string(rate) + ".flac", signal, {"-c:a", "flac"});
    const std::vector<int32_t> all = AsInt24(MakeSamples(signal));

    // Starts of CUE tracks: 0, 1:40 (frames) and 2:73, as the engine computes them.
    const double starts[] = {0.0, 1 + 40 / 75.0, 2 + 73 / 75.0};
    for (int t = 0; t < 3; ++t) {
      TFileListRec job = WavJob(source, Folder + "/track" + std::to_string(t) + ".wav");
      job.Start = starts[t];
      job.IsTrack = true;
      const int64_t first = std::llround(starts[t] * rate);
      job.Length = t < 2 ? std::llround(starts[t + 1] * rate) - first : LengthToEnd;
      const TJobResult r = RunJob(job);
      ASSERT_TRUE(r.Errors.empty()) << r.Errors[0].ErrorMessage;
      const std::vector<int32_t> got = AsInt24(FFmpegDecode(job.OutputFileName, "s24le"));
      const int64_t count = t < 2 ? job.Length : FrameCount(signal) - first;
      ASSERT_EQ(int64_t(got.size()), count * 2) << "track " << t << " at " << rate;
      EXPECT_TRUE(std::equal(got.begin(), got.end(), all.begin() + first * 2))
          << "track " << t << " at " << rate;
      EXPECT_EQ(r.Progress.back().Stage, stTrack);
    }
  }
}

// A stopped job leaves nothing, or, asked to keep it, a valid shorter file.
TEST_F(CoderThread, CancelLeavesNothingOrAValidShorterFile) {
  const TTestSignal signal{.Seconds = 60};
  const std::string source = WriteSignal(Folder + "/source.wav", signal);
  fs::create_directory(Folder + "/out");
  TFileListRec job = WavJob(source, Folder + "/out/out.wav");
  const auto stop = [](TCoderThread &worker, const TProgressRec &p) {
    if (p.Percent >= 5) worker.Terminate();
  };
  TJobResult r = RunJob(job, stop);
  EXPECT_TRUE(r.Errors.empty());
  EXPECT_EQ(r.Finished, 1);
  EXPECT_TRUE(fs::is_empty(Folder + "/out")) << "neither the output nor its hidden file";

  job.KeepPartial = true;
  r = RunJob(job, stop);
  EXPECT_TRUE(r.Errors.empty());
  EXPECT_EQ(r.Finished, 1);
  EXPECT_LT(r.Progress.back().Percent, 100);
  EXPECT_FALSE(fs::exists(PartialFileName(job.OutputFileName)));
  const std::vector<uint8_t> decoded = FFmpegDecode(job.OutputFileName, "s16le");
  EXPECT_GT(decoded.size(), 0u);
  EXPECT_LT(decoded.size(), size_t(FrameCount(signal) * 4));
  const std::vector<uint8_t> all = MakeSamples(signal);
  EXPECT_TRUE(std::equal(decoded.begin(), decoded.end(), all.begin()));
}

// A source cut in half converts as far as it decodes, whole or as a track
// that runs past the cut, and each job says how much it got.
TEST_F(CoderThread, ADamagedSourceConvertsWhatItHoldsAndSaysSo) {
  const std::string good = WriteSignal(Folder + "/good.flac", {.Seconds = 3}, {"-c:a", "flac"});
  const std::string bad = Folder + "/bad.flac";
  fs::copy_file(good, bad);
  CutInHalf(bad);
  const std::vector<uint8_t> before = ReadFileBytes(bad);
  const double held = double(FFmpegDecode(bad, "s16le").size()) / 4 / 44100;
  ASSERT_GT(held, 1.1);

  for (const bool track : {false, true}) {
    TFileListRec job = WavJob(good, Folder + (track ? "/track.wav" : "/whole.wav"));
    job.SourceFileName = bad;
    if (track) {
      job.IsTrack = true;
      job.Start = 1.0;
      job.Length = 44100 * 3 / 2;
    }
    std::vector<TThreadWarningRec> warnings;
    job.OnWarning = [&](const TThreadWarningRec &w) { warnings.push_back(w); };
    const TJobResult r = RunJob(job);
    EXPECT_TRUE(r.Errors.empty()) << r.Errors[0].ErrorMessage;
    EXPECT_EQ(r.Finished, 1);
    const double converted = double(FFmpegDecode(job.OutputFileName, "s16le").size()) / 4 / 44100;
    EXPECT_NEAR(converted, track ? held - 1.0 : held, 0.01 * held) << track;
    ASSERT_EQ(warnings.size(), 1u) << track;
    const TThreadWarningRec &w = warnings[0];
    EXPECT_EQ(w.InputFileName, bad);
    EXPECT_EQ(w.OutputFileName, job.OutputFileName);
    EXPECT_EQ(w.IsTrack, track);
    EXPECT_NEAR(w.DecodedSeconds, converted, 1.0 / 44100);
    EXPECT_NEAR(w.ExpectedSeconds, track ? 1.5 : 3.0, 1.0 / 44100);
    EXPECT_TRUE(w.EndMissing);
  }
  EXPECT_EQ(ReadFileBytes(bad), before);  // the source is only ever read

  // The whole file reports nothing.
  TFileListRec job = WavJob(good, Folder + "/good.wav");
  int warnings = 0;
  job.OnWarning = [&](const TThreadWarningRec &) { ++warnings; };
  EXPECT_TRUE(RunJob(job).Errors.empty());
  EXPECT_EQ(warnings, 0);
}

// Damage in an earlier part of a source is not a later track's: AAC tracks
// are reached by decoding from the start, past the damage.
TEST_F(CoderThread, DamageBeforeATrackIsNotReportedForIt) {
  const std::string good = WriteMusic(Folder + "/good.m4a", {.Seconds = 4}, {"-c:a", "aac"});
  std::vector<uint8_t> bytes = ReadFileBytes(good);
  for (size_t i = bytes.size() / 5; i < bytes.size() / 5 + 512; ++i) bytes[i] ^= 0x5a;
  const std::string bad = Folder + "/bad.m4a";
  WriteFileBytes(bad, bytes);
  for (const bool track : {false, true}) {
    TFileListRec job = WavJob(bad, Folder + (track ? "/track.wav" : "/whole.wav"));
    job.IsTrack = track;
    job.Start = track ? 2.5 : -1.0;
    std::vector<TThreadWarningRec> warnings;
    job.OnWarning = [&](const TThreadWarningRec &w) { warnings.push_back(w); };
    EXPECT_TRUE(RunJob(job).Errors.empty());
    ASSERT_EQ(warnings.size(), track ? 0u : 1u) << track;
    if (!track) {
      EXPECT_GT(warnings[0].DamagedBlocks, 0);
    }
  }
}

// A job that cannot run reports one error with its text and where it stopped,
// ends as finished, and leaves no output.
TEST_F(CoderThread, AJobThatCannotRunReportsItsErrorAndLeavesNoOutput) {
  const std::string source = WriteSignal(Folder + "/source.flac", TTestSignal{}, {"-c:a", "flac"});
  const std::string missingFolder = Folder + "/no/such/folder/out.wav";
  struct TRow {
    const char *Name;
    std::function<void(TFileListRec &)> Change;
    std::string Message, LastCall;
    int ErrorCode;
  };
  const TRow rows[] = {
      {"the source vanished", [&](TFileListRec &job) { job.SourceFileName = Folder + "/vanished.wav"; },
       "BASS_StreamCreateFile 2", "", 0},
      {"the encoder cannot start", [&](TFileListRec &job) { job.OutputFileName = missingFolder; },
       FormatText(text_failed_to_init_encoder, "TWAVCoder\r\n\"CreateFileStream (step1) : Cannot create file \"" +
                                                   missingFolder + "\". No such file or directory\""),
       "TWAVCoder.Init", 1},
      {"a start beyond the end",
       [](TFileListRec &job) {
         job.Start = 5.0;
         job.IsTrack = true;
       },
       "BASS_ChannelSetPosition 7", "", 0},
      {"no encoder for the format", [](TFileListRec &job) { job.DestinationFormat = 42; },
       "Assert failed : FCoder = nil", "", 0},
  };
  for (const TRow &row : rows) {
    SCOPED_TRACE(row.Name);
    TFileListRec job = WavJob(source, Folder + "/out.wav");
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
