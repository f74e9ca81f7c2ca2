// SPDX-License-Identifier: GPL-3.0-or-later
// The conversion engine: turns the source list into jobs (a whole source, a
// CUE track or a piece between silences), runs them on a fixed number of
// worker slots, merges their progress and stops at the first failure (or,
// told to keep going, converts the rest and lists every failure at the end).
//
// Everything here runs on the main thread, except SlotFinished and SlotFailed,
// which the workers call. Run pumps the main thread while it waits, so the
// window (or the console) stays alive and Cancel can arrive.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <unordered_set>
#include <string>
#include <vector>

#include "base/misc.h"
#include "encoders/format.h"
#include "engine/beside_files.h"
#include "engine/coder_thread.h"
#include "engine/existing_output.h"
#include "engine/mirror.h"
#include "engine/output_naming.h"
#include "engine/progress_merge.h"
#include "sources/cue.h"

// The message of the exception Run raises after a failed run.
constexpr const char *CoderEngineError = "coder_engine_error";

// One worker slot of the engine. The flags are written by the slot's worker
// and polled by the engine's loop, hence atomic; what the slot is doing
// follows from Thread, Done and Failed alone.
struct TThreadRec {
  std::atomic<bool> Done{false};
  std::unique_ptr<TCoderThread> Thread;
  std::atomic<int32_t> Percent{0};
  std::atomic<bool> Failed{false};
  TThreadErrorRec Error;            // written by the worker before Failed is set
  size_t Job = 0;                   // the index of its job
};

// What a worker slot is doing, as the scheduling loop sees it.
enum class TSlotState {
  Free,    // never had a job, or its last worker was collected
  Busy,    // converting
  Ended,   // its worker has finished and waits to be collected
  Failed,  // its worker reported a failure
};
TSlotState SlotState(const TThreadRec &Slot);
// The first slot that may take a job; -1 when every slot is busy or unfinished.
int FirstFreeSlot(const std::deque<TThreadRec> &Slots);
// One line for a warning: the source, how much of it was decoded, and the
// damage passed over; or the source and its note.
std::string WarningText(const TThreadWarningRec &Warning);

// What a run did with its outputs (whole sources, tracks, pieces).
struct TRunCounts {
  int32_t Outputs = 0;
  int32_t Converted = 0;
  int32_t Failed = 0;
  int32_t Stopped = 0;
};

class TCoder_engine {
 public:
  using TProgressHandler = std::function<void(const TProgressRec &)>;

  TCoder_engine();  // every format at its default options
  TCoder_engine(const TCoder_engine &) = delete;
  TCoder_engine &operator=(const TCoder_engine &) = delete;

  void Reset() { Cancelled = false; }
  // Starts the decoding library once; raises text_failed_to_init_bass.
  void InitBASS();
  void SetSourceList(TSourceList *List);
  int32_t FileCount() const { return FileCountValue; }
  std::string GetFileByIndex(int32_t Index) const;

  void SetDestinationFormat(TDestinationFormat Format) { DestinationFormat = Format; }
  TDestinationFormat GetDestinationFormat() const { return DestinationFormat; }
  void SetDestinationFolder(const std::string &Folder);
  const std::string &GetDestinationFolder() const { return DestinationFolder; }
  void SetPreprocessOptions(const TPreprocessOptions &Options) { PreprocessOptions = Options; }
  // The options record handed to the encoders of a format, one of its row's.
  void SetOptions(TDestinationFormat Format, std::shared_ptr<void> Options);
  const void *GetOptions(int Code) const;

  // Converts every source; 0 when done (or nothing to do), 2 when cancelled.
  // A failure raises CoderEngineError with the details in ErrorText.
  int Run();
  // Stops the run; Run notices within a second. Any thread may call it.
  void Cancel();
  // Removes the hidden files the workers are writing, for a program that ends
  // at once without waiting for them. Any thread may call it.
  void AbandonPartialOutputs() { Partials.RemoveAll(); }

  // Worker callbacks.
  void SlotFinished(int32_t Slot);
  void SlotFailed(int32_t Slot, const TThreadErrorRec &Error);
  void WorkerProgress(TProgressRec Rec);
  void WorkerWarning(const TThreadWarningRec &Warning);

  // Set by the caller before Run.
  bool SameAsSource = false;
  bool CreateFullPath = false;
  bool Preprocess = false;
  // A stopped job keeps its shorter file under the output's name.
  bool KeepPartial = false;
  // A failed job (or a source whose audio information cannot be read) stops
  // nothing: the rest is converted, and Run raises at the end.
  bool KeepGoing = false;
  // An output that exists under its plain name, newer than its source (a
  // track's: its image) and complete, is not written again; anything else
  // there is replaced. It overrides KeepPartial, as a stopped run's shorter
  // file would only be converted again.
  bool SkipExisting = false;
  // How sheets are cut whatever Preprocess says (the batch switches); with
  // Preprocess on, the preprocess options' choices count too.
  bool HiddenTrack = false;
  bool PregapOwnTrack = false;
  // The cutting of sheets this run uses.
  TCueLayout CueLayout() const;
  // Every output carries the source's tags in its format's own kind of tags.
  bool WriteTags = true;
  // Lossless outputs are decoded again and compared with what their encoder
  // was given; a mismatch fails the job.
  bool Verify = false;
  // A run with fewer jobs than workers gives each job's encoding the idle
  // workers too (for the formats that can join what threads encode apart).
  bool SpreadOverCores = true;
  // Once the jobs are done, each source folder's cover images and its files
  // matching CopyPatterns (space-separated, e.g. "*.log *.pdf") are copied
  // beside the outputs made from it; a run that fails or is stopped copies
  // nothing. Needs a folder per source folder (full paths, or names that keep
  // albums apart): a folder that gets outputs of several source folders gets
  // nothing, with a warning.
  bool CopyFiles = false;
  std::string CopyPatterns;
  // Every output gets ReplayGain 2.0 tags measured while converting; the
  // tracks of one sheet, or the files of one folder, converted whole in this
  // run, get their album's values too.
  bool ReplayGain = false;
  // Outputs are named by NamePattern from their tags, below the output
  // folder (name_pattern.h); the caller has checked the pattern.
  bool UseNamePattern = false;
  std::string NamePattern;
  // A mirror of the sources: each output keeps its source's place below the
  // outermost of MirrorRoots (folders) that holds it, complete outputs are
  // left alone (as SkipExisting does), and the outputs the destination's
  // manifest records whose source is gone are removed.
  bool Mirror = false;
  std::vector<std::string> MirrorRoots;
  // With Mirror: nothing is written, made or removed; Planned lists what would be.
  bool DryRun = false;
  int32_t ThreadCount = 1;
  TProgressHandler OnProgress;

  // After a run: how many outputs (whole sources, tracks, pieces) it had
  // to write, and how many of them were converted to their end.
  int32_t OutputCount = 0;
  int32_t ConvertedCount = 0;
  // During and after a run: how many jobs have been given to workers so far.
  int32_t StartedCount = 0;
  // Outputs left as they were, with SkipExisting; not in OutputCount.
  int32_t SkippedCount = 0;
  // After a run: the deepest folder that holds every output named ("" when
  // none was), the one to open.
  std::string OutputsFolder;
  // Outputs found under their names but converted again, with SkipExisting.
  TRedoneCounts Redone;
  // Set by the caller: sources the list could not take (a sheet whose audio
  // is missing). Each is a failure of the run: without KeepGoing the run
  // stops before anything is converted.
  std::vector<TThreadErrorRec> ListFailures;
  // After a mirror: what it converts and removes, in that order (with DryRun:
  // what it would), and how many outputs it removed.
  struct TMirrorAction {
    bool Remove = false;
    std::string Source;  // of a conversion
    std::string Output;
  };
  std::vector<TMirrorAction> Planned;
  int32_t RemovedCount = 0;
  // Outputs that passed verification, with Verify.
  std::atomic<int32_t> VerifiedCount = 0;
  // After a run, with CopyFiles: the files copied beside the outputs, and
  // those the output folders had already, as new as their sources or newer.
  int32_t BesideCopied = 0;
  int32_t BesidePresent = 0;
  // The same, with the failed and the stopped ones; Failed tells whether Run
  // raised. A run that failed before its jobs were made counts its sources.
  TRunCounts Counts(bool Failed) const;

  // After a failed run: one line per failure.
  std::string ErrorText;
  // After a failed run: the failures of the workers, in slot order, or the
  // sources whose audio information could not be read.
  std::vector<TThreadErrorRec> Failures;
  // After a run: the jobs whose sources were damaged or stopped early, in job
  // order. They were converted as far as they decoded.
  std::vector<TThreadWarningRec> Warnings;

  bool BassStarted = false;

 private:
  void Execute();
  std::vector<TCUEArr> TrackLists();
  std::vector<TFileListRec> BuildJobs();
  void SetTrackPart(TFileListRec &Job, const TCUEArr &Tracks, size_t K) const;
  void ConvertJobs(std::vector<TFileListRec> &Jobs);
  // One pass of ConvertJobs: frees the slots whose worker ended and gives the
  // next jobs to the free slots; after a failure or a cancel it tells every
  // worker to stop instead. Runs between the run's waits and on every wake-up,
  // also from a loop nested above the run's wait (a modal dialog's), so the
  // run goes on while that loop holds the main thread.
  void SchedulePass();
  // The two phases of a pass. CollectEndedWorkers frees the slots whose
  // worker has finished and tells whether a worker failed; FillFreeSlots
  // starts the next jobs in the free slots (all of them on the first pass).
  bool CollectEndedWorkers();
  void FillFreeSlots();
  bool AnyWorkerLeft() const;
  void StartJob(int Slot, const TFileListRec &Job);
  void TerminateWorkers();
  void StopWorkers();
  void ReportFailures();
  void AddFailure(const TThreadErrorRec &Failure);
  // A sheet that cannot be cut: one failure, naming the sheet.
  void SheetFailed(const TSourceItem &Source, const std::string &Why);
  // Counts a worker's job once it has ended (or been stopped).
  void CountOutcome(const TThreadRec &Slot);
  // A mirror's steps around the conversion: PlanMirror reads the manifest,
  // records the outputs about to be written, removes the outputs whose source
  // is gone (with DryRun it only lists, and leaves no job); FinishMirror
  // records what the jobs left and saves the manifest.
  void PlanMirror(std::vector<TFileListRec> &Jobs);
  void FinishMirror(const std::vector<TFileListRec> &Jobs);
  void MirrorNote(const std::string &Path, const std::string &Note);
  bool IsReservedOutput(const std::string &Path) const;
  // Copies the files beside the music of the outputs counted, with CopyFiles.
  void CopyBesideFiles();
  // With ReplayGain: an album's job has ended; after its last one, the album's
  // values go into each output (a tagged copy takes its name).
  void AlbumJobEnded(const TCoderThread &Worker);
  void WriteAlbumGain(int32_t Album);
  // The output of a job named by the pattern, its folders made.
  std::string PatternOutputName(const std::string &Folder, const TTagRec &Tags, const std::string &Source,
                                const std::string &Extension, std::set<std::string> &Cleaned);

  TSourceList *SourceList = nullptr;
  int32_t FileCountValue = 0;
  uint64_t StartTicks = 0;
  double TotalDuration = 0;
  TDestinationFormat DestinationFormat = dfWAV;
  std::atomic<bool> Cancelled{false};
  std::string DestinationFolder;
  TPreprocessOptions PreprocessOptions;
  std::array<std::shared_ptr<void>, MaxDestinationFormat> FormatOptions;  // by code minus one

  // Alive during a run only.
  std::deque<TThreadRec> Threads;
  std::unique_ptr<TProgressMerger> Merger;
  struct TSchedule {
    std::vector<TFileListRec> *Jobs = nullptr;
    size_t Next = 0;           // the next job to start
    bool Failure = false;      // a worker failed
    bool Stopping = false;     // failed or cancelled: no job starts any more
    std::exception_ptr Error;  // raised in a pass, raised again by ConvertJobs
  } Schedule;
  // Outputs given to jobs so far, and the files of the sources (device and
  // inode): no job may write over either.
  std::unordered_set<std::string> AssignedOutputs;
  std::set<TFileIdentity> SourceFiles;
  TPartialFiles Partials;
  std::unique_ptr<TBesideFiles> Beside;  // with CopyFiles, during a run
  struct TAlbumRec {
    int32_t Jobs = 0, Ended = 0;
    bool Whole = true;  // every job ended so far converted its output
    std::vector<std::shared_ptr<const TLoudnessMeter>> Meters;
    std::vector<TFileListRec> Tracks;  // as their jobs ended
  };
  std::vector<TAlbumRec> Albums;
  // A mirror's manifest while it runs: the entries of the jobs, by job, then
  // those carried over (sources of the list that gave no job this time).
  std::vector<TMirrorEntry> MirrorEntries;
  int64_t MirrorStart = 0;  // when this run's outputs became pending
  std::vector<TJobOutcome> JobOutcomes;
  std::mutex WarningLock;  // workers add warnings from their own threads
};
