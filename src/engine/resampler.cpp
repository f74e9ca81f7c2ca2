// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/resampler.h"

#include <algorithm>
#include <iterator>
#include <stdexcept>
#include <string>

#include "base/texts.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace {

void Check(int result, const char *call) {
  if (result >= 0) return;
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(result, text, sizeof text);
  throw std::runtime_error(std::string(call) + " failed: " + text);
}

}  // namespace

TResampler::TResampler(int32_t InRate, int32_t InChannels, int32_t OutRate, int32_t OutChannels, bool Float,
                       bool FloatOut)
    : OutFrameBytes(OutChannels * (FloatOut ? 4 : 2)) {
  const AVSampleFormat format = Float ? AV_SAMPLE_FMT_FLT : AV_SAMPLE_FMT_S16;
  const AVSampleFormat outFormat = FloatOut ? AV_SAMPLE_FMT_FLT : AV_SAMPLE_FMT_S16;
  AVChannelLayout in, out;
  av_channel_layout_default(&in, InChannels);
  av_channel_layout_default(&out, OutChannels);
  try {
    Check(swr_alloc_set_opts2(&Context, &out, outFormat, OutRate, &in, format, InRate, 0, nullptr),
          "swr_alloc_set_opts2");
    // The SoX resampler, at a precision beyond what the samples hold (28 bits
    // for 24-bit and float sources, 20 for 16-bit ones).
    Check(av_opt_set(Context, "resampler", "soxr", 0), "av_opt_set resampler");
    Check(av_opt_set_double(Context, "precision", Float ? 28 : 20, 0), "av_opt_set precision");
    // Integers are resampled as floats: the library would otherwise dither
    // 16-bit results from a clock-seeded generator, a new output each run.
    Check(av_opt_set_sample_fmt(Context, "internal_sample_fmt", AV_SAMPLE_FMT_FLTP, 0), "av_opt_set internal format");
    // A down-mix must not go past full scale (floats would otherwise be left loud).
    av_opt_set_double(Context, "rematrix_maxval", 1.0, 0);
    // Mono spread to stereo keeps its level in each channel, as a copy.
    if (InChannels == 1 && OutChannels == 2) {
      const double both[2] = {1.0, 1.0};
      Check(swr_set_matrix(Context, both, 1), "swr_set_matrix");
    } else if (InChannels != OutChannels && in.order == AV_CHANNEL_ORDER_UNSPEC) {
      // A count without a speaker layout: channel c goes to output c modulo
      // the output's count, shared so that no output passes full scale.
      std::vector<double> matrix(size_t(OutChannels) * size_t(InChannels), 0.0);
      for (int32_t o = 0; o < OutChannels; ++o) {
        const int32_t sources = (InChannels - o + OutChannels - 1) / OutChannels;
        for (int32_t c = o; c < InChannels; c += OutChannels)
          matrix[size_t(o) * size_t(InChannels) + size_t(c)] = 1.0 / std::max(1, sources);
      }
      Check(swr_set_matrix(Context, matrix.data(), InChannels), "swr_set_matrix");
    }
    Check(swr_init(Context), "swr_init");
  } catch (const std::exception &e) {
    swr_free(&Context);
    throw std::runtime_error(text_failed_to_init_resampler + " (" + std::to_string(InRate) + " Hz, " +
                             std::to_string(InChannels) + " -> " + std::to_string(OutRate) + " Hz, " +
                             std::to_string(OutChannels) + "): " + e.what());
  }
}

TResampler::~TResampler() { swr_free(&Context); }

void TResampler::Convert(const uint8_t *In, int64_t Frames) {
  const int64_t room = swr_get_out_samples(Context, int(Frames));
  Check(int(room), "swr_get_out_samples");
  Out.resize(size_t(room + 1) * size_t(OutFrameBytes));
  uint8_t *out = Out.data();
  const uint8_t *in = In;
  const int got = swr_convert(Context, &out, int(room + 1), In ? &in : nullptr, int(Frames));
  Check(got, "swr_convert");
  Out.resize(size_t(got) * size_t(OutFrameBytes));
}

int32_t RateWithin(int32_t Rate, int32_t MaxRate) {
  if (MaxRate <= 0 || Rate <= MaxRate) return Rate;
  const int32_t base = Rate % 11025 == 0 ? 44100 : Rate % 8000 == 0 ? 48000 : 0;
  if (base == 0 || base > MaxRate) return MaxRate;
  int32_t rate = base;
  while (rate <= MaxRate / 2) rate *= 2;
  return rate;
}

namespace {

int32_t RateTaken(int32_t Rate, const TEncoderRange &Range) {
  if (Range.Rates.empty()) {
    if (Range.MaxRate > 0 && Rate > Range.MaxRate) return RateWithin(Rate, Range.MaxRate);
    return std::max(Rate, Range.MinRate);
  }
  if (std::find(Range.Rates.begin(), Range.Rates.end(), Rate) != Range.Rates.end()) return Rate;
  if (Rate > Range.Rates.back()) {
    const int32_t within = RateWithin(Rate, Range.Rates.back());
    auto above = std::upper_bound(Range.Rates.begin(), Range.Rates.end(), within);
    return above == Range.Rates.begin() ? Range.Rates.front() : *std::prev(above);
  }
  return *std::lower_bound(Range.Rates.begin(), Range.Rates.end(), Rate);
}

}  // namespace

TAudioInfoRec StreamTaken(const TAudioInfoRec &Stream, const TEncoderRange &Range) {
  TAudioInfoRec s = Stream;
  s.SampleRate = RateTaken(Stream.SampleRate, Range);
  if (Range.MaxChannels > 0 && s.Channels > Range.MaxChannels) s.Channels = Range.MaxChannels;
  if (s.SampleRate == Stream.SampleRate && s.Channels == Stream.Channels) return Stream;
  if (s.Channels != Stream.Channels) s.ChannelLayout = s.Channels == 1 ? "mono" : s.Channels == 2 ? "stereo" : "";
  s.BlockAlign = s.Channels * s.BytesPerSample;
  s.BytesPerSecond = s.BlockAlign * s.SampleRate;
  return s;
}

TAudioInfoRec PreprocessedStream(const TPreprocessOptions &Options, const TAudioInfoRec &Source) {
  TAudioInfoRec s = Source;
  if (Options.Resample && Options.ResampleTo > 0) s.SampleRate = Options.ResampleTo;
  if (Options.Channels == 1 || Options.Channels == 2) s.Channels = Options.Channels;
  if (s.SampleRate == Source.SampleRate && s.Channels == Source.Channels) return Source;
  s.ChannelLayout = s.Channels == 1 ? "mono" : "stereo";
  s.BlockAlign = s.Channels * s.BytesPerSample;
  s.BytesPerSecond = s.BlockAlign * s.SampleRate;
  return s;
}
