// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/coder_thread.h"

#include <fmt/printf.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

#include "base/texts.h"
#include "encoders/format.h"
#include "engine/failure_text.h"
#include "engine/output_verifier.h"
#include "engine/resampler.h"
#include "engine/sample_converter.h"
#include "platform/clock.h"
#include "platform/file_write.h"
#include "platform/main_thread/main_thread.h"
#include "sources/decoder.h"
#include "sources/ffmpeg_lib.h"
#include "tags/output_tags.h"

namespace {

// What an encoder is given when tags are turned off: the ones it writes itself
// (ID3v1, WMA attributes) stay out too.
TTagRec NoTags() {
  TTagRec none;
  none.Carried = false;
  return none;
}

// Tags turned off, the loudness still goes in: nothing else.
TTagRec LoudnessOnly(const TTagRec &Tags) {
  TTagRec only;
  only.ReplayGain = Tags.ReplayGain;
  return only;
}

// A warning or note about Job's output, saying which job it is.
TThreadWarningRec JobWarning(const TFileListRec &Job) {
  TThreadWarningRec warning;
  warning.InputFileName = Job.SourceFileName;
  warning.OutputFileName = Job.OutputFileName;
  warning.JobNumber = Job.JobNumber;
  warning.IsTrack = Job.IsTrack;
  return warning;
}

std::string ReplaceAll(std::string text, const std::string &from, const std::string &to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

}  // namespace

int32_t DecodedBitsPerSample(int32_t SourceBits, TDestinationFormat Destination) {
  const TFormatRow *row = FormatRow(Destination);
  const TSampleRule rule = row ? row->Samples : TSampleRule{};
  switch (SourceBits) {
    case 32: return rule.FromFloat;
    case 24: return rule.From24;
    case 8: return 16;
    default: return SourceBits;
  }
}

void EndEncoder(TCustomCoder &Encoder, bool Stopped, bool Keep) {
  if (Stopped) Encoder.Abort(Keep);
  Encoder.Drain();
  std::lock_guard<std::mutex> lock(EncoderFinishLock);
  Encoder.Finish();
}

// Ends the encoder once, whichever way the job ends: Abort when stopped,
// Finish and destroy under their locks. Then the file takes the output's name
// if it is complete (or, stopped, if its shorter part is to be kept);
// otherwise it goes.
class TCoderThread::TEncoderEnd {
 public:
  TEncoderEnd(std::unique_ptr<TCustomCoder> Coder, TPartialOutput &Partial, TFileListRec &Job,
              const TWorkerThread &Worker)
      : Encoder(std::move(Coder)), Partial(Partial), Job(Job), Worker(Worker) {
    Cause.CurrentInputFileName = Job.SourceFileName;
    Cause.CurrentOutputFileName = Job.OutputFileName;
  }
  ~TEncoderEnd() { Finish(); }
  TEncoderEnd(const TEncoderEnd &) = delete;
  TEncoderEnd &operator=(const TEncoderEnd &) = delete;

  TCustomCoder &Coder() const { return *Encoder; }
  // The job failed: its file goes. The first failure is the one reported.
  // Why writing failed is found out here, before the unfinished output goes
  // (a full disk has room again once it is gone).
  void Fail(const std::string &Why) {
    if (Failure) return;
    Failure = Why;
    DiagnoseWriting(Cause, LastFileError());
  }
  // The source failed: BassCode when it could not be opened (Seconds < 0),
  // else decoding broke off at Seconds.
  void FailReading(const std::string &Why, int BassCode, double Seconds) {
    if (Failure) return;
    Failure = Why;
    DiagnoseReading(Cause, BassCode, Seconds);
  }
  void Finish();

  std::optional<std::string> Failure;
  TThreadErrorRec Cause;  // which file failed and why
  // A stopped job that converted nothing has no shorter file to keep.
  int64_t FramesRead = 0;
  // The encoder's second file, named after the output; null when none.
  TPartialOutput *Companion = nullptr;
  std::string CompanionSuffix;
  // What the encoder was given, when its output is to be verified, at the
  // decoded depth FedBits.
  std::optional<TSampleHash> Fed;
  int32_t FedBits = 16;
  // The complete output took its name.
  bool Named = false;
  // Measures what the encoder is given, with ReplayGain.
  TLoudnessMeter *Meter = nullptr;

 private:
  std::unique_ptr<TCustomCoder> Encoder;
  TPartialOutput &Partial;
  TFileListRec &Job;
  const TWorkerThread &Worker;
};

void TCoderThread::TEncoderEnd::Finish() {
  if (!Encoder) return;
  const bool stopped = Worker.Terminated();
  try {
    EndEncoder(*Encoder, stopped, Job.KeepPartial && FramesRead > 0);
  } catch (const std::exception &e) {
    Fail(e.what());
  }
  {
    std::lock_guard<std::mutex> lock(EncoderReleaseLock);
    Encoder.reset();
  }
  // The tags go in before the file takes its name: no output shows without them.
  bool coverLeftOut = false;
  if (!Failure && !stopped && (Job.WriteTags || Meter)) {
    try {
      if (Meter) {
        Job.Tags.ReplayGain = TrackGain(*Meter);
        if (Job.AlbumSize == 1) SetAlbumGain(Job.Tags.ReplayGain, Meter->Loudness(), Meter->Peak());
      }
      const TCoverArt cover = Job.WriteTags ? ReadCoverArt(Job.SourceFileName) : TCoverArt{};
      coverLeftOut = cover.Damaged;
      const TFormatRow *row = FormatRow(Job.DestinationFormat);
      WriteOutputTags(Partial.Name(), row ? row->WriteTags : nullptr, Job.WriteTags ? Job.Tags : LoudnessOnly(Job.Tags),
                      cover);
    } catch (const std::exception &e) {
      Fail(e.what());
    }
  }
  // Checked before it takes the output's name: a bad file never has it, nor
  // one whose check a stop cut short.
  bool unchecked = false;
  if (!Failure && !stopped && Fed) {
    try {
      VerifyOutput(Partial.Name(), Job.OutputFileName, Job.DestinationFormat, FedBits, *Fed,
                   [this] { return Worker.Terminated(); });
      if (Job.Verified) ++*Job.Verified;
    } catch (const std::exception &e) {
      unchecked = Worker.Terminated();
      if (!unchecked) {
        // Written in full, but not right: no system error explains it.
        Failure = e.what();
        Cause.Reading = false;
        Cause.Reason = TFailureReason::Other;
      }
    }
  }
  if (!Failure && !unchecked && (!stopped || (Job.KeepPartial && FramesRead > 0))) {
    try {
      Job.OutputFileName = Partial.Complete(Job.Replaces, Job.SkipExisting);
      Named = !stopped;
      if (Companion) Companion->CompleteAs(Job.OutputFileName + CompanionSuffix);
      if (coverLeftOut && Job.OnWarning) {
        TThreadWarningRec note = JobWarning(Job);
        note.Note = text_cover_left_out;
        Job.OnWarning(note);
      }
    } catch (const std::exception &e) {
      Fail(e.what());
    }
  }
  Partial.Discard();
  if (Companion) Companion->Discard();
}

TCoderThread::TCoderThread(int32_t Slot, int32_t SlotCount, const TFileListRec &Job,
                           TProgressHandler OnProgress, TFinishedHandler OnFinished,
                           TErrorHandler OnError)
    : SlotIndex(Slot), SlotCount(SlotCount), Job(Job), StartTicks(GetTickCount()),
      OnProgress(std::move(OnProgress)), OnFinished(std::move(OnFinished)),
      OnError(std::move(OnError)) {}

TCoderThread::~TCoderThread() { StopAndWait(); }

void TCoderThread::Execute() {
  Convert();
  std::lock_guard<std::mutex> lock(FinishReportLock);
  if (OnFinished) OnFinished(SlotIndex);
}

void TCoderThread::ReportError(const std::string &Message, const std::string &LastCall,
                               int32_t Code, const TThreadErrorRec &Cause) {
  TThreadErrorRec error = Cause;
  // The hidden name is the program's own business: the user knows the output's.
  error.ErrorMessage = ReplaceAll(Message, PartialFileName(Job.OutputFileName), Job.OutputFileName);
  if (!CompanionSuffix.empty()) {
    const std::string companion = Job.OutputFileName + CompanionSuffix;
    error.ErrorMessage = ReplaceAll(error.ErrorMessage, PartialFileName(companion), companion);
  }
  error.LastCall = LastCall;
  error.ErrorCode = Code;
  error.CurrentInputFileName = Job.SourceFileName;
  error.CurrentOutputFileName = Job.OutputFileName;
  std::lock_guard<std::mutex> lock(ErrorReportLock);
  if (OnError) OnError(SlotIndex, error);
}

void TCoderThread::ReportProgress(int32_t Percent, double Span) {
  if (!OnProgress) return;
  FillProgressRec(Job.SourceFileName, Job.OutputFileName, FormatElapsed(GetTickCount(), StartTicks),
                  Job.JobNumber, Job.JobCount, Percent, SlotIndex, SlotCount, Span,
                  Job.IsTrack ? stTrack : stWholeSource, Progress);
  std::lock_guard<std::mutex> lock(ProgressReportLock);
  MainThreadPump().RunOnMainThread([this] { OnProgress(Progress); });
}

void TCoderThread::ReportDamage(const TDecodeReport &Report, int64_t FramesRead, int32_t Rate) {
  if (!Job.OnWarning) return;
  const double rate = std::max(1, Rate);
  TThreadWarningRec warning = JobWarning(Job);
  warning.DecodedSeconds = double(FramesRead) / rate;
  warning.DamagedBlocks = Report.DamagedBlocks;
  if (Job.Length != LengthToEnd)
    warning.ExpectedSeconds = double(Job.Length) / rate;
  else if (Report.StatedSeconds >= 0)
    warning.ExpectedSeconds = std::max(0.0, Report.StatedSeconds - std::max(0.0, Job.Start));
  // Stated lengths of sound files from other encoders miss by a few hundred
  // samples (delay, padding, priming); only a real shortfall counts.
  const double tolerance = std::max(0.1, 4096 / rate);
  const bool ranOut = Report.EndSeconds >= 0;
  const bool cutShort = ranOut && (Report.EndMarkMissing || (warning.ExpectedSeconds >= 0 &&
                                   warning.DecodedSeconds < warning.ExpectedSeconds - tolerance));
  warning.EndMissing = cutShort;
  if (cutShort || Report.DamagedBlocks > 0) Job.OnWarning(warning);
}

void TCoderThread::Convert() {
  TAudioInfo &info = Job.AudioInfo;  // this worker's own copy
  if (info.Index < 0 || size_t(info.Index) >= info.Streams.size()) {
    ReportError("Assert failed : coder_thread : no audio information", "", 0, {});
    return;
  }
  // The depth the decoder delivers, and with it what the encoder receives.
  TAudioInfoRec &stream = info.Streams[size_t(info.Index)];
  const int32_t bits = DecodedBitsPerSample(stream.BitsPerSample, Job.DestinationFormat);
  // Wider sources come as floats whatever the encoder takes: the way down to
  // 16 bits is dithered on the way to the encoder, after any resampling.
  const int32_t deliveredBits = stream.BitsPerSample > 16 ? 32 : bits;
  stream.BitsPerSample = bits;
  stream.BytesPerSample = bits / 8;
  // The encoder sees the rate and channels the job asks for; positions and
  // lengths of the job stay in the source's frames.
  TAudioInfo target = info;
  const void *options = Job.Options;
  std::shared_ptr<void> ownOptions;  // the defaults, or a copy at a bitrate the encoder takes
  if (!TakeWithin(target.Streams[size_t(info.Index)], options, ownOptions)) return;
  if (Job.ReplayGain) {
    const TAudioInfoRec &taken = target.Streams[size_t(info.Index)];
    try {
      Meter = std::make_shared<TLoudnessMeter>(taken.Channels, taken.SampleRate);
    } catch (const std::exception &e) {
      ReportError(e.what(), "TLoudnessMeter", 0, {});
      return;
    }
  }

  // The encoder, writing under the output's hidden name.
  ClearLastFileError();
  TPartialOutput partial(Job.OutputFileName, Job.Partials);
  if (Job.SkipExisting && !ClaimOutput(partial)) return;
  std::unique_ptr<TCustomCoder> coder =
      CreateCoder(Job.DestinationFormat, partial.Name(), Job.WriteTags ? Job.Tags : NoTags(), target, options,
                  Job.SpanThreads);
  if (!coder) {
    ReportError("Assert failed : FCoder = nil", "", 0, {});
    return;
  }
  std::optional<TPartialOutput> companion;
  CompanionSuffix = coder->CompanionSuffix();
  if (!CompanionSuffix.empty()) {
    companion.emplace(Job.OutputFileName + CompanionSuffix, Job.Partials);
    coder->SetCompanionFileName(companion->Name());
  }
  TEncoderEnd encoder(std::move(coder), partial, Job, *this);
  encoder.Meter = Meter.get();
  if (companion) {
    encoder.Companion = &*companion;
    encoder.CompanionSuffix = CompanionSuffix;
  }
  // Debug runs write no audio: nothing to check.
  if (Job.Verify && DebugMode == 0 && IsVerifiable(Job.DestinationFormat, options)) {
    encoder.Fed.emplace();
    encoder.FedBits = bits;
  }
  if (!StartEncoder(encoder, partial)) return;
  const int bufferSize = encoder.Coder().GetBufferSize();

  std::unique_ptr<TCustomDecoder> decoder = OpenDecoder(encoder, bufferSize, deliveredBits);
  if (!decoder) return;
  ConvertBlocks(*decoder, encoder, bufferSize, deliveredBits, stream, target.Streams[size_t(info.Index)]);

  // Release everything; report a failure once the output is dealt with.
  decoder.reset();
  encoder.Finish();
  if (encoder.Named && !encoder.Failure) OutcomeValue = TJobOutcome::Converted;
  if (encoder.Failure) ReportError(*encoder.Failure, "", 0, encoder.Cause);
}

bool TCoderThread::ClaimOutput(TPartialOutput &Partial) {
  auto stopped = [this] { return Terminated(); };
  TFileIdentity examined;
  for (int idle = 0;;) {
    // What is there now: the file of the job's naming, or one that another
    // run, writing this output meanwhile, has completed.
    const TFileIdentity there = RegularFileIdentity(Job.OutputFileName);
    if (there && there != examined) {
      const TExistingOutput found = ExamineExistingOutput(Job, stopped);
      if (Terminated()) return false;
      if (!examined && there == Job.Replaces) FoundValue = found;
      if (found == TExistingOutput::Complete) {
        OutcomeValue = TJobOutcome::LeftAlone;
        return false;
      }
      examined = there;
    }
    try {
      if (Partial.CreateUnlessTaken()) return true;
    } catch (const std::exception &) {
      return true;  // cannot be created: the encoder's start reports why, as without skipping
    }
    const int waited = WaitWhileHeld(Partial.Name(), stopped);
    if (waited < 0) return false;
    // Not held: left by a run that was killed. Something that cannot be
    // removed is left to the encoder's start to report.
    if (waited == 0 && ++idle > 2) return true;
    const size_t slash = Job.OutputFileName.find_last_of('/');
    RemoveLeftPartials(slash == std::string::npos ? std::string() : Job.OutputFileName.substr(0, slash + 1),
                       {RegularFileIdentity(Job.SourceFileName)});
  }
}

bool TCoderThread::TakeWithin(TAudioInfoRec &Stream, const void *&Options, std::shared_ptr<void> &OwnOptions) {
  const TFormatRow *row = FormatRow(Job.DestinationFormat);
  if (!row || !row->NewOptions) return true;  // no encoder: said when it is created
  if (!Options) {
    OwnOptions = row->NewOptions();
    Options = OwnOptions.get();
  }
  const TAudioInfoRec asked = PreprocessedStream(Job.PreprocessOptions, Stream);
  const TAudioInfoRec taken = row->Takes ? StreamTaken(asked, row->Takes(Options)) : asked;
  TThreadWarningRec note = JobWarning(Job);
  if (taken.SampleRate != asked.SampleRate || taken.Channels != asked.Channels) {
    // Lossless means what was asked, sample for sample: no conversion stands in.
    // Save for DSD's rate: its PCM is already a conversion at a rate of the
    // decoder's choosing (DSD128 gives 705.6 kHz), taken at the nearest rate
    // of its family that the format holds.
    const bool dsdRate = GetFileExtension(Job.SourceFileName) == "dsf" && taken.Channels == asked.Channels;
    if (row->Lossless && row->Lossless(Options) && !dsdRate) {
      const std::string why =
          taken.Channels != asked.Channels
              ? FormatText(text_holds_channels, row->Name, taken.Channels, asked.Channels)
              : FormatText(text_holds_rates, row->Name, row->Takes(Options).MinRate, row->Takes(Options).MaxRate,
                           asked.SampleRate);
      TThreadErrorRec cause;
      cause.Reason = TFailureReason::NotHeld;
      ReportError(why, "", 0, cause);
      return false;
    }
    note.AskedRate = asked.SampleRate;
    note.AskedChannels = asked.Channels;
    note.Rate = taken.SampleRate;
    note.Channels = taken.Channels;
  }
  Stream = taken;
  if (row->FitBitrate)
    if (std::shared_ptr<void> fitted = row->FitBitrate(Options, Stream, note.AskedKbps, note.Kbps)) {
      OwnOptions = std::move(fitted);
      Options = OwnOptions.get();
    }
  if (note.Rate > 0 || note.Kbps > 0) {
    note.Format = row->Name;
    Note = note;
  }
  return true;
}

bool TCoderThread::StartEncoder(TEncoderEnd &Encoder, TPartialOutput &Partial) {
  TCustomCoder &coder = Encoder.Coder();
  std::string errorText;
  int result;
  try {
    if (!Partial.Created()) Partial.Create();
    if (Encoder.Companion) Encoder.Companion->Create();
  } catch (const std::exception &e) {
    errorText = std::string(CreateFileStreamFailure) + e.what();
  }
  try {
    result = errorText.empty() ? coder.Init(errorText) : 1;
  } catch (const std::exception &e) {
    result = 1;
    errorText = e.what();
  }
  if (result == 0) return true;
  const std::string className = coder.ClassName();
  const std::string detail = className + "\r\n\"" + ReplaceAll(errorText, "\r\n", " ") + "\"";
  Encoder.Fail(errorText);
  Encoder.Finish();
  ReportError(FormatText(text_failed_to_init_encoder, detail), className + ".Init", result, Encoder.Cause);
  return false;
}

std::unique_ptr<TCustomDecoder> TCoderThread::OpenDecoder(TEncoderEnd &Encoder, int BufferSize, int32_t Bits) {
  try {
    TSupportedFileTypes row;
    InputFileByType(GetFileExtension(Job.SourceFileName), row);
    if (row.CodecType == ctFFmpeg)
      return std::make_unique<TFFMPEGDecoder>(false, Job.SourceFileName, Job.Start, 0, 0, BufferSize,
                                              Job.AudioInfo);
    if (row.CodecType != ctBASS)
      throw std::runtime_error("No decoder for the type " + row.Extension);
    uint32_t flags = BASS_STREAM_DECODE;
    if (IsWideFileNamePlatform) flags |= BASS_UNICODE;
    if (Bits > 16) flags |= BASS_SAMPLE_FLOAT;
    if (Job.Start != 0.0) flags |= BASS_STREAM_PRESCAN;
    return std::make_unique<TBASSDecoder>(false, Job.SourceFileName, Job.Start, 0, flags, BufferSize,
                                          Job.AudioInfo);
  } catch (const std::exception &e) {
    Encoder.FailReading(e.what(), BASS_ErrorGetCode(), -1);
    Encoder.Finish();
    ReportError(e.what(), "", 0, Encoder.Cause);
    return nullptr;
  }
}

void TCoderThread::ConvertBlocks(TCustomDecoder &Decoder, TEncoderEnd &Encoder, int BufferSize, int32_t DecodedBits,
                                 const TAudioInfoRec &Stream, const TAudioInfoRec &Target) {
  bool reading = false;  // a failure now is the source's
  try {
    const int32_t bits = DecodedBits;
    const int sampleBytes = bits > 16 ? 4 : 2;
    const int frameBytes = std::max(1, Stream.Channels) * sampleBytes;
    const int64_t framesPerBlock = std::max(1, BufferSize / frameBytes);
    std::vector<uint8_t> buffer(size_t(framesPerBlock * frameBytes));
    // Resampled samples come out as floats, 16-bit sources' too: what they
    // hold between the steps of 16 bits is dithered, not rounded away.
    const bool resampling = Target.SampleRate != Stream.SampleRate || Target.Channels != Stream.Channels;
    const int32_t givenBits = resampling ? 32 : bits;
    // The encoder takes at most its block at once; a converted block is never larger.
    const int targetFrameBytes = std::max(1, Target.Channels) * (givenBits > 16 ? 4 : 2);
    const int chunkBytes = std::max(1, BufferSize / targetFrameBytes) * targetFrameBytes;
    TSampleConverter samples(FormatRow(Job.DestinationFormat)->Samples.Wide, givenBits, Stream.BitsPerSample,
                             std::max(buffer.size(), size_t(chunkBytes)), DitherSeed(Job.SourceFileName, Job.Start));
    std::optional<TResampler> resampler;
    if (resampling)
      resampler.emplace(Stream.SampleRate, Stream.Channels, Target.SampleRate, Target.Channels, bits > 16, true);
    auto encode = [&](const uint8_t *data, int bytes) {
      for (int at = 0; at < bytes && !Terminated(); at += chunkBytes) {
        int size = std::min(chunkBytes, bytes - at);
        if (Encoder.Meter) Encoder.Meter->Add(data + at, size, givenBits > 16, samples.ToIntegers());
        const void *block = samples.Convert(data + at, size);
        if (Terminated()) break;
        if (Encoder.Fed) Encoder.Fed->Add(block, size_t(size));
        Encoder.Coder().DoOutput(block, size, DebugMode == 0);
      }
    };

    reading = true;
    if (Job.Start > 0 && !Decoder.SetPosition(Job.Start))
      throw std::runtime_error(fmt::sprintf("BASS_ChannelSetPosition %d", BASS_ErrorGetCode()));
    reading = false;
    const double startSec = std::max(0.0, Job.Start);
    const double endSec = Job.Length != LengthToEnd
                              ? double(Job.Length) / std::max(1, Stream.SampleRate) + startSec
                              : Stream.Duration;
    const double span = endSec - startSec;
    int32_t lastPercent = -1;
    int64_t &framesRead = Encoder.FramesRead;

    while (!Terminated()) {
      int64_t want = framesPerBlock;
      if (Job.Length != LengthToEnd) want = std::min(want, Job.Length - framesRead);
      if (want <= 0) break;
      reading = true;
      const int64_t got = Decoder.GetData(buffer.data(), uint32_t(want * frameBytes));
      reading = false;
      if (got < 1 || Terminated()) break;
      framesRead += got / frameBytes;

      if (resampler) {
        resampler->Convert(buffer.data(), got / frameBytes);
        encode(resampler->Output().data(), int(resampler->Output().size()));
      } else {
        encode(buffer.data(), int(got));
      }
      if (Terminated()) break;

      if (OnProgress) {
        const double position = Decoder.GetPosition();
        int32_t percent = span > 0 ? int32_t(std::trunc((position - startSec) / span * 100)) : 100;
        percent = std::clamp(percent, 0, 100);
        if (percent != lastPercent) {
          ReportProgress(percent, span);
          lastPercent = percent;
        }
      }
      if (Terminated() || (Job.Length != LengthToEnd && framesRead >= Job.Length)) break;
    }
    if (resampler && !Terminated()) {
      resampler->Flush();
      encode(resampler->Output().data(), int(resampler->Output().size()));
    }
    if (!Terminated()) {
      ReportProgress(100, span);
      ReportDamage(Decoder.GetReport(), framesRead, Stream.SampleRate);
      if (Note && Job.OnWarning) Job.OnWarning(*Note);
    }
  } catch (const std::exception &e) {
    if (reading)
      Encoder.FailReading(e.what(), BASS_ErrorGetCode(),
                          std::max(0.0, Job.Start) + double(Encoder.FramesRead) / std::max(1, Stream.SampleRate));
    else
      Encoder.Fail(e.what());
  }
}
