// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/basswma/basswma.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/audio_encoder.h"
#include "platform/file_write.h"

namespace {

thread_local std::string FailureText;

constexpr const char *kNoPro = "FFmpeg has no encoder for the WMA Pro codec";
constexpr const char *kNoLossless = "FFmpeg has no encoder for lossless WMA";
constexpr const char *kNoMemory = "Out of memory for the WMA file";
thread_local std::vector<DWORD> Rates;

// The ladder the encoder is probed on (kbit/s).
const int kLadder[] = {5,  6,  8,  10, 12, 16,  20,  22,  24,  32,  40,  48,
                       63, 64, 80, 95, 96, 127, 128, 160, 191, 192, 256, 320};
const int kQualityKbps[] = {16, 16, 24, 32, 40, 48, 64, 80, 96, 128};  // per channel, by tens of quality

BOOL Fail(int code, const std::string &text = "") {
  BASS_SetErrorCode(code);
  FailureText = text;
  return 0;
}

// Why = what the encoder said when it refused (empty when it opened).
bool OpenWMA(TAudioEncoder &Encoder, DWORD freq, DWORD chans, int64_t bitrate, std::string *Why = nullptr) {
  const bool opened =
      Encoder.Open(avcodec_find_encoder(AV_CODEC_ID_WMAV2), int(freq), int(chans), [&](AVCodecContext &c) {
        c.bit_rate = bitrate;
        c.flags |= AV_CODEC_FLAG_BITEXACT | AV_CODEC_FLAG_GLOBAL_HEADER;
      });
  if (!opened && Why) {
    char reason[AV_ERROR_MAX_STRING_SIZE] = "no such encoder";
    if (Encoder.OpenError < 0) av_strerror(Encoder.OpenError, reason, sizeof reason);
    *Why = "The WMA encoder (wmav2) refused " + std::to_string(chans) + (chans == 1 ? " channel" : " channels") +
           " at " + std::to_string(freq) + " Hz and " + std::to_string(bitrate / 1000) + " kbit/s: " + reason;
  }
  return opened;
}

// True when the encoder opens with the bitrate and encodes loud noise with it.
bool Accepts(DWORD freq, DWORD chans, int64_t bitrate) {
  TAudioEncoder codec;
  if (!OpenWMA(codec, freq, chans, bitrate)) return false;
  const int frame = codec.Context->frame_size;
  std::vector<float> noise(size_t(frame) * chans);
  uint32_t seed = 1;
  for (float &v : noise) v = float(int32_t(seed = seed * 1664525u + 1013904223u)) / 2147483648.0f;
  auto ignore = [](const AVPacket &) { return true; };
  return codec.Send(noise.data(), frame, frame, ignore) && codec.Send(noise.data(), frame, frame, ignore) &&
         codec.Send(nullptr, 0, 0, ignore);
}

// An ASF file written through checked writes: a full disk is a failure, not a short file.
struct TEncoder {
  std::string Path;
  int Fd = -1;
  int64_t Position = 0, End = 0;
  int WriteErrno = 0;
  TAudioEncoder Codec;
  AVFormatContext *Format = nullptr;
  AVStream *Stream = nullptr;
  std::vector<float> Pending;

  ~TEncoder() {
    if (Format) {
      // The context does not own its buffer (which may have been replaced since).
      if (Format->pb) av_freep(&Format->pb->buffer);
      avio_context_free(&Format->pb);
      avformat_free_context(Format);
    }
    if (Fd >= 0) close(Fd);
  }

  static int WritePacket(void *opaque, uint8_t *buf, int size) {
    auto *e = static_cast<TEncoder *>(opaque);
    if (!WriteAllAt(e->Fd, buf, size_t(size), off_t(e->Position))) {
      e->WriteErrno = errno;
      return AVERROR(errno);
    }
    e->Position += size;
    e->End = std::max(e->End, e->Position);
    return size;
  }
  static int64_t Seek(void *opaque, int64_t offset, int whence) {
    auto *e = static_cast<TEncoder *>(opaque);
    switch (whence & ~AVSEEK_FORCE) {
      case AVSEEK_SIZE: return e->End;
      case SEEK_SET: return e->Position = offset;
      case SEEK_CUR: return e->Position += offset;
      case SEEK_END: return e->Position = e->End + offset;
      default: return -1;
    }
  }

  bool Failed(const char *what) {
    return Fail(BASS_ERROR_UNKNOWN, FileErrorText(what, Path, WriteErrno ? WriteErrno : EIO));
  }
  bool Mux(const AVPacket &p) {
    AVPacket *copy = av_packet_clone(&p);
    if (!copy) return false;
    av_packet_rescale_ts(copy, Codec.Context->time_base, Stream->time_base);
    copy->stream_index = 0;
    const int r = av_write_frame(Format, copy);
    av_packet_free(&copy);
    return r >= 0;
  }
  bool SendFrames(bool last) {
    const size_t chans = size_t(Codec.Context->ch_layout.nb_channels), frame = size_t(Codec.Context->frame_size);
    auto mux = [this](const AVPacket &p) { return Mux(p); };
    size_t used = 0;
    while (used < Pending.size() && (last || Pending.size() - used >= frame * chans)) {
      const size_t frames = std::min(frame, (Pending.size() - used) / chans);
      if (!Codec.Send(Pending.data() + used, int(frames), int(frame), mux)) return false;
      used += std::min(frame * chans, Pending.size() - used);
    }
    Pending.erase(Pending.begin(), Pending.begin() + std::ptrdiff_t(used));
    return !last || Codec.Send(nullptr, 0, 0, mux);
  }
};

std::mutex TableLock;
std::unordered_map<HWMENCODE, std::unique_ptr<TEncoder>> Encoders;
HWMENCODE NextHandle = 1;

TEncoder *Find(HWMENCODE handle) {
  std::lock_guard<std::mutex> lock(TableLock);
  const auto it = Encoders.find(handle);
  return it == Encoders.end() ? nullptr : it->second.get();
}

int64_t BitrateOf(DWORD chans, DWORD bitrate) {
  if (bitrate > 100) return bitrate;
  return int64_t(kQualityKbps[std::min<DWORD>(std::max<DWORD>(bitrate, 10), 99) / 10]) * 1000 * chans;
}

}  // namespace

HWMENCODE BASS_WMA_EncodeOpenFile(DWORD freq, DWORD chans, DWORD flags, DWORD bitrate, const void *file) {
  if (flags & BASS_WMA_ENCODE_PRO) return Fail(BASS_ERROR_NOTAVAIL, kNoPro);
  if (bitrate == 100) return Fail(BASS_ERROR_NOTAVAIL, kNoLossless);
  auto e = std::make_unique<TEncoder>();
  e->Path = static_cast<const char *>(file);
  std::string why;
  if (!OpenWMA(e->Codec, freq, chans, BitrateOf(chans, bitrate), &why)) return Fail(BASS_ERROR_FORMAT, why);
  e->Fd = open(e->Path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (e->Fd < 0) return Fail(BASS_ERROR_CREATE, FileErrorText("Cannot create file", e->Path, errno));
  const AVOutputFormat *asf = av_guess_format("asf", nullptr, nullptr);
  if (avformat_alloc_output_context2(&e->Format, asf, nullptr, nullptr) < 0) return Fail(BASS_ERROR_MEM, kNoMemory);
  const int bufferSize = 65536;
  auto *buffer = static_cast<uint8_t *>(av_malloc(bufferSize));
  e->Format->pb =
      buffer ? avio_alloc_context(buffer, bufferSize, 1, e.get(), nullptr, &TEncoder::WritePacket, &TEncoder::Seek)
             : nullptr;
  if (!e->Format->pb) {
    av_free(buffer);
    return Fail(BASS_ERROR_MEM, kNoMemory);
  }
  e->Format->flags |= AVFMT_FLAG_BITEXACT | AVFMT_FLAG_CUSTOM_IO;
  e->Stream = avformat_new_stream(e->Format, nullptr);
  if (!e->Stream || avcodec_parameters_from_context(e->Stream->codecpar, e->Codec.Context) < 0)
    return Fail(BASS_ERROR_MEM, kNoMemory);
  e->Stream->time_base = e->Codec.Context->time_base;
  if (avformat_write_header(e->Format, nullptr) < 0) return e->Failed("Cannot write to file"), 0u;
  // Decoders take the first frame for the transform's start-up: a frame of
  // silence before the music keeps its first samples.
  e->Pending.assign(size_t(e->Codec.Context->frame_size) * chans, 0.0f);
  std::lock_guard<std::mutex> lock(TableLock);
  const HWMENCODE handle = NextHandle++;
  Encoders[handle] = std::move(e);
  FailureText.clear();
  return handle;
}

const DWORD *BASS_WMA_EncodeGetRates(DWORD freq, DWORD chans, DWORD flags) {
  Rates.clear();
  if (flags & BASS_WMA_ENCODE_PRO) return Fail(BASS_ERROR_NOTAVAIL, kNoPro), nullptr;
  for (int kbps : kLadder)
    if (Accepts(freq, chans, int64_t(kbps) * 1000)) Rates.push_back(DWORD(kbps) * 1000);
  if (Rates.empty()) {
    // Why the highest was refused says most.
    std::string why;
    TAudioEncoder codec;
    OpenWMA(codec, freq, chans, int64_t(std::end(kLadder)[-1]) * 1000, &why);
    return Fail(BASS_ERROR_FORMAT, why.empty() ? "The WMA encoder (wmav2) takes no bitrate for this format" : why),
           nullptr;
  }
  Rates.push_back(0);
  return Rates.data();
}

BOOL BASS_WMA_EncodeWrite(HWMENCODE handle, const void *buffer, DWORD length) {
  TEncoder *e = Find(handle);
  if (!e) return Fail(BASS_ERROR_HANDLE, "No WMA encoder has this handle");
  const auto *samples = static_cast<const uint8_t *>(buffer);
  for (DWORD i = 0; i + 1 < length; i += 2) {
    int16_t v;
    std::memcpy(&v, samples + i, 2);
    e->Pending.push_back(float(v) / 32768.0f);
  }
  if (!e->SendFrames(false)) return e->Failed("Cannot write to file");
  return 1;
}

BOOL BASS_WMA_EncodeClose(HWMENCODE handle) {
  std::unique_ptr<TEncoder> e;
  {
    std::lock_guard<std::mutex> lock(TableLock);
    const auto it = Encoders.find(handle);
    if (it == Encoders.end()) return Fail(BASS_ERROR_HANDLE, "No WMA encoder has this handle");
    e = std::move(it->second);
    Encoders.erase(it);
  }
  bool ok = e->SendFrames(true) && av_write_trailer(e->Format) >= 0;
  avio_flush(e->Format->pb);
  ok = ok && e->Format->pb->error >= 0 && e->WriteErrno == 0;
  const int fd = e->Fd;
  e->Fd = -1;
  if (close(fd) != 0 && ok) {
    e->WriteErrno = errno;
    ok = false;
  }
  if (!ok) return e->Failed("Cannot write to file");
  FailureText.clear();
  return 1;
}

const char *BASS_WMA_ErrorText() { return FailureText.c_str(); }

const char *BASS_WMA_EncoderName() { return "FFmpeg WMA v2 encoder (" LIBAVCODEC_IDENT ")"; }
