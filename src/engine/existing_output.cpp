// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/existing_output.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "encoders/format.h"
#include "engine/coder_thread.h"
#include "platform/bass/bass.h"
#include "sources/open_stream.h"

namespace {

bool Before(const timespec &a, const timespec &b) {
  return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

struct TStreamCloser {
  HSTREAM Handle;
  ~TStreamCloser() { BASS_StreamFree(Handle); }
};

// Sample frames a stream decodes to from its position to its end, and its
// rate; -1 when it is damaged or stops early, or Stopped says so.
int64_t DecodedFrames(HSTREAM Stream, int32_t &Rate, const std::function<bool()> &Stopped) {
  const TStreamCloser closer{Stream};
  BASS_CHANNELINFO info{};
  if (!BASS_ChannelGetInfo(Stream, &info) || info.chans < 1 || info.freq < 1) return -1;
  Rate = int32_t(info.freq);
  const uint64_t frameBytes = uint64_t(info.chans) * 2;
  std::vector<uint8_t> block(1 << 16);
  uint64_t bytes = 0;
  for (;;) {
    if (Stopped && Stopped()) return -1;
    const DWORD got = BASS_ChannelGetData(Stream, block.data(), DWORD(block.size()));
    if (got == DWORD(-1)) {
      if (BASS_ErrorGetCode() != BASS_ERROR_ENDED) return -1;
      break;
    }
    bytes += got;
  }
  BASS_DECODE_REPORT report;
  if (BASS_ChannelGetDecodeReport(Stream, &report) && (report.damaged > 0 || report.endmissing)) return -1;
  return int64_t(bytes / frameBytes);
}

constexpr DWORD kSixteenBit = BASS_STREAM_DECODE | BASS_UNICODE;

TExistingOutput Examine(const TFileListRec &Job, const std::function<bool()> &Stopped);

}  // namespace

void TRedoneCounts::Add(TExistingOutput Found) {
  switch (Found) {
    case TExistingOutput::Older: ++Older; break;
    case TExistingOutput::NotAudio: ++NotAudio; break;
    case TExistingOutput::OtherLength: ++OtherLength; break;
    default: break;
  }
}

TExistingOutput ExamineExistingOutput(const TFileListRec &Job, const std::function<bool()> &Stopped) {
  try {
    return Examine(Job, Stopped);
  } catch (const std::exception &) {
    return TExistingOutput::NotAudio;  // whatever it is, it is converted again
  }
}

namespace {

TExistingOutput Examine(const TFileListRec &Job, const std::function<bool()> &Stopped) {
  struct stat output, source;
  if (lstat(Job.OutputFileName.c_str(), &output) != 0 || !S_ISREG(output.st_mode)) return TExistingOutput::None;
  if (stat(Job.SourceFileName.c_str(), &source) != 0 || !Before(source.st_mtim, output.st_mtim))
    return TExistingOutput::Older;
  const TAudioInfo &info = Job.AudioInfo;
  if (info.Index < 0 || size_t(info.Index) >= info.Streams.size()) return TExistingOutput::OtherLength;
  const TAudioInfoRec &stream = info.Streams[size_t(info.Index)];
  const double sourceRate = std::max(1, stream.SampleRate);
  const double start = std::max(0.0, Job.Start);

  // By the format's own type, whatever the file's name says.
  const TFormatRow *row = FormatRow(Job.DestinationFormat);
  const TBASSStreamCreateFunc create = row ? GetBASSStreamFunc(OutputExtension(*row, Job.Options)) : nullptr;
  const HSTREAM handle = create ? create(false, Job.OutputFileName.c_str(), 0, 0, kSixteenBit) : 0;
  if (!handle) return TExistingOutput::NotAudio;
  int32_t rate = 0;
  const int64_t frames = DecodedFrames(handle, rate, Stopped);
  if (frames <= 0) return TExistingOutput::NotAudio;
  const double seconds = double(frames) / rate;
  // Resampling may round a frame or two either way.
  const double tolerance = double(row->DelayAndPadding + 2) / rate;
  auto within = [&](double expected) { return std::fabs(seconds - expected) <= tolerance; };

  // A track's length is exact; a whole source's (or a last track's) is the
  // length the source states, which sources from other encoders miss by a
  // few hundred samples: near it, the source's own decoded length decides.
  if (Job.Length != LengthToEnd) return within(double(Job.Length) / sourceRate) ? TExistingOutput::Complete
                                                                             : TExistingOutput::OtherLength;
  const double stated = stream.Duration - start;
  if (within(stated)) return TExistingOutput::Complete;
  const double statedSlack = std::max(0.1, 4096 / sourceRate);
  if (std::fabs(seconds - stated) > statedSlack + tolerance || !HasSourceStream(Job.SourceFileName))
    return TExistingOutput::OtherLength;
  int32_t decodedRate = 0;
  const int64_t sourceFrames = DecodedFrames(OpenSourceStream(Job.SourceFileName, kSixteenBit), decodedRate, Stopped);
  if (sourceFrames < 0) return TExistingOutput::OtherLength;
  const double decoded = double(sourceFrames - std::llround(start * decodedRate)) / decodedRate;
  return within(decoded) ? TExistingOutput::Complete : TExistingOutput::OtherLength;
}

}  // namespace
