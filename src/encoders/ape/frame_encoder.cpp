// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoders/ape/frame_encoder.h"

extern "C" {
#include <libavutil/crc.h>
}

namespace ape {

namespace {

constexpr uint32_t kMonoSilence = 1;
constexpr uint32_t kStereoSilence = 3;
constexpr uint32_t kPseudoStereo = 4;

void PutBigEndian(std::vector<uint8_t> &out, uint32_t v) {
  out.push_back(uint8_t(v >> 24));
  out.push_back(uint8_t(v >> 16));
  out.push_back(uint8_t(v >> 8));
  out.push_back(uint8_t(v));
}

}  // namespace

int64_t BlocksPerFrame(int Level) {
  return Level == 5000 ? 73728 * 16 : Level == 4000 ? 73728 * 4 : 73728;
}

TFrameEncoder::TFrameEncoder(int Level, int Channels, int Bits)
    : Channels(Channels), Bits(Bits), Side(Level, Level == 5000), Mid(Level, Level == 5000),
      Mono(Level, false) {}

void TFrameEncoder::Encode(const uint8_t *Pcm, int64_t Blocks, std::vector<uint8_t> &Out) {
  const size_t count = size_t(Blocks);
  const int bytes = Bits / 8;
  C0.resize(count);
  C1.resize(Channels == 2 ? count : 0);
  const uint8_t *p = Pcm;
  for (size_t t = 0; t < count; ++t) {
    for (int c = 0; c < Channels; ++c, p += bytes) {
      const int32_t v = bytes == 2 ? int16_t(p[0] | p[1] << 8)
                                   : int32_t(uint32_t(p[0]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 24) >> 8;
      (c == 0 ? C0 : C1)[t] = v;
    }
  }

  // The frame's CRC is over its PCM exactly as it stands in a WAV file.
  const uint32_t crc =
      av_crc(av_crc_get_table(AV_CRC_32_IEEE_LE), 0xFFFFFFFFu, Pcm, count * size_t(Channels * bytes)) ^ 0xFFFFFFFFu;

  // Silent and pseudo-stereo frames (16-bit only, as encoders have always done).
  uint32_t flags = 0;
  if (Bits == 16) {
    bool zero0 = true, zero1 = true, same = true;
    for (size_t t = 0; t < count; ++t) {
      zero0 &= C0[t] == 0;
      if (Channels == 2) {
        zero1 &= C1[t] == 0;
        same &= C0[t] == C1[t];
      }
    }
    if (Channels == 1 && zero0) flags = kMonoSilence;
    if (Channels == 2) flags = zero0 && zero1 ? kStereoSilence | kPseudoStereo : same ? kPseudoStereo : 0;
  }
  PutBigEndian(Out, (crc >> 1) | (flags ? 0x80000000u : 0));
  if (flags) PutBigEndian(Out, flags);

  Side.Reset();
  Mid.Reset();
  Mono.Reset();
  ModelY.Reset();
  ModelX.Reset();
  TRangeCoder coder(Out);
  coder.Start();
  const bool silent = Channels == 1 ? (flags & kMonoSilence) != 0 : (flags & kStereoSilence) == kStereoSilence;
  if (!silent) {
    if (Channels == 1 || (flags & kPseudoStereo)) {
      for (size_t t = 0; t < count; ++t) ModelY.Encode(coder, Mono.Compress(C0[t], 0));
    } else {
      int32_t previousMid = 0;
      for (size_t t = 0; t < count; ++t) {
        const int32_t side = C1[t] - C0[t];
        const int32_t mid = C0[t] + side / 2;  // truncating division, as decoders undo it
        ModelY.Encode(coder, Side.Compress(side, previousMid));
        ModelX.Encode(coder, Mid.Compress(mid, side));
        previousMid = mid;
      }
    }
  }
  coder.Flush();
}

}  // namespace ape
