// SPDX-License-Identifier: GPL-3.0-or-later
// Whole runs of the engine: jobs on parallel slots, cancel, the first failure
// stopping the run, and outputs that never land on a source or on each other.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <set>
#include <thread>

#include "base/texts.h"
#include "engine/coder_engine.h"
#include "engine/failure_text.h"
#include "engine/partial_output.h"
#include "platform/main_thread/main_thread.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

class CoderEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    StartBass();
    Folder = TestFolder();
    Out = Folder + "/out/";
    fs::create_directories(Out);
  }

  std::string Source(const std::string &name, double seconds, uint32_t seed = 1) {
    const std::string path = Folder + "/" + name;
    fs::create_directories(fs::path(path).parent_path());
    return WriteSignal(path, {.Seconds = seconds, .Seed = seed},
                       GetFileExtension(name) == "flac" ? std::vector<std::string>{"-c:a", "flac"}
                                                        : std::vector<std::string>{});
  }

  void Prepare(TCoder_engine &engine, int threads) {
    engine.SetSourceList(&List);
    engine.SetDestinationFormat(dfWAV);
    engine.SetDestinationFolder(Out);
    engine.ThreadCount = threads;
    engine.OnProgress = [this](const TProgressRec &r) { Progress.push_back(r); };
  }

  std::string Folder, Out;
  TSourceList List;
  std::vector<TProgressRec> Progress;
};

TEST_F(CoderEngine, AnEmptyListIsNothingToDo) {
  TCoder_engine engine;
  Prepare(engine, 2);
  EXPECT_EQ(engine.Run(), 0);
  EXPECT_TRUE(engine.BassStarted);
  EXPECT_TRUE(Progress.empty());
}

TEST_F(CoderEngine, EverySourceConvertsOnAtMostAsManySlotsAsJobs) {
  for (int i = 0; i < 3; ++i)
    List.push_back({Source("s" + std::to_string(i) + ".flac", 1.5, uint32_t(i)), {}});
  TCoder_engine engine;
  Prepare(engine, 8);
  EXPECT_EQ(engine.Run(), 0);
  for (uint32_t i = 0; i < 3; ++i)
    EXPECT_EQ(FFmpegDecode(Out + "s" + std::to_string(i) + ".wav", "s16le"), MakeSamples({.Seconds = 1.5, .Seed = i}));
  std::set<int> slots;
  for (const TProgressRec &r : Progress) {
    slots.insert(r.SlotIndex);
    EXPECT_EQ(r.SlotCount, 3);
    EXPECT_EQ(r.JobCount, 3);
  }
  EXPECT_EQ(slots, (std::set<int>{0, 1, 2}));
  EXPECT_EQ(Progress.back().Percent, 100);
  EXPECT_EQ(engine.GetFileByIndex(2), List[2].FileName);
  EXPECT_THROW(engine.GetFileByIndex(3), std::runtime_error);
}

// Jobs that end at once free their slot while others still convert, even
// before every slot has had its first job: the next job must go to a free
// slot, never to one still busy (that would cut a running output short and
// still report success). Many rounds, since the order of finishes varies;
// every job reports.
TEST_F(CoderEngine, AFinishedSlotTakesTheNextJobAndNoRunningOneIsReplaced) {
  const double lengths[] = {0.0001, 0.0002, 0.5, 0.0001, 0.3, 0.0002, 0.0001, 0.4, 0.0001, 0.0002, 0.2};
  std::vector<uintmax_t> sizes;
  for (size_t i = 0; i < std::size(lengths); ++i)
    List.push_back({Source("m" + std::to_string(i) + ".wav", lengths[i], uint32_t(i)), {}});
  const auto output = [&](size_t i) { return Out + "m" + std::to_string(i) + ".wav"; };
  for (int threads : {3, 4, 8}) {
    for (int round = 0; round < 8; ++round) {
      SCOPED_TRACE("slots " + std::to_string(threads) + ", round " + std::to_string(round));
      fs::remove_all(Out);
      fs::create_directories(Out);
      TCoder_engine engine;
      Prepare(engine, threads);
      ASSERT_EQ(engine.Run(), 0);
      if (sizes.empty()) {
        std::set<int> jobs;
        for (const TProgressRec &r : Progress) jobs.insert(r.JobNumber);
        EXPECT_EQ(jobs.size(), List.size());
        // The first run's outputs, checked sample by sample, set the sizes.
        for (size_t i = 0; i < List.size(); ++i) {
          EXPECT_EQ(FFmpegDecode(output(i), "s16le"), FFmpegDecode(List[i].FileName, "s16le")) << i;
          sizes.push_back(fs::file_size(output(i)));
        }
      }
      for (size_t i = 0; i < List.size(); ++i) EXPECT_EQ(fs::file_size(output(i)), sizes[i]) << i;
    }
  }
}

// The order of events that once let a job replace a running one: slot 0's
// first job ends before slot 2 has had one, while slot 1 still converts; and
// a worker that fails raises Failed before Done.
TEST(SlotSchedule, OnlyFreeSlotsTakeJobsAndAFailureIsNeverReadAsAFinish) {
  std::deque<TThreadRec> slots(3);
  const auto occupy = [](TThreadRec &slot) {
    slot.Thread = std::make_unique<TCoderThread>(0, 3, TFileListRec{}, nullptr, nullptr, nullptr);
    slot.Done = false;
    slot.Failed = false;
  };
  EXPECT_EQ(FirstFreeSlot(slots), 0);
  occupy(slots[0]);
  occupy(slots[1]);
  slots[0].Done = true;
  EXPECT_EQ(SlotState(slots[0]), TSlotState::Ended);
  EXPECT_EQ(SlotState(slots[1]), TSlotState::Busy);
  EXPECT_EQ(FirstFreeSlot(slots), 2);  // an ended slot is free only once collected
  slots[0].Thread.reset();
  EXPECT_EQ(FirstFreeSlot(slots), 0);
  occupy(slots[0]);
  occupy(slots[2]);
  EXPECT_EQ(FirstFreeSlot(slots), -1);

  slots[1].Failed = true;
  EXPECT_EQ(SlotState(slots[1]), TSlotState::Failed);
  slots[1].Done = true;
  EXPECT_EQ(SlotState(slots[1]), TSlotState::Failed);
  EXPECT_EQ(FirstFreeSlot(slots), -1);
}

// The started jobs leave nothing, or, when asked to keep them, valid shorter
// files (a job stopped before its first block has none); the others never start.
TEST_F(CoderEngine, CancelStopsEveryWorkerAndReturnsTwo) {
  for (int i = 0; i < 4; ++i) List.push_back({Source("long" + std::to_string(i) + ".wav", 40), {}});
  for (const bool keep : {false, true}) {
    SCOPED_TRACE(keep ? "shorter files kept" : "nothing kept");
    TCoder_engine engine;
    Prepare(engine, 2);
    engine.KeepPartial = keep;
    engine.OnProgress = [&](const TProgressRec &r) {
      if (r.Percent >= 1) engine.Cancel();
    };
    EXPECT_EQ(engine.Run(), 2);
    std::vector<std::string> left;
    for (const auto &entry : fs::directory_iterator(Out)) left.push_back(entry.path().filename().string());
    // The job that reported has converted something; the other may not have yet.
    EXPECT_EQ(left.empty(), !keep);
    for (const std::string &name : left) EXPECT_TRUE(name == "long0.wav" || name == "long1.wav") << name;
    for (const std::string &name : left)
      EXPECT_LT(FFmpegDecode(Out + name, "s16le").size(), size_t(40 * 44100 * 4));
  }
}

// A job whose output has taken its name is converted, even when the stop
// comes before the engine has heard that the job ended: the finish report is
// held back until the stop has reached the other, long job.
TEST_F(CoderEngine, AnOutputNamedBeforeTheStopCountsConverted) {
  List.push_back({Source("short.wav", 0.5), {}});
  List.push_back({Source("long.wav", 60, 2), {}});
  TCoder_engine engine;
  Prepare(engine, 2);
  engine.SpreadOverCores = false;
  engine.OnProgress = [](const TProgressRec &r) {  // the long job takes its time
    if (r.InputFileName.find("long") != std::string::npos)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
  };
  std::promise<void> holding;
  std::thread stopper([&] {
    const std::lock_guard<std::mutex> held(FinishReportLock);
    holding.set_value();
    auto wait = [](const std::function<bool()> &done) {
      for (int i = 0; i < 3000 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    };
    wait([&] { return fs::exists(Out + "short.wav") && fs::exists(PartialFileName(Out + "long.wav")); });
    engine.Cancel();
    wait([&] { return !fs::exists(PartialFileName(Out + "long.wav")); });  // the stop has reached it
  });
  holding.get_future().wait();
  EXPECT_EQ(engine.Run(), 2);
  stopper.join();
  EXPECT_EQ(FFmpegDecode(Out + "short.wav", "s16le"), MakeSamples({.Seconds = 0.5}));
  EXPECT_FALSE(fs::exists(Out + "long.wav"));
  const TRunCounts c = engine.Counts(false);
  EXPECT_EQ(c.Converted, 1);
  EXPECT_EQ(c.Stopped, 1);
}

TEST_F(CoderEngine, TheFirstFailureStopsTheRun) {
  for (int i = 0; i < 5; ++i) List.push_back({Source("f" + std::to_string(i) + ".flac", 1), {}});
  // The second source vanishes once the run has begun: its job cannot open it.
  TCoder_engine engine;
  Prepare(engine, 1);
  engine.OnProgress = [this](const TProgressRec &r) {
    if (r.JobNumber == 1) fs::remove(List[1].FileName);
  };
  try {
    engine.Run();
    FAIL() << "the run should fail";
  } catch (const std::runtime_error &e) {
    EXPECT_STREQ(e.what(), CoderEngineError);
  }
  // The details leave out the fields that are empty; the plain line names the source.
  EXPECT_EQ(engine.ErrorText,
            "ErrorMessage = BASS_StreamCreateFile 2, CurrentInputFileName = " + List[1].FileName +
                ", CurrentOutputFileName = " + Out + "f1.wav\r\n");
  ASSERT_EQ(engine.Failures.size(), 1u);
  EXPECT_EQ(FailureLine(engine.Failures[0]), "Could not read “" + List[1].FileName + "”: the file no longer exists.");
  EXPECT_TRUE(fs::exists(Out + "f0.wav"));
  EXPECT_FALSE(fs::exists(Out + "f1.wav"));  // no broken output
  for (int i = 2; i < 5; ++i) EXPECT_FALSE(fs::exists(Out + "f" + std::to_string(i) + ".wav"));
}

TEST_F(CoderEngine, DamagedSourcesConvertAndAreListedInJobOrderUntilTheNextRun) {
  for (int i = 0; i < 4; ++i) List.push_back({Source("f" + std::to_string(i) + ".flac", 2), {}});
  for (int i : {1, 3}) CutInHalf(List[size_t(i)].FileName);
  TCoder_engine engine;
  Prepare(engine, 3);
  EXPECT_EQ(engine.Run(), 0);
  ASSERT_EQ(engine.Warnings.size(), 2u);
  for (size_t k = 0; k < 2; ++k) {
    const TThreadWarningRec &w = engine.Warnings[k];
    EXPECT_EQ(w.JobNumber, k == 0 ? 2 : 4);
    const std::string text = WarningText(w);
    EXPECT_EQ(text.rfind(w.InputFileName + ": ", 0), 0u) << text;
    EXPECT_NE(text.find(fmt::sprintf(" %.2f s of 2.00 s decoded; the end of the data is missing", w.DecodedSeconds)),
              std::string::npos) << text;
  }
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(fs::exists(Out + "f" + std::to_string(i) + ".wav"));

  List.resize(1);
  engine.SetSourceList(&List);
  EXPECT_EQ(engine.Run(), 0);
  EXPECT_TRUE(engine.Warnings.empty());
}

TEST_F(CoderEngine, AnUnreadableSourceFailsBeforeAnyJob) {
  List.push_back({Source("ok.wav", 1), {}});
  List.push_back({Folder + "/vanished.wav", {}});
  TCoder_engine engine;
  Prepare(engine, 2);
  EXPECT_THROW(engine.Run(), std::runtime_error);
  EXPECT_EQ(engine.ErrorText, Folder + "/vanished.wav : " +
                                  FormatText(text_getting_audio_info_failed, BASS_ERROR_FILEOPEN) + "\r\n");
  EXPECT_FALSE(fs::exists(Out + "ok.wav"));
}

TEST_F(CoderEngine, OutputsNeverOverwriteASourceOrEachOther) {
  // Two sources named alike in different folders, and a WAV source in the
  // destination folder itself.
  List.push_back({Source("a/song.flac", 1, 1), {}});
  List.push_back({Source("b/song.flac", 1, 2), {}});
  const std::string inside = WriteSignal(Out + "live.wav", {.Seed = 3});
  const std::vector<uint8_t> original = ReadFileBytes(inside);
  List.push_back({inside, {}});
  TCoder_engine engine;
  Prepare(engine, 3);
  EXPECT_EQ(engine.Run(), 0);
  EXPECT_EQ(ReadFileBytes(inside), original);
  EXPECT_TRUE(fs::exists(Out + "live_001.wav"));
  EXPECT_EQ(FFmpegDecode(Out + "song.wav", "s16le"), MakeSamples({.Seed = 1}));
  EXPECT_EQ(FFmpegDecode(Out + "song_001.wav", "s16le"), MakeSamples({.Seed = 2}));
}

TEST_F(CoderEngine, FullPathAndSameAsSourcePlacements) {
  List.push_back({Source("music/live/song.wav", 0.5), {}});
  TCoder_engine engine;
  Prepare(engine, 1);
  engine.CreateFullPath = true;
  EXPECT_EQ(engine.Run(), 0);
  EXPECT_TRUE(fs::exists(Out + Folder.substr(1) + "/music/live/song.wav"));

  engine.CreateFullPath = false;
  engine.SameAsSource = true;
  EXPECT_EQ(engine.Run(), 0);
  EXPECT_TRUE(fs::exists(Folder + "/music/live/song_001.wav"));
}

TEST_F(CoderEngine, OptionsOfUnknownFormatsAreInternalErrors) {
  TCoder_engine engine;
  EXPECT_NE(engine.GetOptions(dfWAV), nullptr);
  EXPECT_THROW(engine.GetOptions(0), EAssertFailed);
  EXPECT_THROW(engine.GetOptions(9), EAssertFailed);
}

}  // namespace
