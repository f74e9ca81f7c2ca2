// SPDX-License-Identifier: GPL-3.0-or-later
#include "sources/decoder.h"

#include <fmt/printf.h>

#include <stdexcept>

#include "sources/open_stream.h"

TCustomDecoder::TCustomDecoder(bool, const std::string &FileName, double, int64_t, uint32_t,
                               int32_t BufferSize, const TAudioInfo &AudioInfo)
    : FileName(FileName), AudioInfo(AudioInfo), BufferSize(BufferSize) {}

TBASSDecoder::TBASSDecoder(bool Mem, const std::string &FileName, double StartPos,
                           int64_t Length, uint32_t Flags, int32_t BufferSize,
                           const TAudioInfo &AudioInfo)
    : TCustomDecoder(Mem, FileName, StartPos, Length, Flags, BufferSize, AudioInfo) {
  Stream = OpenSourceStream(this->FileName, Flags, QWORD(Length), Mem);
  if (Stream == 0)
    throw std::runtime_error(fmt::sprintf("BASS_StreamCreateFile %d", BASS_ErrorGetCode()));
}

TBASSDecoder::~TBASSDecoder() { BASS_StreamFree(Stream); }

int32_t TBASSDecoder::SetPosition(double Seconds) {
  return BASS_ChannelSetPosition(Stream, BASS_ChannelSeconds2Bytes(Stream, Seconds), BASS_POS_BYTE);
}

int64_t TBASSDecoder::GetData(void *Buffer, uint32_t Count) {
  if (BASS_ChannelIsActive(Stream) == BASS_ACTIVE_STOPPED) return 0;
  const DWORD got = BASS_ChannelGetData(Stream, Buffer, Count);
  if (got != DWORD(-1)) return got;
  const int code = BASS_ErrorGetCode();
  // The end is the end, however early (the report tells); anything else means
  // the decoder cannot go on.
  if (code != BASS_ERROR_ENDED)
    throw std::runtime_error(fmt::sprintf("BASS_ChannelGetData %d", code));
  return 0;
}

double TBASSDecoder::GetPosition() {
  return BASS_ChannelBytes2Seconds(Stream, BASS_ChannelGetPosition(Stream, BASS_POS_BYTE));
}

TDecodeReport TBASSDecoder::GetReport() {
  TDecodeReport report;
  BASS_DECODE_REPORT r;
  if (!BASS_ChannelGetDecodeReport(Stream, &r)) return report;
  auto seconds = [this](QWORD bytes) { return bytes == QWORD(-1) ? -1.0 : BASS_ChannelBytes2Seconds(Stream, bytes); };
  report.EndSeconds = seconds(r.ended);
  report.StatedSeconds = seconds(r.stated);
  report.DamagedBlocks = r.damaged;
  report.EndMarkMissing = r.endmissing != 0;
  return report;
}
