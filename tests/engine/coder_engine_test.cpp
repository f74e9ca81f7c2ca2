// SPDX-License-Identifier: GPL-3.0-or-later
// Whole runs of the engine on parallel slots, their progress merged, and sources cut into parts (the tracks of a
// CUE sheet, the pieces between silences), together exactly the source.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <future>
#include <set>
#include <thread>

#include <fmt/printf.h>

#include "base/misc.h"
#include "base/texts.h"
#include "engine/coder_engine.h"
#include "engine/failure_text.h"
#include "engine/partial_output.h"
#include "engine/progress_merge.h"
#include "sources/silence.h"
#include "test_support.h"

namespace {

// Events on four slots (s start, d done, f failed, c collected; a first job ending before another slot has had one,
// a failure raised before Done), each followed by the slots' states (. free, B busy, E ended, F failed) and the slot
// the next job goes to.
TEST(SlotSchedule, OnlyFreeSlotsTakeJobsAndAFailureIsNeverReadAsAFinish) {
  const std::tuple<char, int, const char *> rows[] = {
      {'s', 0, "B...:1"}, {'s', 1, "BB..:2"}, {'d', 0, "EB..:2"}, {'s', 2, "EBB.:3"}, {'c', 0, ".BB.:0"},
      {'s', 0, "BBB.:3"}, {'s', 3, "BBBB:-1"}, {'f', 1, "BFBB:-1"}, {'d', 1, "BFBB:-1"}, {'d', 3, "BFBE:-1"},
      {'c', 3, "BFB.:3"}, {'c', 1, "B.B.:1"},
  };
  std::deque<TThreadRec> slots(4);
  for (const auto &[event, index, expected] : rows) {
    TThreadRec &slot = slots[size_t(index)];
    if (event == 's') slot.Thread = std::make_unique<TCoderThread>(0, 4, TFileListRec{}, nullptr, nullptr, nullptr);
    if (event == 'c') slot.Thread.reset();
    slot.Done = event == 'd' || (slot.Done && event != 's');
    slot.Failed = event == 'f' || (slot.Failed && event != 's');
    std::string after;
    for (const TThreadRec &s : slots) after += ".BEF"[int(SlotState(s))];
    EXPECT_EQ(after + ":" + std::to_string(FirstFreeSlot(slots)), expected) << event << index;
  }
}

class CoderEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    StartBass();
    Folder = TestFolder();
    Out = Folder + "/out/";
    fs::create_directories(Out);
  }
  std::string Source(const std::string &name, double seconds, uint32_t seed = 1) {
    fs::create_directories(fs::path(Folder + "/" + name).parent_path());
    return WriteSignal(Folder + "/" + name, {.Seconds = seconds, .Seed = seed});
  }
  // A fresh engine for the list, converting to WAV in Out.
  TCoder_engine &Prepare(int threads) {
    TCoder_engine &engine = Engines.emplace_back();
    engine.SetSourceList(&List);
    engine.SetDestinationFormat(dfWAV);
    engine.SetDestinationFolder(Out);
    engine.ThreadCount = threads;
    engine.OnProgress = [this](const TProgressRec &r) { Progress.push_back(r); };
    return engine;
  }
  std::string Folder, Out;
  TSourceList List;
  std::vector<TProgressRec> Progress;
  std::deque<TCoder_engine> Engines;
};

// Jobs that end at once free their slot while others still convert: the next job goes to a free slot, never to a busy
// one (whose output it would cut short). Several rounds, since the order of finishes varies.
TEST_F(CoderEngine, EveryJobConvertsOnAtMostAsManySlotsAsJobs) {
  EXPECT_EQ(Prepare(2).Run(), 0);
  EXPECT_TRUE(Progress.empty());
  const double lengths[] = {0.0001, 0.0002, 0.5, 0.0001, 0.3, 0.0002, 0.0001, 0.4, 0.0001, 0.2};
  for (size_t i = 0; i < std::size(lengths); ++i)
    List.push_back({Source("m" + std::to_string(i) + ".wav", lengths[i], uint32_t(i)), {}});
  std::vector<uintmax_t> sizes;
  for (const int threads : {3, 4, 16}) {
    for (int round = 0; round < 4; ++round) {
      SCOPED_TRACE("slots " + std::to_string(threads) + ", round " + std::to_string(round));
      fs::remove_all(Out);
      fs::create_directories(Out);
      Progress.clear();
      ASSERT_EQ(Prepare(threads).Run(), 0);
      std::set<int> jobs, usedSlots;
      for (const TProgressRec &r : Progress) {
        jobs.insert(r.JobNumber);
        usedSlots.insert(r.SlotIndex);
        EXPECT_EQ(r.SlotCount, std::min<int>(threads, int(List.size())));
        EXPECT_EQ(r.JobCount, int(List.size()));
      }
      EXPECT_EQ(jobs.size(), List.size());
      EXPECT_EQ(int(usedSlots.size()), std::min<int>(threads, int(List.size())));
      EXPECT_EQ(Progress.back().Percent, 100);
      for (size_t i = 0; i < List.size(); ++i) {  // sample for sample once, then by size
        const std::string output = Out + "m" + std::to_string(i) + ".wav";
        if (round == 0) {
          EXPECT_EQ(FFmpegDecode(output, "s16le"), MakeSamples({.Seconds = lengths[i], .Seed = uint32_t(i)})) << i;
        }
        if (sizes.size() < List.size()) sizes.push_back(fs::file_size(output));
        EXPECT_EQ(fs::file_size(output), sizes[i]) << i;
      }
    }
  }
}

// The started jobs leave nothing, or, kept, valid shorter files (a job stopped
// before its first block has none); the others never start.
TEST_F(CoderEngine, CancelStopsEveryWorkerAndReturnsTwo) {
  for (int i = 0; i < 4; ++i) List.push_back({Source("long" + std::to_string(i) + ".wav", 40), {}});
  for (const bool keep : {false, true}) {
    SCOPED_TRACE(keep ? "shorter files kept" : "nothing kept");
    TCoder_engine &engine = Prepare(2);
    engine.KeepPartial = keep;
    engine.OnProgress = [&](const TProgressRec &r) { if (r.Percent >= 1) engine.Cancel(); };
    EXPECT_EQ(engine.Run(), 2);
    std::vector<std::string> left;
    for (const auto &entry : fs::directory_iterator(Out)) left.push_back(entry.path().filename().string());
    EXPECT_EQ(left.empty(), !keep);
    for (const std::string &name : left) {
      EXPECT_TRUE(name == "long0.wav" || name == "long1.wav") << name;
      const std::vector<uint8_t> kept = FFmpegDecode(Out + name, "s16le"), all = MakeSamples({.Seconds = 40});
      EXPECT_LT(kept.size(), all.size());
      EXPECT_TRUE(std::equal(kept.begin(), kept.end(), all.begin()));
    }
  }
}

// Stopped while the sources are read: an image not yet read is no sheet that cannot be cut, the run is just cancelled.
TEST_F(CoderEngine, ACancelBeforeTheJobsReturnsTwo) {
  List = {{Source("image.wav", 6), {}}};
  List[0].Rec.HasCUE = true;
  WriteText(Folder + "/image.cue", "FILE \"image.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                                   "  TRACK 02 AUDIO\n    INDEX 01 00:03:00\n");
  TCoder_engine &engine = Prepare(2);
  engine.Cancel();
  EXPECT_EQ(engine.Run(), 2);
  EXPECT_TRUE(fs::is_empty(Out));
}

// An output that has taken its name counts converted though the stop comes
// before the engine hears of its end (held back until the long job has stopped).
TEST_F(CoderEngine, AnOutputNamedBeforeTheStopCountsConverted) {
  List.push_back({Source("short.wav", 0.5), {}});
  List.push_back({Source("long.wav", 60, 2), {}});
  TCoder_engine &engine = Prepare(2);
  engine.SpreadOverCores = false;
  engine.OnProgress = [](const TProgressRec &r) {  // the long job takes its time
    if (r.InputFileName.find("long") != std::string::npos) std::this_thread::sleep_for(std::chrono::milliseconds(20));
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
  EXPECT_EQ(std::pair(engine.Counts(false).Converted, engine.Counts(false).Stopped), std::pair(1, 1));
}

// A source that vanishes during the run fails its job and stops the run: no
// later job starts. One unreadable before the run fails it before any job.
TEST_F(CoderEngine, TheFirstFailureStopsTheRun) {
  for (int i = 0; i < 5; ++i) List.push_back({Source("f" + std::to_string(i) + ".wav", 1), {}});
  TCoder_engine &engine = Prepare(1);
  engine.OnProgress = [this](const TProgressRec &r) { if (r.JobNumber == 1) fs::remove(List[1].FileName); };
  EXPECT_THROW(engine.Run(), std::runtime_error);
  EXPECT_EQ(engine.ErrorText, "ErrorMessage = BASS_StreamCreateFile 2, CurrentInputFileName = " + List[1].FileName +
                                  ", CurrentOutputFileName = " + Out + "f1.wav\r\n");
  ASSERT_EQ(engine.Failures.size(), 1u);
  EXPECT_EQ(FailureLine(engine.Failures[0]), "Could not read “" + List[1].FileName + "”: the file no longer exists.");
  for (int i = 0; i < 5; ++i) EXPECT_EQ(fs::exists(Out + "f" + std::to_string(i) + ".wav"), i == 0) << i;

  List = {{Source("ok.wav", 1), {}}, {Folder + "/vanished.wav", {}}};
  TCoder_engine &early = Prepare(2);
  EXPECT_THROW(early.Run(), std::runtime_error);
  EXPECT_EQ(early.ErrorText,
            Folder + "/vanished.wav : " + FormatText(text_getting_audio_info_failed, BASS_ERROR_FILEOPEN) + "\r\n");
  EXPECT_FALSE(fs::exists(Out + "ok.wav"));
}

// Warnings from several workers at once, listed in job order; the next run starts its lists and counts afresh.
TEST_F(CoderEngine, DamagedSourcesConvertAndAreListedInJobOrderUntilTheNextRun) {
  for (int i = 0; i < 4; ++i) List.push_back({Source("f" + std::to_string(i) + ".flac", 2), {}});
  for (int i : {1, 3}) CutInHalf(List[size_t(i)].FileName);
  TCoder_engine &engine = Prepare(3);
  EXPECT_EQ(engine.Run(), 0);
  ASSERT_EQ(engine.Warnings.size(), 2u);
  for (size_t k = 0; k < 2; ++k) {
    const TThreadWarningRec &w = engine.Warnings[k];
    EXPECT_EQ(w.JobNumber, k == 0 ? 2 : 4);
    const std::string said = w.InputFileName + ": " + fmt::sprintf("%.2f s of 2.00 s decoded; the end of the data is missing", w.DecodedSeconds);
    EXPECT_EQ(WarningText(w).substr(0, said.size()), said);
  }
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(fs::exists(Out + "f" + std::to_string(i) + ".wav"));
  List.resize(1);
  engine.SetSourceList(&List);
  EXPECT_EQ(engine.Run(), 0);
  EXPECT_TRUE(engine.Warnings.empty());
  EXPECT_EQ(engine.Counts(false).Converted, 1);  // this run's, not both runs'
}

// Two sources named alike in different folders, and a source in the destination folder.
TEST_F(CoderEngine, OutputsNeverOverwriteASourceOrEachOther) {
  List = {{Source("a/song.wav", 1, 1), {}}, {Source("b/song.wav", 1, 2), {}},
          {WriteSignal(Out + "live.wav", {.Seed = 3}), {}}};
  TCoder_engine &engine = Prepare(3);
  const TSourceGuard guard({Folder});
  EXPECT_EQ(engine.Run(), 0);
  for (const auto &[name, seed] : {std::pair{"live_001.wav", 3u}, {"song.wav", 1u}, {"song_001.wav", 2u}})
    EXPECT_EQ(FFmpegDecode(Out + name, "s16le"), MakeSamples({.Seed = seed})) << name;
}

TEST(ProgressMerge, ReportsInOrder) {
  const struct {
    int Jobs, Slots;
    double Duration;  // of all sources; 0: not known
    uint64_t Start;
    std::vector<std::array<int, 4>> Reports;  // job, slot, percent, ticks
    std::vector<std::string> After;           // percent|file|elapsed|remaining
  } rows[] = {
      {3, 3, 30.0, 1000, {{1, 0, 50, 1500}, {2, 1, 100, 1600}, {3, 2, 0, 1700}},
       {"17|50% | 0% | 0%|00:00:00|--:--:--", "50|50% | 100% | 0%|00:00:00|--:--:--", "50|50% | 100% | 0%|00:00:00|--:--:--"}},
      {1, 1, 10.0, 0, {{1, 0, 40, 61000}}, {"40|out.wav|00:01:01|00:01:32"}},
      {1, 1, 100.0, 0, {{1, 0, 1, 10000}, {1, 0, 10, 1500}, {1, 0, 10, 10000}, {1, 0, 11, 20000}, {1, 0, 80, 40000}},
       // below 2 %, before 2 seconds: no estimate; 10 s for 10 %: 90.5 s to go; slower: it would grow
       {"1|out.wav|00:00:10|--:--:--", "10|out.wav|00:00:01|--:--:--", "10|out.wav|00:00:10|00:01:30",
        "11|out.wav|00:00:20|00:01:30", "80|out.wav|00:00:40|00:00:10"}},
      {2, 1, 0.0, 0, {{1, 0, 50, 60000}}, {"25|out.wav|00:01:00|--:--:--"}},
  };
  for (const auto &row : rows) {
    TProgressMerger merger(row.Jobs, row.Slots, row.Duration, row.Start);
    for (size_t i = 0; i < row.Reports.size(); ++i) {
      const auto &[job, slot, percent, ticks] = row.Reports[i];
      TProgressRec r{.InputFileName = {}, .OutputFileName = "out.wav", .ElapsedTime = {}, .RemainingTime = {},
                     .JobNumber = job, .JobCount = row.Jobs, .Percent = percent, .SlotIndex = slot,
                     .SlotCount = row.Slots, .Duration = row.Duration / row.Jobs};
      merger.Merge(r, uint64_t(ticks));
      EXPECT_EQ(std::to_string(r.Percent) + "|" + r.OutputFileName + "|" + r.ElapsedTime + "|" + r.RemainingTime,
                row.After[i]) << i;
    }
  }
  EXPECT_EQ(FormatElapsed(3725000, 0), "01:02:05");
  EXPECT_EQ(FormatElapsed(5000, 5000), "00:00:00");
}

class SourceParts : public CoderEngine {
 protected:
  // Converts `source`, with `sheet` beside it, into Out.
  int RunSheet(const std::string &source, const std::string &sheet, TDestinationFormat format, int threads = 3) {
    WriteText(fs::path(source).replace_extension(".cue").string(), sheet);
    List = {{source, {}}};
    List[0].Rec.HasCUE = true;
    Engine.SetSourceList(&List);
    Engine.SetDestinationFormat(format);
    Engine.SetDestinationFolder(Out);
    Engine.ThreadCount = threads;
    return Engine.Run();
  }
  TCoder_engine &Engine = Prepare(3);  // its progress in the fixture's
};

// The tracks, converted on parallel workers, are the source from the first
// INDEX 01 on (not at 0), each boundary exactly on its INDEX 01 (75 frames a second).
TEST_F(SourceParts, CueTracksTileTheSourceExactly) {
  const std::tuple<int, int, TDestinationFormat> rows[] = {
      {44100, 16, dfFLAC}, {48000, 24, dfWAV}, {96000, 16, dfWAV}, {96000, 24, dfFLAC}, {88200, 24, dfWavPack}};
  const int starts[] = {33, 2 * 75 + 7, 4 * 75 + 74, 7 * 75 + 1};
  for (const auto &[rate, bits, format] : rows) {
    const std::string ext = FormatRow(format)->Extension;
    SCOPED_TRACE(std::to_string(rate) + " " + std::to_string(bits) + " " + ext);
    const TTestSignal signal{.Rate = rate, .Bits = bits, .Seconds = 9};
    const std::string source = WriteSignal(Folder + "/image.flac", signal);
    std::string sheet = "PERFORMER \"The Band\"\nTITLE \"Image\"\nFILE \"image.flac\" WAVE\n";
    for (int k = 0; k < 4; ++k)
      sheet += fmt::sprintf("  TRACK 0%d AUDIO\n    TITLE \"Part %d\"\n    INDEX 01 %02d:%02d:%02d\n", k + 1, k + 1,
                            starts[k] / 75 / 60, starts[k] / 75 % 60, starts[k] % 75);
    fs::remove_all(Out);
    fs::create_directories(Out);
    ASSERT_EQ(RunSheet(source, sheet, format), 0);
    const std::vector<double> all = AsSamples(MakeSamples(signal), bits);
    for (int k = 0; k < 4; ++k) {
      const std::vector<double> part = AsSamples(FFmpegDecode(
          Out + "0" + std::to_string(k + 1) + " - Part " + std::to_string(k + 1) + "." + ext, RawFormat(bits)), bits);
      const int64_t first = int64_t(starts[k]) * rate / 75;
      const int64_t next = k < 3 ? int64_t(starts[k + 1]) * rate / 75 : FrameCount(signal);
      ASSERT_EQ(int64_t(part.size()), (next - first) * 2) << "track " << k + 1;
      EXPECT_TRUE(std::equal(part.begin(), part.end(), all.begin() + first * 2)) << "track " << k + 1;
    }
  }
}

// Track outputs carry the sheet's tags; a one-track sheet is the whole source,
// named after it; a damaged sheet fails the run with its name.
TEST_F(SourceParts, TracksGetTheirNamesAndTags) {
  const TTestSignal signal{.Seconds = 4};
  const std::string source = WriteSignal(Folder + "/live.wav", signal);
  ASSERT_EQ(RunSheet(source,
                     "PERFORMER \"Band\"\nTITLE \"Live\"\nFILE \"live.wav\" WAVE\nTRACK 01 AUDIO\nTITLE \"Intro\"\n"
                     "INDEX 01 00:00:00\nTRACK 02 AUDIO\nTITLE \"Song\"\nPERFORMER \"Singer\"\nINDEX 01 00:02:00\n",
                     dfMP3), 0);
  const std::vector<uint8_t> mp3 = ReadFileBytes(Folder + "/out/02 - Song.mp3");
  const std::string block(mp3.end() - 128, mp3.end());  // ID3v1
  EXPECT_EQ(block.substr(0, 7) + "|" + block.substr(33, 6) + "|" + block.substr(63, 4), "TAGSong|Singer|Live");
  EXPECT_EQ(uint8_t(block[126]), 2);
  EXPECT_TRUE(fs::exists(Folder + "/out/01 - Intro.mp3"));

  ASSERT_EQ(RunSheet(source, "FILE \"live.wav\" WAVE\nTRACK 01 AUDIO\nTITLE \"All\"\nINDEX 01 00:01:00\n", dfWAV), 0);
  EXPECT_EQ(FFmpegDecode(Folder + "/out/live.wav", "s16le"), MakeSamples(signal));

  EXPECT_THROW(RunSheet(source, "FILE \"live.wav\" WAVE\nTRACK x AUDIO\nINDEX 01 00:00:00\n", dfWAV), std::exception);
  ASSERT_EQ(Engine.Failures.size(), 1u);
  EXPECT_NE(Engine.Failures[0].ErrorMessage.find(Folder + "/live.cue"), std::string::npos) << Engine.Failures[0].ErrorMessage;
}

// Tones between silences (seconds): the scan's pieces by its rules, and a run
// converting each piece to exactly its samples (before a sheet; the last to the end).
TEST_F(SourceParts, SilencesCutPiecesThatConvertExactly) {
  const TTestSignal signal{.Rate = 48000, .Seconds = 23, .Silent = {{0, 1}, {4, 5}, {8, 11}, {12, 12.5}, {15.5, 18.5}, {21.5, 23}}};
  const std::string wav = WriteSignal(Folder + "/rec.wav", signal);
  const struct {
    int Seconds;  // tenths of the shortest silence between pieces
    std::vector<std::pair<double, double>> Pieces;
  } rows[] = {
      // The second tone follows 1 s of silence: the first piece grows over
      // it. The short tone is no region of its own: it runs on until 2 s have passed.
      {20, {{1, 8}, {11, 15.5}, {18.5, 21.5}}},
      {5, {{1, 4}, {5, 8}, {11, 15.5}, {18.5, 21.5}}},
  };
  for (const auto &row : rows) {
    const TPreprocessOptions options{.FileFormat = {}, .Seconds = row.Seconds};
    std::vector<TProgressRec> progress;
    TCUEArr pieces;
    SplitBySilenceScan(wav, 2, 5, options, {[&](const TProgressRec &p) { progress.push_back(p); }, nullptr, 0}, pieces);
    ASSERT_EQ(pieces.size(), row.Pieces.size());
    for (size_t k = 0; k < pieces.size(); ++k) {
      const TCUERec &p = pieces[k];
      EXPECT_EQ(std::tuple(p.StartTime, p.EndTime, p.TrackNumber, p.Title, p.InSeconds),
                std::tuple(row.Pieces[k].first, row.Pieces[k].second, int(k), "rec", true)) << k;
    }
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(std::vector<int>({progress.back().Stage, progress.back().JobNumber, progress.back().JobCount, progress.back().Percent}),
              std::vector<int>({stSeekingSilence, 2, 5, 100}));
  }
  Engine.Preprocess = true;
  Engine.SetPreprocessOptions(TPreprocessOptions{});  // pieces apart by 2 s of silence
  ASSERT_EQ(RunSheet(wav, "FILE \"rec.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 01 00:05:00\n", dfWAV, 2), 0);
  EXPECT_EQ(std::pair(Progress.front().Stage, Progress.back().Stage), std::pair(stSeekingSilence, stTrack));
  const std::vector<uint8_t> pcm = MakeSamples(signal);
  const double bounds[][2] = {{1, 8}, {11, 15.5}, {18.5, 23}};
  for (int k = 0; k < 3; ++k) {
    const std::vector<uint8_t> got = FFmpegDecode(Folder + "/out/0" + std::to_string(k) + " - rec.wav", "s16le");
    const size_t first = size_t(bounds[k][0] * 48000) * 4, last = size_t(bounds[k][1] * 48000) * 4;
    ASSERT_EQ(got.size(), last - first) << k;
    EXPECT_TRUE(std::equal(got.begin(), got.end(), pcm.begin() + std::ptrdiff_t(first))) << k;
  }
}

// Sound without silence is one piece, the whole source; a stop ends the scan.
TEST_F(SourceParts, SoundWithoutSilenceIsOnePieceAndAStopEndsTheScan) {
  const std::string wav = WriteSignal(Folder + "/loud.wav", {.Seconds = 6, .Level = 0.5});
  TCUEArr pieces;
  SplitBySilenceScan(wav, 1, 1, TPreprocessOptions{}, TSilenceScanContext{}, pieces);
  ASSERT_EQ(pieces.size(), 1u);
  EXPECT_FALSE(pieces[0].InSeconds);
  std::atomic<bool> cancelled{false};
  int blocks = 0;
  SplitBySilenceScan(wav, 1, 1, TPreprocessOptions{},
                     {[&](const TProgressRec &) { cancelled = ++blocks == 2; }, &cancelled, 0}, pieces);
  EXPECT_EQ(blocks, 2);
}

// Every worker warns at about the same moment, right after its last progress
// report: each warning is listed once, in job order. Films cut short, read by
// the ffmpeg program: no lock of the decoding library orders their warnings,
// so only the list's own lock does (and ThreadSanitizer sees if it does not).
// Several rounds, since which worker reaches its warning first varies.
TEST_F(CoderEngine, WarningsOfWorkersAtOnceAreEachListedOnceInJobOrder) {
  const int sources = 4;
  for (int i = 0; i < sources; ++i)
    List.push_back({CutInHalf(WriteSignal(Folder + "/w" + std::to_string(i) + ".mkv",
                                          {.Seconds = 4, .Seed = uint32_t(i)}, {"-c:a", "flac"})), {}});
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    fs::remove_all(Out);
    fs::create_directories(Out);
    TCoder_engine &engine = Prepare(sources);
    ASSERT_EQ(engine.Run(), 0);
    ASSERT_EQ(engine.Warnings.size(), size_t(sources));
    for (int i = 0; i < sources; ++i) {
      EXPECT_EQ(engine.Warnings[size_t(i)].JobNumber, i + 1);
      EXPECT_EQ(engine.Warnings[size_t(i)].InputFileName, List[size_t(i)].FileName);
      EXPECT_TRUE(engine.Warnings[size_t(i)].EndMissing);
    }
  }
}

}  // namespace
