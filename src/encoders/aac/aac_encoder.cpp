// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoders/aac/aac_encoder.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

float AACSampleAt(const uint8_t *Sample, int Bytes) {
  if (Bytes == 1) return float(int(Sample[0]) - 128) / 128.0f;
  if (Bytes == 2) {
    int16_t s;
    std::memcpy(&s, Sample, 2);
    return float(s) / 32768.0f;
  }
  int32_t s;
  std::memcpy(&s, Sample, 4);
  return float(s) / 8388608.0f;
}

void ConfigureAAC(AVCodecContext &c, const TAACOptions &o, int Rate, int Channels) {
  c.profile = FF_PROFILE_AAC_LOW;
  if (o.Bitrate > 0) {
    c.bit_rate = int64_t(o.Bitrate) * 1000 * Channels;
  } else {
    c.flags |= AV_CODEC_FLAG_QSCALE;
    c.global_quality = (o.Quality > 0 ? o.Quality : 100) * 6 / 5;
  }
  c.cutoff = std::min(o.Bandwidth > 0 ? o.Bandwidth : 16000, Rate / 2);
  av_opt_set_int(c.priv_data, "aac_tns", 0, 0);
}

TACCCoder::TACCCoder(const std::string &FileName, const TTagRec &Tags, const TAudioInfo &AudioInfo,
                     const TAACOptions &Options)
    : TCustomCoder(FileName, Tags, AudioInfo), Coder(std::make_unique<TACC_Coder>()), Options(Options) {}

void TACCCoder::Start() {
  Coder->Bitrate = Options.Bitrate;
  Coder->Bandwidth = Options.Bandwidth;
  Coder->Quality = Options.Quality;
  Coder->AudioInfo = AudioInfo;
  CreateOutput();
  if (Options.Container == TAACContainer::MP4) {
    const TAudioInfoRec &s = Stream();
    Muxed = std::make_unique<TMP4Encoder>();
    Muxed->Open("aac", AV_SAMPLE_FMT_FLTP, s.SampleRate, s.Channels, OutStream.get(),
                [&](AVCodecContext &c) { ConfigureAAC(c, Options, s.SampleRate, s.Channels); });
    return;
  }
  Coder->Start(OutStream.get());
}

int TACCCoder::GetBufferSize() {
  if (Muxed) return Muxed->FrameSize() * Stream().Channels * Stream().BytesPerSample;
  return Coder->InputBlockSize;
}

void TACCCoder::DoOutput(const void *Buffer, int Size, bool) {
  if (!Muxed) {
    Coder->Encode(static_cast<const uint8_t *>(Buffer), Size);
    return;
  }
  const int bytes = Stream().BytesPerSample, channels = Stream().Channels;
  const auto *in = static_cast<const uint8_t *>(Buffer);
  const int frames = Size / (bytes * channels);
  for (int f = 0; f < frames; ++f) {
    for (int c = 0; c < channels; ++c, in += bytes) {
      const float v = AACSampleAt(in, bytes);
      std::memcpy(Muxed->Plane(c) + sizeof(float) * size_t(Filled), &v, sizeof v);
    }
    if (++Filled == Muxed->FrameSize()) {
      Muxed->Send(Filled);
      Filled = 0;
    }
  }
}

void TACCCoder::Finish() {
  FinishOutput([this](TFileStream &) {
    if (!Muxed) {
      // The library holds back the last frames until it is called without samples.
      if (!Aborted) Coder->Drain();
      return;
    }
    // The last, shorter frame, the encoder's delayed ones and the index; a
    // stopped file that is not kept needs none of them.
    if (!Aborted || KeepOutput) {
      if (Filled > 0) Muxed->Send(Filled);
      Muxed->Finish();
    }
    Muxed.reset();
  });
}
