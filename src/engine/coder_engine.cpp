// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/coder_engine.h"

#include <fmt/printf.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <map>
#include <set>
#include <stdexcept>

#include "base/texts.h"
#include "engine/existing_output.h"
#include "engine/failure_text.h"
#include "engine/name_pattern.h"
#include "platform/bass/bass.h"
#include "platform/clock.h"
#include "platform/main_thread/main_thread.h"
#include "sources/cue.h"
#include "sources/getaudioinfo_thread.h"
#include "sources/silence.h"
#include "tags/output_tags.h"
#include "tags/read_tags.h"

void TCoder_engine::InitBASS() {
  if (BassStarted) return;
  BassStarted = true;  // before the call: a failed start is not retried
  // Another part of the program may have started it already: that is no failure.
  if (!BASS_Init(0, 44100, 0, nullptr, nullptr) && BASS_ErrorGetCode() != BASS_ERROR_ALREADY)
    throw std::runtime_error(FormatText(text_failed_to_init_bass, BASS_ErrorGetCode()));
  BASS_SetConfig(BASS_CONFIG_VERIFY, 0x100000);
}

TCoder_engine::TCoder_engine() {
  for (const TFormatRow *row : FormatRows())
    if (row->NewOptions) FormatOptions[size_t(row->Code - 1)] = row->NewOptions();
}

void TCoder_engine::SetSourceList(TSourceList *List) {
  SourceList = List;
  FileCountValue = List ? int32_t(List->size()) : 0;
}

std::string TCoder_engine::GetFileByIndex(int32_t Index) const {
  if (!SourceList || Index < 0 || Index >= FileCountValue)
    throw std::runtime_error(
        fmt::sprintf("GetFileByIndex: File list only contains %d elements", FileCountValue));
  return (*SourceList)[size_t(Index)].FileName;
}

void TCoder_engine::SetDestinationFolder(const std::string &Folder) {
  DestinationFolder = Folder;
  if (!DestinationFolder.empty() && DestinationFolder.back() != '/') DestinationFolder += '/';
}

void TCoder_engine::SetOptions(TDestinationFormat Format, std::shared_ptr<void> Options) {
  if (!FormatRow(Format)) throw EAssertFailed("Assert failed : SetOptions : unknown format");
  FormatOptions[Format - 1] = std::move(Options);
}

const void *TCoder_engine::GetOptions(int Code) const {
  const void *options = Code >= 1 && Code <= MaxDestinationFormat ? FormatOptions[size_t(Code - 1)].get() : nullptr;
  if (!options) throw EAssertFailed("Assert failed : GetOptions : Result = nil");
  return options;
}

TRunCounts TCoder_engine::Counts(bool Failed) const {
  TRunCounts c;
  c.Outputs = OutputCount > 0 || SkippedCount > 0 ? OutputCount : FileCountValue + int32_t(ListFailures.size());
  c.Converted = ConvertedCount;
  c.Failed = Failed ? std::max<int32_t>(1, int32_t(Failures.size())) : 0;
  c.Stopped = std::max(0, c.Outputs - c.Converted - c.Failed);
  return c;
}

void TCoder_engine::Cancel() {
  Cancelled = true;
  MainThreadPump().Wake();
}

int TCoder_engine::Run() {
  InitBASS();
  ErrorText.clear();
  Failures.clear();
  OutputCount = ConvertedCount = SkippedCount = StartedCount = 0;
  OutputsFolder.clear();
  Redone = {};
  VerifiedCount = 0;
  BesideCopied = BesidePresent = 0;
  Warnings.clear();
  Planned.clear();
  RemovedCount = 0;
  if (FileCountValue < 1 && ListFailures.empty()) return 0;
  Beside.reset();
  if (CopyFiles) {
    Beside = std::make_unique<TBesideFiles>(CopyPatterns, &Partials);
    for (const TSourceItem &item : *SourceList) {
      Beside->AddSource(item.FileName);
      if (item.Rec.HasCUE) Beside->AddSource(CueSheetOf(item));
    }
  }
  try {
    Execute();
  } catch (...) {
    Beside.reset();
    throw;
  }
  Beside.reset();
  return Cancelled ? 2 : 0;
}

void TCoder_engine::Execute() {
  for (const TThreadErrorRec &failure : ListFailures) AddFailure(failure);
  if (!Failures.empty() && !KeepGoing) throw std::runtime_error(CoderEngineError);
  // 1. Audio information of every source; any failure ends the run here,
  // unless the run keeps going: then those sources are left out.
  std::string errors;
  TotalDuration = GatherAudioInfo(*SourceList, &Cancelled, nullptr, errors);
  if (!errors.empty()) {
    ErrorText += errors;
    for (const TSourceItem &item : *SourceList) {
      if (item.Rec.AudioInfo.ErrorText.empty()) continue;
      TThreadErrorRec failure;
      failure.ErrorMessage = item.Rec.AudioInfo.ErrorText;
      failure.CurrentInputFileName = item.FileName;
      DiagnoseReading(failure, BASS_ERROR_FILEFORM, item.Rec.AudioInfo.DamagedAt);
      if (failure.ErrorMessage == text_ffmpeg_missing) failure.Reason = TFailureReason::NoFFmpeg;
      Failures.push_back(failure);
    }
    if (!KeepGoing) throw std::runtime_error(CoderEngineError);
  }
  // Stopped while reading: the sources not yet read have no length to cut
  // their sheets by, and nothing is converted anyway.
  if (Cancelled) return;
  StartTicks = GetTickCount();

  std::vector<TFileListRec> jobs = BuildJobs();
  OutputCount = int32_t(jobs.size() + Failures.size());
  if (!Failures.empty() && !KeepGoing) throw std::runtime_error(CoderEngineError);  // a sheet that cannot be cut
  for (TFileListRec &job : jobs) job.OnWarning = [this](const TThreadWarningRec &w) { WorkerWarning(w); };
  if (Mirror && !Cancelled) {
    PlanMirror(jobs);
    if (DryRun) return;
    try {
      if (!Cancelled) ConvertJobs(jobs);
    } catch (...) {
      FinishMirror(jobs);
      throw;
    }
    FinishMirror(jobs);
  } else if (!Cancelled) {
    ConvertJobs(jobs);
  }
  // Reached only by a run that did not stop at a failure: one that kept
  // going gives the folders of what it converted their files too.
  if (Beside && !Cancelled) CopyBesideFiles();
  if (!Failures.empty()) throw std::runtime_error(CoderEngineError);
}

void TCoder_engine::SheetFailed(const TSourceItem &Source, const std::string &Why) {
  TThreadErrorRec failure;
  failure.ErrorMessage = Why;
  failure.CurrentInputFileName = CueSheetOf(Source);
  failure.Reading = true;
  failure.Reason = TFailureReason::BadSheet;
  AddFailure(failure);
}

bool TCoder_engine::IsReservedOutput(const std::string &Path) const {
  if (AssignedOutputs.count(NormalPath(Path))) return true;
  struct stat candidate;
  return stat(Path.c_str(), &candidate) == 0 &&
         SourceFiles.count({uint64_t(candidate.st_dev), uint64_t(candidate.st_ino)}) > 0;
}

std::string TCoder_engine::PatternOutputName(const std::string &Folder, const TTagRec &Tags,
                                             const std::string &Source, const std::string &Extension,
                                             std::set<std::string> &Cleaned) {
  const std::string path = PatternPath(NamePattern, Tags, Source);
  const size_t slash = path.find_last_of('/');
  const std::string folder = Folder + (slash == std::string::npos ? std::string() : path.substr(0, slash + 1));
  // A mirror makes its folders once its removals are done (a dry run, none).
  if (folder != Folder && !Mirror) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec || !IsFolder(folder))
      throw std::runtime_error("Cannot create folder \"" + folder + "\". " +
                               (ec ? ec.message() : std::string("A file of that name exists")));
    OutputsFolder = CommonFolder(OutputsFolder, folder);
    if (Cleaned.insert(folder).second) RemoveLeftPartials(folder, SourceFiles);
  }
  // ".xxx" keeps a dot in the name ("Mr. Brown") from passing for an extension.
  const std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1) + ".xxx";
  const bool skipExisting = SkipExisting || Mirror;
  return MakeOutputName(folder, name, Extension, SameAsSource && !skipExisting,
                        [this](const std::string &p) { return IsReservedOutput(p); }, skipExisting);
}

TCueLayout TCoder_engine::CueLayout() const {
  return {HiddenTrack || (Preprocess && PreprocessOptions.HiddenTrack),
          PregapOwnTrack || (Preprocess && PreprocessOptions.PregapOwnTrack)};
}

std::vector<TCUEArr> TCoder_engine::TrackLists() {
  const TSourceList &list = *SourceList;
  std::vector<TCUEArr> lists(list.size(), TCUEArr(1));
  const bool splitBySilence = Preprocess && PreprocessOptions.SplitBySilence;
  const TSilenceScanContext scan{[this](const TProgressRec &p) {
                                   if (OnProgress) OnProgress(p);
                                 },
                                 &Cancelled, StartTicks};
  for (size_t i = 0; i < list.size(); ++i) {
    if (!list[i].Rec.AudioInfo.ErrorText.empty()) continue;  // left out of a run that keeps going
    // Silences take precedence over a CUE sheet; a cancelled scan scans no more.
    if (splitBySilence) {
      if (!Cancelled)
        SplitBySilenceScan(list[i].FileName, int32_t(i) + 1, FileCountValue, PreprocessOptions, scan,
                           lists[i]);
    } else if (list[i].Rec.HasCUE) {
      try {
        ParseCue(CueSheetOf(list[i]), lists[i]);
        LayOutCueTracks(lists[i], CueLayout());
        // Every track must end after it starts, before any job is made.
        TFileListRec probe;
        probe.SourceFileName = CueSheetOf(list[i]);
        probe.AudioInfo = list[i].Rec.AudioInfo;
        if (lists[i].size() > 1)
          for (size_t k = 0; k < lists[i].size(); ++k) SetTrackPart(probe, lists[i], k);
      } catch (const std::exception &e) {
        SheetFailed(list[i], e.what());
        lists[i].clear();  // no job of this source
      }
    }
  }
  return lists;
}

std::vector<TFileListRec> TCoder_engine::BuildJobs() {
  const TSourceList &list = *SourceList;
  // 3. One list of tracks per source; a single entry means the whole source.
  const std::vector<TCUEArr> trackLists = TrackLists();

  // 4. One job per source, plus one per extra track.
  int32_t jobCount = FileCountValue;
  for (const TCUEArr &tracks : trackLists)
    if (tracks.size() > 1) jobCount += int32_t(tracks.size()) - 1;

  // 5. The jobs, with their outputs named and placed.
  AssignedOutputs.clear();
  SourceFiles.clear();
  for (const TSourceItem &item : list) {
    struct stat source;
    if (stat(item.FileName.c_str(), &source) == 0) SourceFiles.insert({uint64_t(source.st_dev), uint64_t(source.st_ino)});
  }
  std::set<std::string> cleaned;  // folders already rid of what killed runs left
  CheckDestinationFormat(DestinationFormat);
  const std::string extension = OutputExtension(*FormatRow(DestinationFormat), GetOptions(DestinationFormat));
  const TOutputPlacement placement{DestinationFolder, SameAsSource, CreateFullPath};
  // A mirror leaves complete outputs alone and writes the rest where they belong.
  const bool skipExisting = SkipExisting || Mirror;
  std::vector<std::string> roots;
  for (const std::string &root : MirrorRoots) {
    roots.push_back(NormalPath(root));
    if (roots.back().back() != '/') roots.back() += '/';
  }
  auto reserved = [this](const std::string &path) { return IsReservedOutput(path); };
  std::vector<TFileListRec> jobs;
  Albums.clear();
  std::map<std::pair<bool, std::string>, int32_t> albums;  // a sheet's source, or a folder, to its album
  TTagRec sourceTags;  // of a sheet's audio, for naming its tracks
  for (size_t i = 0; i < list.size() && !Cancelled; ++i) {
    const TSourceItem &source = list[i];
    const TCUEArr &tracks = trackLists[i];
    // Left out of a run that keeps going: unreadable, or a sheet that cannot be cut.
    if (!source.Rec.AudioInfo.ErrorText.empty() || tracks.empty()) continue;
    // A mirror's folders are made once its removals are done, which may leave folders empty.
    // Named from tags, a mirror's tree is the pattern's.
    const std::string folder = !Mirror         ? GetOutputFolder(source.FileName, placement)
                               : UseNamePattern ? DestinationFolder
                                                : MirrorOutputFolder(source.FileName, roots, DestinationFolder);
    OutputsFolder = CommonFolder(OutputsFolder, folder);
    // Before naming: a killed run's hidden file must not keep a name taken.
    if (!DryRun && cleaned.insert(folder).second) RemoveLeftPartials(folder, SourceFiles);
    // An album: the tracks of one sheet (or pieces of one source), or the
    // whole files of one source folder.
    const std::pair<bool, std::string> albumKey{
        tracks.size() > 1,
        tracks.size() > 1 ? source.FileName : std::filesystem::path(source.FileName).parent_path().string()};
    const int32_t album = albums.emplace(albumKey, int32_t(albums.size())).first->second;
    if (ReplayGain && size_t(album) == Albums.size()) Albums.emplace_back();
    for (size_t k = 0; k < tracks.size(); ++k) {
      TFileListRec job;
      job.SourceFileName = source.FileName;
      job.JobNumber = int32_t(jobs.size()) + 1;
      job.JobCount = jobCount;
      job.DestinationFormat = DestinationFormat;
      job.PreprocessOptions = PreprocessOptions;
      if (!Preprocess) {  // switched off, preprocessing changes no sample
        job.PreprocessOptions.Resample = false;
        job.PreprocessOptions.Channels = 0;
      }
      job.Options = GetOptions(DestinationFormat);
      job.AudioInfo = source.Rec.AudioInfo;
      if (tracks.size() > 1) {
        SetTrackPart(job, tracks, k);
        job.Tags.IsTrack = true;
        job.Tags.Title = tracks[k].Title;
        job.Tags.Artist = tracks[k].Performer;
        job.Tags.Album = tracks[k].Album;
        job.Tags.Track = std::to_string(tracks.front().Hidden ? k : k + 1);
        if (UseNamePattern) {
          // What the sheet does not say comes from the tags of its audio.
          if (k == 0) ReadTags(source.FileName, sourceTags = TTagRec{});
          TTagRec naming = job.Tags;
          for (auto field : {&TTagRec::Artist, &TTagRec::Album, &TTagRec::Year, &TTagRec::Genre,
                             &TTagRec::AlbumArtist, &TTagRec::Disc})
            if ((naming.*field).empty()) naming.*field = sourceTags.*field;
          job.OutputFileName = PatternOutputName(folder, naming, source.FileName, extension, cleaned);
        } else {
          const std::string name =
              TrackOutputName(tracks[k].TrackNumber, CueTrackName(tracks[k], source.FileName));
          job.OutputFileName =
              MakeOutputName(folder, name, extension, SameAsSource && !skipExisting, reserved, skipExisting);
        }
      } else {
        ReadTags(source.FileName, job.Tags);
        job.OutputFileName =
            UseNamePattern ? PatternOutputName(folder, job.Tags, source.FileName, extension, cleaned)
                           : MakeOutputName(folder, source.FileName, extension, SameAsSource && !skipExisting,
                                            reserved, skipExisting);
      }
      // Skipping, the output's plain name is the one that counts: an existing
      // file there is either complete (left alone, which the worker finds
      // out) or replaced, never sidestepped with a numbered name that a later
      // run would not find.
      AssignedOutputs.insert(NormalPath(job.OutputFileName));
      job.SkipExisting = skipExisting;
      job.Replaces = RegularFileIdentity(job.OutputFileName);
      // Skipping, a stopped job's shorter file would only be converted again.
      job.KeepPartial = KeepPartial && !skipExisting;
      job.Partials = &Partials;
      job.WriteTags = WriteTags;
      job.Verify = Verify;
      job.Verified = &VerifiedCount;
      job.ReplayGain = ReplayGain;
      if (ReplayGain) {
        job.Album = album;
        ++Albums[size_t(album)].Jobs;
      }
      jobs.push_back(std::move(job));
    }
  }
  // Debug runs write no audio: nothing to spread.
  const int32_t spanThreads =
      SpreadOverCores && DebugMode == 0 && !jobs.empty() ? ThreadCount / int32_t(jobs.size()) : 1;
  for (TFileListRec &job : jobs) {
    if (job.Album >= 0) job.AlbumSize = Albums[size_t(job.Album)].Jobs;
    job.JobCount = int32_t(jobs.size());  // without the left-out ones
    job.SpanThreads = std::max(1, spanThreads);
  }
  return jobs;
}

void TCoder_engine::SetTrackPart(TFileListRec &Job, const TCUEArr &Tracks, size_t K) const {
  const TCUERec &track = Tracks[K];
  const TAudioInfo &info = Job.AudioInfo;
  const double rate = info.Streams.empty() ? 0 : info.Streams[size_t(info.Index)].SampleRate;
  const double start = track.InSeconds ? track.StartTime : CueTrackStart(track);
  Job.IsTrack = true;
  Job.Start = start;
  Job.Length = LengthToEnd;
  if (K + 1 == Tracks.size()) return;
  // Both ends land on the frame nearest their time, as the seek does, so the
  // parts of a source follow each other without a gap or an overlap. A track
  // without a start (no INDEX 01) is not sought: it runs from the beginning.
  const double end = track.InSeconds ? track.EndTime : CueTrackStart(Tracks[K + 1]);
  Job.Length = std::llround(end * rate) - std::llround(std::max(0.0, start) * rate);
  if (Job.Length <= 0)
    throw std::runtime_error(fmt::sprintf("CUE sheet %s: track %d does not end after it starts",
                                          Job.SourceFileName, track.TrackNumber));
}

TSlotState SlotState(const TThreadRec &Slot) {
  if (!Slot.Thread) return TSlotState::Free;
  // Done first: a worker raises Failed before Done, so a slot seen done has
  // already shown its failure, if any.
  const bool done = Slot.Done;
  if (Slot.Failed) return TSlotState::Failed;
  return done ? TSlotState::Ended : TSlotState::Busy;
}

int FirstFreeSlot(const std::deque<TThreadRec> &Slots) {
  for (size_t s = 0; s < Slots.size(); ++s)
    if (SlotState(Slots[s]) == TSlotState::Free) return int(s);
  return -1;
}

void TCoder_engine::ConvertJobs(std::vector<TFileListRec> &Jobs) {
  if (Jobs.empty()) return;
  const int slots = std::max(1, std::min<int>(ThreadCount, int(Jobs.size())));
  Threads.clear();
  for (int s = 0; s < slots; ++s) Threads.emplace_back();
  Merger = std::make_unique<TProgressMerger>(int32_t(Jobs.size()), slots, TotalDuration, StartTicks);
  Schedule = TSchedule{};
  Schedule.Jobs = &Jobs;
  JobOutcomes.assign(Jobs.size(), TJobOutcome::Unfinished);

  // A pass, then a wait for a worker to end (or a cancel), until every job
  // is done. Each wake-up runs a pass too: a modal dialog opened meanwhile
  // holds this loop's wait until it closes, but its loop serves the wake-ups.
  {
    TWakeHandlerScope wakeUps([this] { SchedulePass(); });
    for (;;) {
      SchedulePass();
      if (Schedule.Stopping || (Schedule.Next == Jobs.size() && !AnyWorkerLeft())) break;
      WaitWithMessages(1000);
      MainThreadPump().ProcessPending();
    }
  }
  StopWorkers();
  OutputCount -= SkippedCount;  // found complete by their workers
  const bool failure = Schedule.Failure;
  const std::exception_ptr error = Schedule.Error;
  Schedule = TSchedule{};
  if (failure || KeepGoing) ReportFailures();  // kept going: those that failed while stopping
  Threads.clear();
  Merger.reset();
  AssignedOutputs.clear();
  SourceFiles.clear();
  if (error) std::rethrow_exception(error);
  if (failure) throw std::runtime_error(CoderEngineError);
}

void TCoder_engine::SchedulePass() {
  TSchedule &s = Schedule;
  if (!s.Jobs || s.Stopping) return;
  try {
    s.Failure = CollectEndedWorkers();
    if (s.Failure || Cancelled) {
      s.Stopping = true;
      TerminateWorkers();  // now, even while a dialog keeps the loop from ending
      return;
    }
    FillFreeSlots();
  } catch (...) {
    s.Error = std::current_exception();
    s.Stopping = true;
    TerminateWorkers();
  }
}

void TCoder_engine::FillFreeSlots() {
  TSchedule &s = Schedule;
  for (int slot; s.Next < s.Jobs->size() && (slot = FirstFreeSlot(Threads)) >= 0;) {
    Threads[size_t(slot)].Job = s.Next;
    StartJob(slot, (*s.Jobs)[s.Next++]);
    ++StartedCount;
  }
}

bool TCoder_engine::CollectEndedWorkers() {
  bool failure = false;
  for (TThreadRec &t : Threads) {
    switch (SlotState(t)) {
      case TSlotState::Failed:
        if (!KeepGoing) {
          failure = true;  // left to StopWorkers, with the others
          break;
        }
        // Kept going: listed, and the slot freed like an ended one.
        if (!t.Thread->Finished()) break;
        AddFailure(t.Error);
        t.Failed = false;  // listed once: not again by ReportFailures
        t.Thread->WaitFor();
        AlbumJobEnded(*t.Thread);
        t.Thread.reset();
        break;
      case TSlotState::Ended:  // ended by itself: only StopWorkers stops a worker
        // Collected once its thread is through, so the join does not pump:
        // a pass never has a loop (a dialog's) opened above it. The thread's
        // own wake-up, after that, brings the next pass.
        if (!t.Thread->Finished()) break;
        CountOutcome(t);
        t.Thread->WaitFor();
        t.Thread.reset();
        break;
      default:
        break;
    }
  }
  return failure;
}

bool TCoder_engine::AnyWorkerLeft() const {
  return std::any_of(Threads.begin(), Threads.end(), [](const TThreadRec &t) { return bool(t.Thread); });
}

void TCoder_engine::StartJob(int Slot, const TFileListRec &Job) {
  TThreadRec &rec = Threads[size_t(Slot)];
  if (rec.Thread) throw EAssertFailed("Assert failed : StartJob : the slot is busy");
  // The flags are the worker's to raise: cleared before it exists.
  rec.Done = false;
  rec.Failed = false;
  rec.Percent = 0;
  rec.Thread = std::make_unique<TCoderThread>(
      Slot, int32_t(Threads.size()), Job,
      [this](const TProgressRec &p) { WorkerProgress(p); },
      [this](int32_t s) { SlotFinished(s); },
      [this](int32_t s, const TThreadErrorRec &e) { SlotFailed(s, e); });
  rec.Thread->Resume();
}

void TCoder_engine::TerminateWorkers() {
  for (TThreadRec &t : Threads)
    if (t.Thread) t.Thread->Terminate();
}

void TCoder_engine::StopWorkers() {
  TerminateWorkers();  // every worker first, so they wind down together
  for (TThreadRec &t : Threads) {
    if (!t.Thread) continue;
    t.Thread->WaitFor();
    // A job whose output took its name before the stop is converted.
    CountOutcome(t);
    t.Thread.reset();
  }
}

void TCoder_engine::CountOutcome(const TThreadRec &Slot) {
  const TCoderThread &Worker = *Slot.Thread;
  AlbumJobEnded(Worker);
  const TJobOutcome outcome = Worker.Outcome();
  if (Slot.Job < JobOutcomes.size()) JobOutcomes[Slot.Job] = outcome;
  switch (outcome) {
    case TJobOutcome::Converted:
      ++ConvertedCount;
      Redone.Add(Slot.Thread->Found());
      break;
    case TJobOutcome::LeftAlone: ++SkippedCount; break;
    default: return;
  }
  if (Beside) Beside->AddOutput(Worker.SourceFileName(), Worker.OutputFileName());
}

void TCoder_engine::CopyBesideFiles() {
  // On the main thread after the jobs: the window stays alive and Cancel
  // arrives between the blocks of a copy.
  std::vector<TThreadWarningRec> warnings;
  Beside->Copy(
      [this] {
        MainThreadPump().ProcessPending();
        return bool(Cancelled);
      },
      warnings);
  BesideCopied = Beside->Copied;
  BesidePresent = Beside->Present;
  std::scoped_lock lock(WarningLock);
  for (TThreadWarningRec &w : warnings) {
    w.JobNumber = std::numeric_limits<int32_t>::max();  // after those of the jobs
    Warnings.push_back(std::move(w));
  }
}

void TCoder_engine::AlbumJobEnded(const TCoderThread &Worker) {
  const TFileListRec &job = Worker.EndedJob();
  if (job.Album < 0 || size_t(job.Album) >= Albums.size()) return;
  TAlbumRec &album = Albums[size_t(job.Album)];
  ++album.Ended;
  // Skipped, failed or stopped: the album's loudness is not known.
  if (Worker.Outcome() != TJobOutcome::Converted || !Worker.Loudness()) album.Whole = false;
  if (!album.Whole) {
    album.Meters.clear();
    album.Tracks.clear();
  } else {
    album.Meters.push_back(Worker.Loudness());
    album.Tracks.push_back(job);
  }
  // A run that stops writes no album's values any more.
  if (album.Ended == album.Jobs && album.Whole && !Schedule.Stopping && !Cancelled) WriteAlbumGain(job.Album);
}

void TCoder_engine::WriteAlbumGain(int32_t Album) {
  TAlbumRec &album = Albums[size_t(Album)];
  std::vector<TFileListRec> tracks = std::move(album.Tracks);
  std::vector<std::shared_ptr<const TLoudnessMeter>> meters = std::move(album.Meters);
  if (tracks.size() < 2) return;  // one track: its worker wrote both values
  std::vector<const TLoudnessMeter *> states;
  double peak = 0;
  for (const auto &meter : meters) {
    states.push_back(meter.get());
    peak = std::max(peak, meter->Peak());
  }
  const double loudness = AlbumLoudness(states);
  for (TFileListRec &track : tracks) {
    if (Cancelled) return;
    SetAlbumGain(track.Tags.ReplayGain, loudness, peak);
    // Tagged as a copy under the hidden name, which then takes the output's
    // place: no output is ever seen half-tagged.
    try {
      TPartialOutput copy(track.OutputFileName, &Partials);
      copy.Create();
      std::filesystem::copy_file(track.OutputFileName, copy.Name(), std::filesystem::copy_options::overwrite_existing);
      TTagRec tags;
      if (track.WriteTags) tags = track.Tags;
      tags.ReplayGain = track.Tags.ReplayGain;
      const TFormatRow *row = FormatRow(track.DestinationFormat);
      WriteOutputTags(copy.Name(), row ? row->WriteTags : nullptr, tags,
                      track.WriteTags ? ReadCoverArt(track.SourceFileName) : TCoverArt{});
      copy.Complete(RegularFileIdentity(track.OutputFileName));
    } catch (const std::exception &e) {
      TThreadWarningRec note;
      note.InputFileName = track.SourceFileName;
      note.OutputFileName = track.OutputFileName;
      note.JobNumber = track.JobNumber;
      note.IsTrack = track.IsTrack;
      note.Note = FormatText(text_album_gain_not_written, e.what());
      WorkerWarning(note);
    }
  }
}

void TCoder_engine::ReportFailures() {
  for (TThreadRec &t : Threads)
    if (t.Failed) AddFailure(t.Error);
}

void TCoder_engine::AddFailure(const TThreadErrorRec &Failure) {
  Failures.push_back(Failure);
  ErrorText += FailureDetails(Failure) + "\r\n";
}

void TCoder_engine::SlotFinished(int32_t Slot) {
  TThreadRec &t = Threads[size_t(Slot)];
  t.Done = true;  // last: the loop may take the slot back once it sees Done
  MainThreadPump().Wake();
}

void TCoder_engine::SlotFailed(int32_t Slot, const TThreadErrorRec &Error) {
  TThreadRec &t = Threads[size_t(Slot)];
  t.Error = Error;
  t.Failed = true;  // after the record: the loop reads Error once it sees Failed
  MainThreadPump().Wake();
}

void TCoder_engine::WorkerWarning(const TThreadWarningRec &Warning) {
  std::lock_guard<std::mutex> lock(WarningLock);
  auto at = std::upper_bound(Warnings.begin(), Warnings.end(), Warning.JobNumber,
                             [](int32_t job, const TThreadWarningRec &w) { return job < w.JobNumber; });
  Warnings.insert(at, Warning);
}

std::string WarningText(const TThreadWarningRec &Warning) {
  std::string text = Warning.InputFileName;
  if (Warning.IsTrack) text += " (" + std::filesystem::path(Warning.OutputFileName).filename().string() + ")";
  if (!Warning.Note.empty()) return text + ": " + Warning.Note;
  if (Warning.IsNote()) {
    std::string what;
    if (Warning.Rate > 0)
      what = FormatText(text_note_converted, Warning.Rate, Warning.Channels, Warning.Format, Warning.AskedRate,
                        Warning.AskedChannels);
    if (Warning.Kbps > 0)
      what += (what.empty() ? "" : "; ") + FormatText(text_note_bitrate, Warning.Kbps, Warning.Format, Warning.AskedKbps);
    return text + ": " + what;
  }
  text += Warning.ExpectedSeconds >= 0
              ? fmt::sprintf(": %.2f s of %.2f s decoded", Warning.DecodedSeconds, Warning.ExpectedSeconds)
              : fmt::sprintf(": %.2f s decoded", Warning.DecodedSeconds);
  if (Warning.EndMissing) text += "; the end of the data is missing";
  if (Warning.DamagedBlocks > 0)
    text += fmt::sprintf("; %d damaged block%s passed over", Warning.DamagedBlocks,
                         Warning.DamagedBlocks == 1 ? "" : "s");
  return text;
}

void TCoder_engine::WorkerProgress(TProgressRec Rec) {
  if (Rec.SlotIndex >= 0 && size_t(Rec.SlotIndex) < Threads.size())
    Threads[size_t(Rec.SlotIndex)].Percent = Rec.Percent;
  if (Merger) Merger->Merge(Rec, GetTickCount());
  if (OnProgress) OnProgress(Rec);
}

void TCoder_engine::MirrorNote(const std::string &Path, const std::string &Note) {
  TThreadWarningRec note;
  note.InputFileName = Path;
  note.Note = Note;
  WorkerWarning(note);
}

void TCoder_engine::PlanMirror(std::vector<TFileListRec> &Jobs) {
  const TMirrorManifest manifest = ReadMirrorManifest(DestinationFolder);
  if (manifest.Damaged) MirrorNote(DestinationFolder + MirrorManifestName, text_mirror_list_damaged);
  std::vector<TMirrorEntry> outputs;
  std::set<std::string> idle;
  for (const TSourceItem &item : *SourceList) idle.insert(item.FileName);
  for (const TFileListRec &job : Jobs) {
    idle.erase(job.SourceFileName);
    TMirrorEntry entry;
    entry.Source = job.SourceFileName;
    entry.Output = MirrorRelative(job.OutputFileName, DestinationFolder);
    outputs.push_back(std::move(entry));
  }
  MirrorStart = MirrorPendingTime();
  TMirrorPlan plan = PlanMirrorEntries(manifest.Entries, outputs, idle, MirrorStart);
  // A file of the list that is no longer what this program wrote (replaced,
  // or a link now) is the user's: it stays, and leaves the list.
  std::vector<TMirrorEntry> removals;
  for (const TMirrorEntry &e : plan.Removals) {
    const std::string path = DestinationFolder + e.Output;
    if (StillMirrorOutput(path, e) && InsideMirror(path, DestinationFolder))
      removals.push_back(e);
    else if (access(path.c_str(), F_OK) == 0 || errno != ENOENT)
      MirrorNote(path, text_mirror_left_changed);
  }
  std::set<std::string> removed, kept;
  for (const TMirrorEntry &e : plan.Kept) kept.insert(e.Output);
  for (const TMirrorEntry &e : removals) {
    Planned.push_back({true, e.Source, DestinationFolder + e.Output});
    removed.insert(e.Output);
  }
  if (DryRun) {
    for (size_t i = 0; i < Jobs.size() && !Cancelled; ++i)
      if (removed.count(outputs[i].Output) ||
          ExamineExistingOutput(Jobs[i], [this] { return bool(Cancelled); }) != TExistingOutput::Complete)
        Planned.push_back({false, Jobs[i].SourceFileName, Jobs[i].OutputFileName});
    Jobs.clear();
    return;
  }

  // The outputs about to be written are listed before any is: one that takes
  // its name before the list is saved again is still found as the program's.
  RemoveLeftManifests(DestinationFolder);
  // Until they are gone, the outputs to remove stay listed (once: an output
  // a job is about to replace is its entry's).
  MirrorEntries = plan.Kept;
  for (const TMirrorEntry &e : removals)
    if (!kept.count(e.Output)) MirrorEntries.push_back(e);
  WriteMirrorManifest(DestinationFolder, MirrorEntries);
  MirrorEntries.resize(plan.Kept.size());
  JobOutcomes.assign(Jobs.size(), TJobOutcome::Unfinished);
  // Removed before the conversions, which may take a removed output's name.
  for (const TMirrorEntry &e : removals) {
    const std::string path = DestinationFolder + e.Output;
    if (RemoveMirrorOutput(path, DestinationFolder)) {
      ++RemovedCount;
    } else {
      MirrorNote(path, std::strerror(errno));
      if (!kept.count(e.Output)) MirrorEntries.push_back(e);  // tried again next time
    }
  }
  std::set<std::string> made;
  for (const TFileListRec &job : Jobs) {
    const std::string folder = job.OutputFileName.substr(0, job.OutputFileName.find_last_of('/') + 1);
    if (made.insert(folder).second) MakeMirrorFolder(folder);
  }
}

void TCoder_engine::FinishMirror(const std::vector<TFileListRec> &Jobs) {
  for (size_t i = 0; i < Jobs.size() && i < JobOutcomes.size(); ++i) {
    const TJobOutcome outcome = JobOutcomes[i];
    if (outcome == TJobOutcome::Converted || outcome == TJobOutcome::LeftAlone)
      RecordMirrorOutput(Jobs[i].OutputFileName, MirrorEntries[i]);
    else if (MirrorEntries[i].PendingSince == MirrorStart)
      MirrorEntries[i].PendingSince = 0;  // stopped, failed or not begun: whatever lies there now is not ours
    if (outcome == TJobOutcome::Converted) Planned.push_back({false, Jobs[i].SourceFileName, Jobs[i].OutputFileName});
  }
  // An entry neither complete nor pending names nothing this program wrote.
  std::erase_if(MirrorEntries, [](const TMirrorEntry &e) { return e.Size < 0 && e.PendingSince == 0; });
  try {
    WriteMirrorManifest(DestinationFolder, MirrorEntries);
  } catch (const std::exception &e) {
    MirrorNote(DestinationFolder + MirrorManifestName, e.what());
  }
}
