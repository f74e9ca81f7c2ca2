// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoders/mp3/lame_coder.h"

#include <fcntl.h>
#include <unistd.h>

#include <lame/lame.h>

#include <cerrno>
#include <cstdio>

#include "platform/file_write.h"

namespace {

// Applies a preset number of the configuration (the table of the MP3 options).
void ApplyPreset(lame_global_flags *gfp, const TLameConfig &c) {
  switch (c.Preset) {
    case 0: lame_set_quality(gfp, 5); break;   // normal quality
    case 1: lame_set_quality(gfp, 9); break;   // low quality
    case 2: lame_set_quality(gfp, 2); break;   // high quality
    case 3:                                     // voice: mono, narrow band
      lame_set_mode(gfp, MONO);
      lame_set_lowpassfreq(gfp, 12000);
      break;
    case 4: lame_set_preset(gfp, R3MIX); break;
    case 5: lame_set_quality(gfp, 0); break;   // very high quality
    case 6: lame_set_preset(gfp, STANDARD); break;
    case 7: lame_set_preset(gfp, STANDARD_FAST); break;
    case 8: lame_set_preset(gfp, EXTREME); break;
    case 9: lame_set_preset(gfp, EXTREME_FAST); break;
    case 10: lame_set_preset(gfp, INSANE); break;
    case 11: lame_set_preset(gfp, int((c.Bitrate + c.MaxBitrate) / 2)); break;  // ABR
    case 12:                                                                    // CBR
      lame_set_VBR(gfp, vbr_off);
      lame_set_brate(gfp, int(c.Bitrate));
      break;
    case 13: lame_set_preset(gfp, MEDIUM); break;
    case 14: lame_set_preset(gfp, MEDIUM_FAST); break;
    default: break;
  }
}

}  // namespace

TLameCoder::~TLameCoder() { CloseStream(); }

TLameVersion TLameCoder::Version() {
  lame_version_t v;
  get_lame_version_numerical(&v);
  TLameVersion version;
  version.EncoderMajor = v.major;
  version.EncoderMinor = v.minor;
  version.Text = get_lame_version();
  return version;
}

TLameConfig TLameCoder::Config() const {
  TLameConfig c;
  c.SampleRate = SampleRate;
  c.Mode = uint32_t(Mode);
  c.Bitrate = Bitrate;
  c.MaxBitrate = MaxBitrate;
  c.Preset = Preset;
  c.Private = Private;
  c.CRC = CRC;
  c.Copyright = Copyright;
  c.Original = Original;
  c.WriteVBRHeader = WriteVBRHeader;
  c.EnableVBR = EnableVBR;
  c.VBRQuality = VBRQuality;
  c.AbrBitrate = VBRMethod == vbrABR ? (MaxBitrate + Bitrate) / 2 * 1000 : 0;
  const uint32_t methods[] = {0, 1, 2, 4};
  c.VBRMethod = methods[VBRMethod & 3];
  return c;
}

int TLameCoder::InitStream() {
  CloseStream();
  const TLameConfig c = Config();
  lame_global_flags *gfp = lame_init();
  if (!gfp) return 3;
  lame_set_in_samplerate(gfp, int(c.SampleRate));
  lame_set_num_channels(gfp, InputChannels);
  const MPEG_mode modes[] = {STEREO, JOINT_STEREO, DUAL_CHANNEL, MONO};
  lame_set_mode(gfp, modes[c.Mode & 3]);
  if (c.EnableVBR) {
    switch (c.VBRMethod) {
      case 1: lame_set_VBR(gfp, vbr_rh); break;
      case 2: lame_set_VBR(gfp, vbr_mtrh); break;
      case 4: lame_set_VBR(gfp, vbr_abr); break;
      default: lame_set_VBR(gfp, vbr_default); break;
    }
    if (c.VBRMethod == 4) lame_set_VBR_mean_bitrate_kbps(gfp, int(c.AbrBitrate / 1000));
    else lame_set_VBR_q(gfp, c.VBRQuality);
    lame_set_VBR_min_bitrate_kbps(gfp, int(c.Bitrate));
    lame_set_VBR_max_bitrate_kbps(gfp, int(c.MaxBitrate));
  } else {
    lame_set_VBR(gfp, vbr_off);
    lame_set_brate(gfp, int(c.Bitrate));
  }
  if (c.Preset >= 0) ApplyPreset(gfp, c);
  lame_set_bWriteVbrTag(gfp, c.WriteVBRHeader ? 1 : 0);
  lame_set_error_protection(gfp, c.CRC ? 1 : 0);
  lame_set_copyright(gfp, c.Copyright ? 1 : 0);
  lame_set_original(gfp, c.Original ? 1 : 0);
  lame_set_extension(gfp, c.Private ? 1 : 0);
  if (lame_init_params(gfp) < 0) {
    lame_close(gfp);
    return LameRejectedParameters;
  }
  Stream = gfp;
  SamplesPerChunk = uint32_t(lame_get_framesize(gfp) * InputChannels);
  // What one chunk can become at most, as the library documents it.
  OutputBuffer.assign(size_t(1.25 * SamplesPerChunk) + 7200, 0);
  TagFrame.clear();
  return 0;
}

int TLameCoder::EncodeChunk(const int16_t *samples, uint32_t count, uint32_t &outputBytes) {
  return Encoded(count, outputBytes, [&](int frames, unsigned char *out, int room) {
    return InputChannels == 1 ? lame_encode_buffer(Stream, samples, samples, frames, out, room)
                              : lame_encode_buffer_interleaved(Stream, const_cast<int16_t *>(samples), frames, out,
                                                               room);
  });
}

int TLameCoder::EncodeChunk(const float *samples, uint32_t count, uint32_t &outputBytes) {
  // The interleaved call reads two channels: mono goes as one plane.
  return Encoded(count, outputBytes, [&](int frames, unsigned char *out, int room) {
    return InputChannels == 1 ? lame_encode_buffer_ieee_float(Stream, samples, samples, frames, out, room)
                              : lame_encode_buffer_interleaved_ieee_float(Stream, samples, frames, out, room);
  });
}

int TLameCoder::Encoded(uint32_t count, uint32_t &outputBytes,
                        const std::function<int(int frames, unsigned char *out, int room)> &Encode) {
  outputBytes = 0;
  if (!Stream) return 4;
  // A short input can still end a whole frame of output: make room for it.
  const size_t needed = size_t(1.25 * count) + 7200;
  if (OutputBuffer.size() < needed) OutputBuffer.resize(needed);
  const int n = Encode(int(count) / InputChannels, OutputBuffer.data(), int(OutputBuffer.size()));
  if (n < 0) return n;
  outputBytes = uint32_t(n);
  return 0;
}

int TLameCoder::DeinitStream(uint32_t &outputBytes) {
  outputBytes = 0;
  if (!Stream) return 4;
  const int n = lame_encode_flush(Stream, OutputBuffer.data(), int(OutputBuffer.size()));
  if (n < 0) return n;
  outputBytes = uint32_t(n);
  if (lame_get_bWriteVbrTag(Stream)) {
    TagFrame.assign(lame_get_lametag_frame(Stream, nullptr, 0), 0);
    TagFrame.resize(lame_get_lametag_frame(Stream, TagFrame.data(), TagFrame.size()));
  }
  return 0;
}

void TLameCoder::CloseStream() {
  if (Stream) lame_close(Stream);
  Stream = nullptr;
}

int TLameCoder::WriteVBRFrame(const std::string &FileName) const {
  if (TagFrame.empty()) return LameNoTagFrame;
  const int fd = ::open(FileName.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return 2;
  // The stream began with a frame of this size kept free for the tag.
  const bool written = WriteAllAt(fd, TagFrame.data(), TagFrame.size(), 0);
  const int writeError = errno;
  const bool closed = ::close(fd) == 0;
  if (!written) errno = writeError;
  return written && closed ? 0 : 3;
}

int TLameCoder::EncoderDelay() const { return Stream ? lame_get_encoder_delay(Stream) : 0; }

int TLameCoder::FrameSamples() const { return Stream ? lame_get_framesize(Stream) : 0; }

int TLameCoder::OutSampleRate() const { return Stream ? lame_get_out_samplerate(Stream) : 0; }
