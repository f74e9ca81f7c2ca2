#include "engine/coder_thread.h"

#include <fmt/printf.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <stdexcept>
#include <vector>

#include "encoders/coders.h"
#include "engine/failure_text.h"
#include "engine/texts.h"
#include "platform/clock.h"
#include "platform/file_write.h"
#include "platform/main_thread/main_thread.h"
#include "sources/decoder.h"

namespace {

constexpr float kScale24 = 8388608.0f;  // 2^23: full scale of a 24-bit sample

// Float sample to a 24-bit integer, truncated toward zero and clamped.
inline int32_t ToInt24(float v) {
  const float scaled = v * kScale24;
  if (!(scaled > -kScale24)) return scaled != scaled ? 0 : -8388608;  // also NaN
  if (scaled >= 8388607.0f) return 8388607;
  return int32_t(scaled);
}

void FloatToPacked24(const float *in, size_t count, uint8_t *out) {
  for (size_t i = 0; i < count; ++i, out += 3) {
    const int32_t v = ToInt24(in[i]);
    out[0] = uint8_t(v);
    out[1] = uint8_t(v >> 8);
    out[2] = uint8_t(v >> 16);
  }
}

void FloatToInt24In32(const float *in, size_t count, int32_t *out) {
  for (size_t i = 0; i < count; ++i) out[i] = ToInt24(in[i]);
}

bool TakesPacked24(TDestinationFormat f) {
  return f == dfOGG || f == dfAPE || f == dfFLAC || f == dfWavPack || f == dfWAV;
}

std::string ReplaceAll(std::string text, const std::string &from, const std::string &to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

}  // namespace

int32_t DecodedBitsPerSample(int32_t SourceBits, TDestinationFormat Destination) {
  switch (SourceBits) {
    case 32:
      return (Destination == dfMP3 || Destination == dfWMA || Destination == dfAPE ||
              Destination == dfFLAC) ? 16 : 32;
    case 24:
      if (Destination == dfAAC) return 32;
      return (Destination == dfMP3 || Destination == dfWMA) ? 16 : 24;
    case 8:
      return 16;
    default:
      return SourceBits;
  }
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
  TThreadWarningRec warning;
  warning.InputFileName = Job.SourceFileName;
  warning.OutputFileName = Job.OutputFileName;
  warning.JobNumber = Job.JobNumber;
  warning.IsTrack = Job.IsTrack;
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

  // 1. The depth the decoder delivers, and with it what the encoder receives.
  TAudioInfoRec &stream = info.Streams[size_t(info.Index)];
  const int32_t bits = DecodedBitsPerSample(stream.BitsPerSample, Job.DestinationFormat);
  stream.BitsPerSample = bits;
  stream.BytesPerSample = bits / 8;

  // 2. The encoder, writing under the output's hidden name.
  TPartialOutput partial(Job.OutputFileName, Job.Partials);
  std::unique_ptr<TCustomCoder> coder =
      CreateCoder(Job.DestinationFormat, partial.Name(), Job.Tags, info);
  if (!coder) {
    ReportError("Assert failed : FCoder = nil", "", 0, {});
    return;
  }
  const std::string className = coder->ClassName();
  bool failed = false;
  std::string failure;
  int64_t framesRead = 0;
  // Which file failed and why, found out before the unfinished output goes.
  TThreadErrorRec cause;
  cause.CurrentInputFileName = Job.SourceFileName;
  cause.CurrentOutputFileName = Job.OutputFileName;
  ClearLastFileError();
  auto writingFailed = [&] { DiagnoseWriting(cause, LastFileError()); };

  // Abort (when stopped), Finish under its lock, destroy under its lock. Then
  // the file takes the output's name if it is complete (or, stopped, if its
  // shorter part is to be kept); otherwise it goes.
  auto finishCoder = [&] {
    if (!coder) return;
    const bool stopped = Terminated();
    try {
      if (stopped) coder->Abort();
      std::lock_guard<std::mutex> lock(EncoderFinishLock);
      coder->Finish();
    } catch (const std::exception &e) {
      if (!failed) {
        failure = e.what();
        writingFailed();
      }
      failed = true;
    }
    {
      std::lock_guard<std::mutex> lock(EncoderReleaseLock);
      coder.reset();
    }
    // A stopped job that converted nothing has no shorter file to keep.
    if (!failed && (!stopped || (Job.KeepPartial && framesRead > 0))) {
      try {
        Job.OutputFileName = partial.Complete(Job.Replaces);
      } catch (const std::exception &e) {
        failed = true;
        failure = e.what();
        writingFailed();
      }
    }
    partial.Discard();
  };

  std::string lastCall = className + ".Init";
  std::string errorText;
  int result;
  try {
    partial.Create();
  } catch (const std::exception &e) {
    errorText = std::string(CreateFileStreamFailure) + e.what();
  }
  try {
    result = errorText.empty() ? coder->Init(Job.Options, errorText) : 1;
  } catch (const std::exception &e) {
    result = 1;
    errorText = e.what();
  }
  if (result != 0) {
    const std::string detail = className + "\r\n\"" + ReplaceAll(errorText, "\r\n", " ") + "\"";
    failed = true;
    writingFailed();
    finishCoder();
    ReportError(FormatText(text_failed_to_init_encoder, detail), lastCall, result, cause);
    return;
  }
  const int bufferSize = coder->GetBufferSize();

  // 3. The decoder.
  std::unique_ptr<TCustomDecoder> decoder;
  try {
    TSupportedFileTypes row;
    InputFileByType(GetFileExtension(Job.SourceFileName), row);
    if (row.CodecType != ctBASS)
      throw std::runtime_error("No decoder for the type " + row.Extension);
    uint32_t flags = BASS_STREAM_DECODE;
    if (IsWideFileNamePlatform) flags |= BASS_UNICODE;
    if (bits > 16) flags |= BASS_SAMPLE_FLOAT;
    if (Job.Start != 0.0) flags |= BASS_STREAM_PRESCAN;
    decoder = std::make_unique<TBASSDecoder>(false, Job.SourceFileName, Job.Start, 0, flags,
                                             bufferSize, info);
  } catch (const std::exception &e) {
    DiagnoseReading(cause, BASS_ErrorGetCode(), -1);
    failed = true;
    finishCoder();
    ReportError(e.what(), "", 0, cause);
    return;
  }

  // 4-6. Blocks from the decoder to the encoder.
  bool reading = false;  // a failure now is the source's
  try {
    const int channels = std::max(1, stream.Channels);
    const int decodedBytes = bits > 16 ? 4 : 2;
    const int frameBytes = channels * decodedBytes;
    const int64_t framesPerBlock = std::max(1, bufferSize / frameBytes);
    // Sized from the encoder's block: a converted block is never larger.
    std::vector<uint8_t> buffer(size_t(framesPerBlock * frameBytes));
    std::vector<uint8_t> converted(buffer.size());
    const bool packTo24 = bits == 24 && TakesPacked24(Job.DestinationFormat);
    const bool toInt32 = bits == 32 && Job.DestinationFormat == dfAAC;

    lastCall = className + ".ProcessBuffer";
    reading = true;
    if (Job.Start > 0 && !decoder->SetPosition(Job.Start))
      throw std::runtime_error(fmt::sprintf("BASS_ChannelSetPosition %d", BASS_ErrorGetCode()));
    reading = false;
    const double startSec = std::max(0.0, Job.Start);
    const double endSec = Job.Length != LengthToEnd
                              ? double(Job.Length) / std::max(1, stream.SampleRate) + startSec
                              : stream.Duration;
    const double span = endSec - startSec;
    int32_t lastPercent = -1;

    while (!Terminated()) {
      int64_t want = framesPerBlock;
      if (Job.Length != LengthToEnd) want = std::min(want, Job.Length - framesRead);
      if (want <= 0) break;
      reading = true;
      const int64_t got = decoder->GetData(buffer.data(), uint32_t(want * frameBytes));
      reading = false;
      if (got < 1 || Terminated()) break;
      framesRead += got / frameBytes;

      const void *block = buffer.data();
      int size = int(got);
      if (packTo24) {
        FloatToPacked24(reinterpret_cast<const float *>(buffer.data()), size_t(got) / 4,
                        converted.data());
        block = converted.data();
        size = int(got / 4 * 3);
      } else if (toInt32) {
        FloatToInt24In32(reinterpret_cast<const float *>(buffer.data()), size_t(got) / 4,
                         reinterpret_cast<int32_t *>(converted.data()));
        block = converted.data();
      }
      if (Terminated()) break;
      lastCall = className + ".DoOutput";
      coder->DoOutput(block, size, DebugMode == 0);
      if (Terminated()) break;

      if (OnProgress) {
        const double position = decoder->GetPosition();
        int32_t percent = span > 0 ? int32_t(std::trunc((position - startSec) / span * 100)) : 100;
        percent = std::clamp(percent, 0, 100);
        if (percent != lastPercent) {
          ReportProgress(percent, span);
          lastPercent = percent;
        }
      }
      if (Terminated() || (Job.Length != LengthToEnd && framesRead >= Job.Length)) break;
    }
    if (!Terminated()) {
      ReportProgress(100, span);
      ReportDamage(decoder->GetReport(), framesRead, stream.SampleRate);
    }
  } catch (const std::exception &e) {
    failed = true;
    failure = e.what();
    if (reading)
      DiagnoseReading(cause, BASS_ErrorGetCode(),
                      std::max(0.0, Job.Start) + double(framesRead) / std::max(1, stream.SampleRate));
    else
      writingFailed();
  }

  // 7-8. Release everything; report a failure once the output is dealt with.
  decoder.reset();
  finishCoder();
  if (failed) ReportError(failure, "", 0, cause);
}
