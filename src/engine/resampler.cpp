#include "engine/resampler.h"

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

TResampler::TResampler(int32_t InRate, int32_t InChannels, int32_t OutRate, int32_t OutChannels, bool Float)
    : OutFrameBytes(OutChannels * (Float ? 4 : 2)) {
  const AVSampleFormat format = Float ? AV_SAMPLE_FMT_FLT : AV_SAMPLE_FMT_S16;
  AVChannelLayout in, out;
  av_channel_layout_default(&in, InChannels);
  av_channel_layout_default(&out, OutChannels);
  try {
    Check(swr_alloc_set_opts2(&Context, &out, format, OutRate, &in, format, InRate, 0, nullptr),
          "swr_alloc_set_opts2");
    // A down-mix must not go past full scale (floats would otherwise be left loud).
    av_opt_set_double(Context, "rematrix_maxval", 1.0, 0);
    // Mono spread to stereo keeps its level in each channel, as a copy.
    if (InChannels == 1 && OutChannels == 2) {
      const double both[2] = {1.0, 1.0};
      Check(swr_set_matrix(Context, both, 1), "swr_set_matrix");
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

TAudioInfoRec StreamWithin(const TAudioInfoRec &Stream, int32_t MaxRate) {
  TAudioInfoRec s = Stream;
  s.SampleRate = RateWithin(Stream.SampleRate, MaxRate);
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
