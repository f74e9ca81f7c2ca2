// SPDX-License-Identifier: GPL-3.0-or-later
#include "sources/silence.h"

#include <cstdlib>
#include <vector>

#include "platform/clock.h"
#include "platform/main_thread/main_thread.h"
#include "sources/open_stream.h"

namespace {

constexpr DWORD kBlockBytes = 0x10000;
constexpr int kMinRegionSeconds = 2;

}  // namespace

void SplitBySilenceScan(const std::string &FileName, int32_t Number, int32_t Count,
                        const TPreprocessOptions &Options, const TSilenceScanContext &Context,
                        TCUEArr &Pieces) {
  Pieces.assign(1, TCUERec{});
  const HSTREAM stream = OpenSourceStream(FileName);
  if (!stream) return;
  BASS_CHANNELINFO info;
  BASS_ChannelGetInfo(stream, &info);
  // Positions are byte offsets of the 16-bit output; in seconds they divide by this.
  const int64_t bytesPerSecond = int64_t(info.freq) * info.chans * 2;
  auto seconds = [bytesPerSecond](int64_t bytes) { return double(bytes) / double(bytesPerSecond); };
  const int64_t minRegionBytes = int64_t(kMinRegionSeconds) * bytesPerSecond;
  const double minSilence = Options.Seconds / 10.0;
  const int threshold = Options.Threshold;
  const QWORD length = BASS_ChannelGetLength(stream, BASS_POS_BYTE);

  TProgressRec progress;
  progress.OutputFileName = FileName;
  progress.JobNumber = Number;
  progress.JobCount = Count;
  progress.Stage = stSeekingSilence;

  std::vector<int16_t> block(kBlockBytes / 2);
  int64_t pos = 0, regionStart = 0;  // regionStart 0: no region open
  size_t n = 1;
  while (BASS_ChannelIsActive(stream) == BASS_ACTIVE_PLAYING) {
    const DWORD read = BASS_ChannelGetData(stream, block.data(), kBlockBytes);
    if (read == DWORD(-1)) break;
    const size_t samples = read / 2;
    for (size_t i = 0; i + 1 < samples; i += 2, pos += 4) {
      if (std::abs(block[i]) > threshold || std::abs(block[i + 1]) > threshold) {
        if (regionStart == 0) regionStart = pos;
      } else if (regionStart > 0 && pos - regionStart >= minRegionBytes) {
        if (n > 1 && seconds(regionStart) - Pieces[n - 2].EndTime < minSilence) {
          Pieces[n - 2].EndTime = seconds(pos);  // too short a silence: the piece grows
        } else {
          Pieces.resize(n);
          TCUERec &piece = Pieces[n - 1];
          piece = TCUERec{};
          piece.TrackNumber = int32_t(n - 1);
          piece.Title = GetFileNameWithoutExt(FileName);
          piece.StartTime = seconds(regionStart);
          piece.EndTime = seconds(pos);
          piece.InSeconds = true;
          ++n;
        }
        regionStart = 0;
      }
    }
    const QWORD at = BASS_ChannelGetPosition(stream, BASS_POS_BYTE);
    progress.Percent = length > 0 && length != QWORD(-1) ? int32_t(double(at) / double(length) * 100) : 0;
    progress.ElapsedTime = FormatElapsed(GetTickCount(), Context.StartTicks);
    if (Context.OnProgress) Context.OnProgress(progress);
    MainThreadPump().ProcessPending();
    if (Context.Cancelled && *Context.Cancelled) break;
  }
  BASS_StreamFree(stream);
}
