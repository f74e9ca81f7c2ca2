// SPDX-License-Identifier: GPL-3.0-or-later
#include "sources/audio_info.h"

#include <algorithm>
#include <cmath>

#include "base/texts.h"
#include "sources/ffmpeg_lib.h"
#include "sources/open_stream.h"

void GetFileAudioInfo(const std::string &FileName, bool ComputeBitrate, TAudioInfo &AudioInfo) {
  TSupportedFileTypes row;
  InputFileByType(GetFileExtension(FileName), row);
  switch (row.CodecType) {
    case ctBASS: GetFileAudioInfo_BASS(FileName, ComputeBitrate, AudioInfo); break;
    case ctFFmpeg: GetFileAudioInfo_FFMPEG(FileName, AudioInfo); break;
    default: throw EAssertFailed("Assert failed : Unknown CodecType for " + row.Extension);
  }
}

void GetFileAudioInfo_BASS(const std::string &FileName, bool ComputeBitrate, TAudioInfo &AudioInfo) {
  AudioInfo.ErrorText.clear();
  AudioInfo.DamagedAt = -1;
  AudioInfo.Index = 0;
  AudioInfo.Streams.assign(1, TAudioInfoRec{});
  TAudioInfoRec &s = AudioInfo.Streams[0];

  const HSTREAM stream = OpenSourceStream(FileName);
  if (!stream) {
    AudioInfo.ErrorText = FormatText(text_getting_audio_info_failed, BASS_ErrorGetCode());
    return;
  }
  BASS_CHANNELINFO info;
  BASS_ChannelGetInfo(stream, &info);
  s.SampleRate = int32_t(info.freq);
  s.Channels = int32_t(info.chans);

  // A source whose length cannot be found (it turned out damaged while being
  // measured) fails here, before anything is converted.
  const QWORD bytes = BASS_ChannelGetLength(stream, BASS_POS_BYTE);
  if (bytes == QWORD(-1)) {
    AudioInfo.ErrorText = FormatText(text_getting_audio_info_failed, BASS_ErrorGetCode());
    BASS_DECODE_REPORT report;
    if (BASS_ChannelGetDecodeReport(stream, &report) && report.brokeoff != QWORD(-1))
      AudioInfo.DamagedAt = BASS_ChannelBytes2Seconds(stream, report.brokeoff);
    BASS_StreamFree(stream);
    return;
  }
  const double length = BASS_ChannelBytes2Seconds(stream, bytes);
  if (ComputeBitrate) {
    const double fileBytes = double(BASS_StreamGetFilePosition(stream, BASS_FILEPOS_END));
    s.Bitrate = length > 0.0 ? int32_t(std::nearbyint(fileBytes / (length * 125) + 0.5)) : 0;
    s.Duration = length;
  }

  if (info.origres)
    s.BitsPerSample = int32_t(info.origres);
  else if (info.flags & BASS_SAMPLE_8BITS)
    s.BitsPerSample = 8;
  else if (info.flags & BASS_SAMPLE_FLOAT)
    s.BitsPerSample = 32;
  else
    s.BitsPerSample = 16;
  s.BytesPerSample = s.BitsPerSample / 8;
  s.GatheredBytesPerSample = s.BytesPerSample;
  s.BytesPerSecond = s.BitsPerSample * s.Channels / 8 * s.SampleRate;
  s.BlockAlign = s.Channels * s.BitsPerSample / 8;
  BASS_StreamFree(stream);
}

namespace {
// What libswresample mixes at most, and so what ffmpeg can hand over.
constexpr int32_t kFFmpegMaxChannels = 64;
}  // namespace

void GetFileAudioInfo_FFMPEG(const std::string &FileName, TAudioInfo &AudioInfo) {
  std::string report;
  ffmpeg_lib::TAudioInfoArr streams;
  const bool started = GetFFmpegAudioInfo(FileName, report, streams);
  AudioInfo.ErrorText.clear();
  AudioInfo.Index = -1;
  AudioInfo.Streams.clear();
  for (const ffmpeg_lib::TAudioInfoRec &found : streams) {
    TAudioInfoRec s;
    s.Bitrate = found.Bitrate;
    s.SampleRate = found.SampleRate;
    s.BitsPerSample = found.BitsPerSample;
    s.BytesPerSample = found.BytesPerSample;
    s.Channels = found.Channels;
    s.BytesPerSecond = s.Channels * 2 * s.SampleRate;
    s.ChannelLayout = found.ChannelsText;
    s.Duration = std::max(0.0, found.Duration);  // unknown counts nothing towards the total
    AudioInfo.Streams.push_back(s);
    // The first stream that can be sound is the one converted; a report of
    // no rate or of more channels than FFmpeg mixes is no audio.
    if (AudioInfo.Index < 0 && s.SampleRate > 0 && s.Channels > 0 && s.Channels <= kFFmpegMaxChannels)
      AudioInfo.Index = int32_t(AudioInfo.Streams.size() - 1);
  }
  if (AudioInfo.Index < 0) {
    AudioInfo.Index = 0;
    AudioInfo.Streams.clear();
    AudioInfo.ErrorText = started ? "GetFileAudioInfo_FFMEPG failed" : text_ffmpeg_missing;
  }
}
