// SPDX-License-Identifier: GPL-3.0-or-later
// The worker that converts one job: decoder -> sample conversion -> encoder.
//
// Created suspended by the engine's thread (the main thread), started with
// Resume, stopped with Terminate, and waited for with WaitFor on the main
// thread. It reports to the engine only through its three handlers:
// OnProgress runs on the main thread (the worker waits for it), OnError and
// OnFinished on the worker; OnFinished comes after every job, whatever its end.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "base/misc.h"
#include "engine/existing_output.h"
#include "engine/loudness.h"
#include "engine/partial_output.h"
#include "platform/main_thread/worker_thread.h"
#include "sources/decoder.h"

// Length of a job that runs to the end of its source.
constexpr int64_t LengthToEnd = std::numeric_limits<int64_t>::max();

// A job whose source was damaged or stopped early: converted as far as it
// decoded, and listed after the run. Or, with a Note, something else the
// user should know of a job that converted (a damaged cover left out).
struct TThreadWarningRec {
  std::string InputFileName;
  std::string OutputFileName;
  int32_t JobNumber = 0;
  bool IsTrack = false;
  double DecodedSeconds = 0;    // what the job converted
  double ExpectedSeconds = -1;  // what the source or track states; -1 when unknown
  int64_t DamagedBlocks = 0;    // damaged blocks the decoder passed over
  bool EndMissing = false;      // the source stopped before its end
  std::string Note;             // in place of the decoding figures
  // Or a note: the encoder of Format took the source at another rate, channel
  // count or bitrate than asked (0: that one was kept).
  std::string Format;
  int32_t AskedRate = 0, AskedChannels = 0, Rate = 0, Channels = 0;
  int32_t AskedKbps = 0, Kbps = 0;
  bool IsNote() const { return !Format.empty(); }
};

// One conversion job. Its output is written under a hidden name and gets
// OutputFileName once complete; a job that fails or is stopped leaves nothing.
struct TFileListRec {
  std::string SourceFileName;
  std::string OutputFileName;
  int32_t JobNumber = 0;                 // 1-based
  int32_t JobCount = 0;
  TDestinationFormat DestinationFormat = dfWAV;
  int64_t Length = LengthToEnd;          // sample frames of the source to convert
  double Start = -1.0;                   // seconds into the source; -1: a whole source
  bool IsTrack = false;                  // one track or piece of a source
  TPreprocessOptions PreprocessOptions;  // its rate and channels apply to the samples
  const void *Options = nullptr;         // the format's options record, owned by the engine
  TTagRec Tags;
  // Tags (and the source's cover) go into the output's own tags as well.
  bool WriteTags = true;
  TAudioInfo AudioInfo;
  // The file under OutputFileName when the job was named, which the output
  // replaces; nothing else there is ever replaced.
  TFileIdentity Replaces;
  // A stopped job gives its shorter file the output's name instead of removing it.
  bool KeepPartial = false;
  // A complete output already under the name is left alone (so is one that
  // another run, writing it meanwhile, completes); anything else there is
  // replaced, never sidestepped with a numbered name.
  bool SkipExisting = false;
  // A lossless output is decoded again before it takes its name and must
  // give the samples its encoder was given; Verified counts those that did.
  bool Verify = false;
  std::atomic<int32_t> *Verified = nullptr;
  // Above 1: the output is encoded in spans on that many threads (where its
  // format can join them), for a run with fewer jobs than workers.
  int32_t SpanThreads = 1;
  // Where the worker registers the hidden file it writes; may be null.
  TPartialFiles *Partials = nullptr;
  // Called on the worker when the source turns out damaged or short.
  std::function<void(const TThreadWarningRec &)> OnWarning;
  // The loudness of what the encoder is given goes into the output's tags
  // (Tags.ReplayGain); the album's values follow from the engine, or here
  // when the album is this one job.
  bool ReplayGain = false;
  int32_t Album = -1;  // the engine's album of the job
  int32_t AlbumSize = 0;
};

// The sample depth a destination's encoder takes for a source of SourceBits:
// 16 (integers) or, above 16, what the worker packs the decoder's floats to.
int32_t DecodedBitsPerSample(int32_t SourceBits, TDestinationFormat Destination);

// How a job ended, as far as its output goes.
enum class TJobOutcome : uint8_t {
  Unfinished,  // failed or stopped (a kept shorter file included)
  Converted,   // the complete output took its name
  LeftAlone,   // a complete output was there already
};

class TCustomCoder;
// Ends an encoder as every worker does: Abort when Stopped (Keep: its shorter
// file is kept), then Finish under the process-wide finish lock. The
// encoder's own waiting (a spread coder's spans) comes first, outside the
// lock, so other workers' finishes never wait for it. Raises what Finish raises.
void EndEncoder(TCustomCoder &Encoder, bool Stopped, bool Keep);

class TCoderThread : public TWorkerThread {
 public:
  using TProgressHandler = std::function<void(const TProgressRec &)>;
  using TFinishedHandler = std::function<void(int32_t Slot)>;
  using TErrorHandler = std::function<void(int32_t Slot, const TThreadErrorRec &)>;

  TCoderThread(int32_t Slot, int32_t SlotCount, const TFileListRec &Job,
               TProgressHandler OnProgress, TFinishedHandler OnFinished, TErrorHandler OnError);
  ~TCoderThread() override;  // stops and waits for the thread if it still runs

  // Once the output took its name, the job counts as converted, whatever
  // comes after (a stop included). Any thread.
  TJobOutcome Outcome() const { return OutcomeValue; }
  // What the job found under its output's name, skipping existing outputs.
  TExistingOutput Found() const { return FoundValue; }
  // The job's source, and its output under the name it took; read once the
  // worker has ended.
  const std::string &SourceFileName() const { return Job.SourceFileName; }
  const std::string &OutputFileName() const { return Job.OutputFileName; }
  // Once the thread has ended: the job as it ended (the output's name, the
  // loudness written), and its meter with ReplayGain (null otherwise).
  const TFileListRec &EndedJob() const { return Job; }
  std::shared_ptr<const TLoudnessMeter> Loudness() const { return Meter; }

 private:
  void Execute() override;
  class TEncoderEnd;
  // The phases of a job: the encoder started on the hidden file, the decoder
  // opened, then block after block from one to the other. A phase that fails
  // reports it once the encoder has ended.
  void Convert();
  // Brings Stream (the decoded one) within what the job's encoder takes with
  // Options, which may become a record of OwnOptions; false when the job
  // failed because a lossless output cannot hold the source.
  bool TakeWithin(TAudioInfoRec &Stream, const void *&Options, std::shared_ptr<void> &OwnOptions);
  bool StartEncoder(TEncoderEnd &Encoder, TPartialOutput &Partial);
  std::unique_ptr<TCustomDecoder> OpenDecoder(TEncoderEnd &Encoder, int BufferSize, int32_t Bits);
  // The decoder delivers DecodedBits (16, or 32: floats); Stream is the
  // decoded stream, Target what the encoder takes (both at the encoder's
  // depth); they differ when the job resamples or remixes.
  void ConvertBlocks(TCustomDecoder &Decoder, TEncoderEnd &Encoder, int BufferSize, int32_t DecodedBits,
                     const TAudioInfoRec &Stream, const TAudioInfoRec &Target);
  void ReportProgress(int32_t Percent, double Span);
  // Cause: which file failed and why (Reading, Reason, DamagedAt).
  void ReportError(const std::string &Message, const std::string &LastCall, int32_t Code,
                   const TThreadErrorRec &Cause);
  void ReportDamage(const TDecodeReport &Report, int64_t FramesRead, int32_t Rate);

  int32_t SlotIndex;
  int32_t SlotCount;
  TFileListRec Job;
  std::shared_ptr<TLoudnessMeter> Meter;
  std::string CompanionSuffix;  // of the encoder's second file, if it writes one
  // What the encoder was given instead of what the job asked, told once the
  // output is written.
  std::optional<TThreadWarningRec> Note;
  uint64_t StartTicks;
  TProgressHandler OnProgress;
  TFinishedHandler OnFinished;
  TErrorHandler OnError;
  TProgressRec Progress;
  std::atomic<TJobOutcome> OutcomeValue{TJobOutcome::Unfinished};
  std::atomic<TExistingOutput> FoundValue{TExistingOutput::None};
  // Skipping existing outputs: takes the hidden file, or finds the output
  // complete (a run that wrote it meanwhile waited for); false when the job
  // ends here.
  bool ClaimOutput(TPartialOutput &Partial);
};
