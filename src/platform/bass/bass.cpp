// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/bass/bass.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/bass/decode_stream.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/avutil.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

namespace {

thread_local int LastError = BASS_OK;
std::atomic<bool> Initialized{false};
std::atomic<int64_t> VerifyBytes{16000};  // BASS's own default
// Far beyond any frame, packet or cover art a converter meets.
constexpr size_t kLargestAllocation = size_t(256) << 20;

struct TStreamEntry {
  std::unique_ptr<TDecodeStream> Stream;
  DWORD Flags = 0;
};

std::mutex TableLock;
std::unordered_map<DWORD, std::unique_ptr<TStreamEntry>> Streams;
DWORD NextHandle = 0x10000;

template <typename T>
T Fail(int code, T result) {
  LastError = code;
  return result;
}

template <typename T>
T Succeed(T result) {
  LastError = BASS_OK;
  return result;
}

// The entry of a handle; each stream is used by one thread, so the pointer
// stays valid for that thread until it frees the stream.
TStreamEntry *Find(DWORD handle) {
  std::lock_guard<std::mutex> lock(TableLock);
  auto it = Streams.find(handle);
  return it == Streams.end() ? nullptr : it->second.get();
}

bool IsPcmOrAdpcm(int id) { return id >= AV_CODEC_ID_FIRST_AUDIO && id < AV_CODEC_ID_AMR_NB; }

bool CoreCodec(int id) {
  return IsPcmOrAdpcm(id) || id == AV_CODEC_ID_MP1 || id == AV_CODEC_ID_MP2 ||
         id == AV_CODEC_ID_MP3 || id == AV_CODEC_ID_VORBIS;
}
bool WmaCodec(int id) {
  return id == AV_CODEC_ID_WMAV1 || id == AV_CODEC_ID_WMAV2 || id == AV_CODEC_ID_WMAPRO ||
         id == AV_CODEC_ID_WMALOSSLESS || id == AV_CODEC_ID_WMAVOICE;
}
bool FlacCodec(int id) { return id == AV_CODEC_ID_FLAC; }
bool Ac3Codec(int id) { return id == AV_CODEC_ID_AC3 || id == AV_CODEC_ID_EAC3; }
bool AacCodec(int id) { return id == AV_CODEC_ID_AAC; }
bool OpusCodec(int id) { return id == AV_CODEC_ID_OPUS; }

const char *const kCoreDemuxers[] = {"mp3", "ogg", "wav", "w64", "aiff", nullptr};
const char *const kWmaDemuxers[] = {"asf", nullptr};
const char *const kFlacDemuxers[] = {"flac", "ogg", nullptr};
const char *const kApeDemuxers[] = {"ape", nullptr};
const char *const kAc3Demuxers[] = {"ac3", "eac3", nullptr};
const char *const kAacDemuxers[] = {"aac", nullptr};
const char *const kMp4Demuxers[] = {"mov", nullptr};
const char *const kWvDemuxers[] = {"wv", nullptr};
const char *const kMpcDemuxers[] = {"mpc", "mpc8", nullptr};
const char *const kTtaDemuxers[] = {"tta", nullptr};
const char *const kOggDemuxers[] = {"ogg", nullptr};
const char *const kMatroskaDemuxers[] = {"matroska", nullptr};  // WebM too: the same demuxer
const char *const kDsfDemuxers[] = {"dsf", nullptr};

HSTREAM CreateStream(const TStreamKind &kind, BOOL mem, const void *file, QWORD offset,
                     QWORD length, DWORD flags) {
  if (!Initialized) return Fail(BASS_ERROR_INIT, HSTREAM(0));
  if (!file) return Fail(BASS_ERROR_ILLPARAM, HSTREAM(0));
  if (mem || offset || length || !(flags & BASS_STREAM_DECODE))
    return Fail(BASS_ERROR_NOTAVAIL, HSTREAM(0));

  auto entry = std::make_unique<TStreamEntry>();
  entry->Flags = flags;
  const int error = TDecodeStream::Open(static_cast<const char *>(file), kind,
                                        (flags & BASS_SAMPLE_FLOAT) != 0, VerifyBytes, entry->Stream);
  if (error != BASS_OK) return Fail(error, HSTREAM(0));

  std::lock_guard<std::mutex> lock(TableLock);
  DWORD handle;
  do {
    handle = NextHandle++;
  } while (handle == 0 || Streams.count(handle));
  Streams.emplace(handle, std::move(entry));
  return Succeed(handle);
}

}  // namespace

BOOL BASS_Init(int device, DWORD, DWORD, void *, void *) {
  if (device != 0) return Fail(BASS_ERROR_ILLPARAM, 0);  // only the no-sound device
  if (Initialized.exchange(true)) return Fail(BASS_ERROR_ALREADY, 0);
  av_log_set_level(AV_LOG_QUIET);  // failures are reported through error codes
  // A header field can ask FFmpeg for any size up to 2 GB (a RIFF INFO item
  // states its own): refuse such a file rather than clear gigabytes for it.
  av_max_alloc(kLargestAllocation);
  return Succeed(1);
}

BOOL BASS_SetConfig(DWORD option, DWORD value) {
  if (option != BASS_CONFIG_VERIFY) return Fail(BASS_ERROR_ILLPARAM, 0);
  VerifyBytes = value;
  return Succeed(1);
}

int BASS_ErrorGetCode() { return LastError; }
void BASS_SetErrorCode(int code) { LastError = code; }

#define TONMILL_STREAM_FUNCTION(name, demuxers, codecs)                                      \
  HSTREAM name(BOOL mem, const void *file, QWORD offset, QWORD length, DWORD flags) {        \
    static const TStreamKind kind{demuxers, codecs};                                         \
    return CreateStream(kind, mem, file, offset, length, flags);                             \
  }

TONMILL_STREAM_FUNCTION(BASS_StreamCreateFile, kCoreDemuxers, CoreCodec)
TONMILL_STREAM_FUNCTION(BASS_WMA_StreamCreateFile, kWmaDemuxers, WmaCodec)
TONMILL_STREAM_FUNCTION(BASS_FLAC_StreamCreateFile, kFlacDemuxers, FlacCodec)
TONMILL_STREAM_FUNCTION(BASS_APE_StreamCreateFile, kApeDemuxers, nullptr)
TONMILL_STREAM_FUNCTION(BASS_AC3_StreamCreateFile, kAc3Demuxers, Ac3Codec)
TONMILL_STREAM_FUNCTION(BASS_AAC_StreamCreateFile, kAacDemuxers, AacCodec)
// MP4 and M4A files hold whatever their writer chose (AC-3, Opus, FLAC, MP3 ...).
TONMILL_STREAM_FUNCTION(BASS_MP4_StreamCreateFile, kMp4Demuxers, nullptr)
TONMILL_STREAM_FUNCTION(BASS_WV_StreamCreateFile, kWvDemuxers, nullptr)
TONMILL_STREAM_FUNCTION(BASS_MPC_StreamCreateFile, kMpcDemuxers, nullptr)
TONMILL_STREAM_FUNCTION(BASS_TTA_StreamCreateFile, kTtaDemuxers, nullptr)
TONMILL_STREAM_FUNCTION(BASS_OPUS_StreamCreateFile, kOggDemuxers, OpusCodec)
// Ogg audio and Matroska hold Vorbis, Opus, FLAC ... as their writer chose; a
// WebM or Matroska file with a film beside the sound gives its sound.
TONMILL_STREAM_FUNCTION(BASS_OGA_StreamCreateFile, kOggDemuxers, nullptr)
TONMILL_STREAM_FUNCTION(BASS_MKA_StreamCreateFile, kMatroskaDemuxers, nullptr)
TONMILL_STREAM_FUNCTION(BASS_DSD_StreamCreateFile, kDsfDemuxers, nullptr)

#undef TONMILL_STREAM_FUNCTION

DWORD BASS_ChannelIsActive(DWORD handle) {
  TStreamEntry *e = Find(handle);
  if (!e) return Fail(BASS_ERROR_HANDLE, BASS_ACTIVE_STOPPED);
  return Succeed(e->Stream->Ended() ? BASS_ACTIVE_STOPPED : BASS_ACTIVE_PLAYING);
}

DWORD BASS_ChannelGetData(DWORD handle, void *buffer, DWORD length) {
  TStreamEntry *e = Find(handle);
  if (!e) return Fail(BASS_ERROR_HANDLE, DWORD(-1));
  if (!buffer) return Fail(BASS_ERROR_ILLPARAM, DWORD(-1));
  TDecodeStream &s = *e->Stream;
  const int64_t frames = s.Read(static_cast<uint8_t *>(buffer), length / s.FrameBytes());
  if (frames < 0) return Fail(int(-frames), DWORD(-1));
  if (frames == 0 && s.Ended()) return Fail(BASS_ERROR_ENDED, DWORD(-1));
  return Succeed(DWORD(frames * s.FrameBytes()));
}

QWORD BASS_ChannelGetPosition(DWORD handle, DWORD mode) {
  TStreamEntry *e = Find(handle);
  if (!e) return Fail(BASS_ERROR_HANDLE, QWORD(-1));
  if (mode != BASS_POS_BYTE) return Fail(BASS_ERROR_NOTAVAIL, QWORD(-1));
  return Succeed(QWORD(e->Stream->Position()) * e->Stream->FrameBytes());
}

BOOL BASS_ChannelSetPosition(DWORD handle, QWORD pos, DWORD mode) {
  TStreamEntry *e = Find(handle);
  if (!e) return Fail(BASS_ERROR_HANDLE, 0);
  if (mode != BASS_POS_BYTE) return Fail(BASS_ERROR_NOTAVAIL, 0);
  const int error = e->Stream->Seek(int64_t(pos / e->Stream->FrameBytes()));
  if (error != BASS_OK) return Fail(error, 0);
  return Succeed(1);
}

QWORD BASS_ChannelSeconds2Bytes(DWORD handle, double pos) {
  TStreamEntry *e = Find(handle);
  if (!e) return Fail(BASS_ERROR_HANDLE, QWORD(-1));
  // Nearest frame: a time computed from a frame count lands back on that frame.
  const double frames = std::llround(std::max(0.0, pos) * e->Stream->SampleRate());
  return Succeed(QWORD(frames) * e->Stream->FrameBytes());
}

double BASS_ChannelBytes2Seconds(DWORD handle, QWORD pos) {
  TStreamEntry *e = Find(handle);
  if (!e) return Fail(BASS_ERROR_HANDLE, -1.0);
  if (pos == QWORD(-1)) return Fail(BASS_ERROR_ILLPARAM, -1.0);
  const double frames = double(pos / e->Stream->FrameBytes());
  return Succeed(frames / e->Stream->SampleRate());
}

QWORD BASS_ChannelGetLength(DWORD handle, DWORD mode) {
  TStreamEntry *e = Find(handle);
  if (!e) return Fail(BASS_ERROR_HANDLE, QWORD(-1));
  if (mode != BASS_POS_BYTE) return Fail(BASS_ERROR_NOTAVAIL, QWORD(-1));
  const int64_t frames = e->Stream->Length();
  if (frames < 0) return Fail(int(-frames), QWORD(-1));
  return Succeed(QWORD(frames) * e->Stream->FrameBytes());
}

BOOL BASS_ChannelGetDecodeReport(DWORD handle, BASS_DECODE_REPORT *report) {
  TStreamEntry *e = Find(handle);
  if (!e) return Fail(BASS_ERROR_HANDLE, 0);
  if (!report) return Fail(BASS_ERROR_ILLPARAM, 0);
  const TDecodeStream &s = *e->Stream;
  auto bytes = [&s](int64_t frames) { return frames < 0 ? QWORD(-1) : QWORD(frames) * s.FrameBytes(); };
  report->stated = bytes(s.Stated());
  report->ended = bytes(s.EndedAt());
  report->damaged = DWORD(std::min<int64_t>(s.Damaged(), 0xFFFFFFFF));
  report->endmissing = s.EndMarkMissing();
  report->brokeoff = bytes(s.BrokeOffAt());
  return Succeed(1);
}

BOOL BASS_ChannelGetInfo(DWORD handle, BASS_CHANNELINFO *info) {
  TStreamEntry *e = Find(handle);
  if (!e) return Fail(BASS_ERROR_HANDLE, 0);
  if (!info) return Fail(BASS_ERROR_ILLPARAM, 0);
  const TDecodeStream &s = *e->Stream;
  *info = BASS_CHANNELINFO{};
  info->freq = DWORD(s.SampleRate());
  info->chans = DWORD(s.Channels());
  info->flags = e->Flags | (s.SourceIsFloat() ? BASS_SAMPLE_FLOAT : 0);
  info->origres = DWORD(s.OriginalResolution());
  info->filename = s.Path().c_str();
  return Succeed(1);
}

QWORD BASS_StreamGetFilePosition(HSTREAM handle, DWORD mode) {
  TStreamEntry *e = Find(handle);
  if (!e) return Fail(BASS_ERROR_HANDLE, QWORD(-1));
  int64_t value;
  switch (mode) {
    case BASS_FILEPOS_CURRENT: value = e->Stream->FilePosition(); break;
    case BASS_FILEPOS_END: value = e->Stream->FileSize(); break;
    default: return Fail(BASS_ERROR_NOTAVAIL, QWORD(-1));
  }
  if (value < 0) return Fail(BASS_ERROR_NOTAVAIL, QWORD(-1));
  return Succeed(QWORD(value));
}

BOOL BASS_StreamFree(HSTREAM handle) {
  std::unique_ptr<TStreamEntry> entry;
  {
    std::lock_guard<std::mutex> lock(TableLock);
    auto it = Streams.find(handle);
    if (it == Streams.end()) return Fail(BASS_ERROR_HANDLE, 0);
    entry = std::move(it->second);
    Streams.erase(it);
  }
  return Succeed(1);  // the stream closes here, outside the table lock
}

const char *BASS_ErrorDescription(int code) {
  switch (code) {
    case BASS_OK: return "no error";
    case BASS_ERROR_MEM: return "out of memory";
    case BASS_ERROR_FILEOPEN: return "the file cannot be opened";
    case BASS_ERROR_HANDLE: return "invalid stream handle";
    case BASS_ERROR_FORMAT: return "unsupported sample format or channel layout";
    case BASS_ERROR_POSITION: return "the position lies outside the audio";
    case BASS_ERROR_INIT: return "the decoder has not been started";
    case BASS_ERROR_ALREADY: return "already started";
    case BASS_ERROR_ILLPARAM: return "invalid parameter";
    case BASS_ERROR_NOTAVAIL: return "not available";
    case BASS_ERROR_DECODE: return "not a decoding stream";
    case BASS_ERROR_FILEFORM: return "the file is not in a supported format, or it is damaged or truncated";
    case BASS_ERROR_CODEC: return "the audio codec is not supported";
    case BASS_ERROR_ENDED: return "the end of the audio has been reached";
    default: return "unknown error";
  }
}

const char *BASS_DecoderVersionText() {
  static const std::string text = std::string("FFmpeg ") + av_version_info();
  return text.c_str();
}
