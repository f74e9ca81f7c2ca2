// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoders/alac/alac_encoder.h"

#include <cstring>
#include <stdexcept>

TALACCoder::TALACCoder(const std::string &FileName, const TTagRec &Tags, const TAudioInfo &AudioInfo,
                       const TALACOptions &)
    : TCustomCoder(FileName, Tags, AudioInfo) {}

void TALACCoder::Start() {
  const TAudioInfoRec &s = Stream();
  if (s.BitsPerSample != 16 && s.BitsPerSample != 24)
    throw EAssertFailed("Assert failed : ALAC takes 16 or 24 bits, not " + std::to_string(s.BitsPerSample));
  CreateOutput();
  Encoder = std::make_unique<TMP4Encoder>();
  // 24-bit samples go in the high bits of 32, as the encoder takes them.
  Encoder->Open("alac", s.BitsPerSample == 16 ? AV_SAMPLE_FMT_S16P : AV_SAMPLE_FMT_S32P, s.SampleRate, s.Channels,
                OutStream.get(), [&](AVCodecContext &c) { c.bits_per_raw_sample = s.BitsPerSample; });
}

int TALACCoder::GetBufferSize() {
  return (Encoder ? Encoder->FrameSize() : 4096) * Stream().Channels * (Stream().BitsPerSample / 8);
}

void TALACCoder::DoOutput(const void *Buffer, int Size, bool) {
  const TAudioInfoRec &s = Stream();
  const int bytes = s.BitsPerSample / 8, channels = s.Channels;
  const auto *in = static_cast<const uint8_t *>(Buffer);
  const int frames = Size / (bytes * channels);
  for (int f = 0; f < frames; ++f) {
    for (int c = 0; c < channels; ++c, in += bytes) {
      if (bytes == 2) {
        std::memcpy(Encoder->Plane(c) + 2 * Filled, in, 2);
      } else {
        const int32_t v = int32_t(uint32_t(in[0]) << 8 | uint32_t(in[1]) << 16 | uint32_t(in[2]) << 24);
        std::memcpy(Encoder->Plane(c) + 4 * Filled, &v, 4);
      }
    }
    if (++Filled == Encoder->FrameSize()) {
      Encoder->Send(Filled);
      Filled = 0;
    }
  }
}

void TALACCoder::Abort(bool KeepOutput) {
  TCustomCoder::Abort(KeepOutput);
  Keep = KeepOutput;
}

void TALACCoder::Finish() {
  FinishOutput([this](TFileStream &) {
    // A file that is kept is a whole one: its last frame and its index.
    if (Encoder && Keep) {
      if (Filled > 0) Encoder->Send(Filled);
      Filled = 0;
      Encoder->Finish();
    }
    Encoder.reset();
  });
}
