// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/loudness.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kReplayGainReference = -18.0;  // LUFS
constexpr double kR128Reference = -23.0;         // LUFS, RFC 7845
// Silence has no loudness: it keeps its level.
double GainTo(double Reference, double Loudness) { return std::isfinite(Loudness) ? Reference - Loudness : 0.0; }
// Q7.8 fixed point, as Opus players read it.
int32_t Q78(double Gain) { return int32_t(std::clamp(std::lround(Gain * 256), -32768L, 32767L)); }

// One channel's way through both filters, kept in locals (registers) while
// a stretch runs.
struct TChain {
  double V0, V1, V2, V3, Sum;
};

}  // namespace

// ITU-R BS.1770 K-weighting, designed for the sample rate from its analogue
// prototype: a high shelf (+4 dB above about 1.7 kHz) modelling the head,
// then the RLB high-pass at about 38 Hz. At 48 kHz these give the
// standard's published coefficients.
void TLoudnessMeter::InitWeighting(int32_t SampleRate) {
  const double rate = SampleRate;
  const auto folded = [](double B0, double B1, double B2, double A1, double A2) {
    return TBiquad{B0, B1 - A1 * B0, B2 - A2 * B0, A1, A2};
  };
  {
    const double f0 = 1681.974450955533, gain = 3.999843853973347, q = 0.7071752369554196;
    const double k = std::tan(M_PI * f0 / rate), vh = std::pow(10.0, gain / 20);
    const double vb = std::pow(vh, 0.4996667741545416), a0 = 1 + k / q + k * k;
    Shelf = folded((vh + vb * k / q + k * k) / a0, 2 * (k * k - vh) / a0, (vh - vb * k / q + k * k) / a0,
                   2 * (k * k - 1) / a0, (1 - k / q + k * k) / a0);
  }
  {
    const double f0 = 38.13547087602444, q = 0.5003270373238773;
    const double k = std::tan(M_PI * f0 / rate), a0 = 1 + k / q + k * k;
    HighPass = folded(1, -2, 1, 2 * (k * k - 1) / a0, (1 - k / q + k * k) / a0);
  }
  // Channel weights by position in the usual orders (quad L R Ls Rs, 5.0
  // L R C Ls Rs, else L R C LFE Ls Rs): the surrounds count 1.5 dB more, the
  // LFE and anything past 5.1 not at all.
  for (int32_t c = 0; c < Channels; ++c) {
    const int32_t surroundsFrom = Channels == 4 ? 2 : Channels == 5 ? 3 : 4;
    const double weight = c >= surroundsFrom && c < surroundsFrom + 2 ? 1.41 : c < std::min(surroundsFrom, 3) ? 1.0 : 0.0;
    if (weight > 0) Weighted.push_back({.Channel = c, .Weight = weight});
  }
  SubBlockFrames = std::max<int64_t>(1, (SampleRate + 5) / 10);
}

// One or two channels of interleaved samples through both filters: the
// weighted sum of their squares. Two chains of dependent operations side by
// side keep the processor busy.
template <size_t N, typename Sample>
double TLoudnessMeter::KWeighted(const Sample *Data, size_t Stride, size_t Count, double Scale,
                                 std::array<TWeightedChannel *, N> Ch) const {
  const TBiquad sh = Shelf, hp = HighPass;
  const auto step = [&sh, &hp](TChain &C, double X) {
    // Each state waits on one product less than in the plain form.
    const double y = sh.B0 * X + C.V0;
    const double v0 = C.V0;
    C.V0 = sh.C1 * X + C.V1 - sh.A1 * v0;
    C.V1 = sh.C2 * X - sh.A2 * v0;
    const double z = hp.B0 * y + C.V2;
    const double v2 = C.V2;
    C.V2 = hp.C1 * y + C.V3 - hp.A1 * v2;
    C.V3 = hp.C2 * y - hp.A2 * v2;
    C.Sum += z * z;
  };
  TChain chain[N];
  for (size_t n = 0; n < N; ++n) chain[n] = {Ch[n]->S[0], Ch[n]->S[1], Ch[n]->S[2], Ch[n]->S[3], 0};
  const Sample *a = Data + Ch[0]->Channel, *b = Data + Ch[N - 1]->Channel;
  for (size_t i = 0; i < Count; ++i) {
    step(chain[0], double(a[i * Stride]) * Scale);
    if constexpr (N == 2) step(chain[1], double(b[i * Stride]) * Scale);
  }
  double sum = 0;
  for (size_t n = 0; n < N; ++n) {
    // A state decaying in silence would become denormal and slow.
    Ch[n]->S = {chain[n].V0, chain[n].V1, chain[n].V2, chain[n].V3};
    for (double &v : Ch[n]->S)
      if (std::fabs(v) < 1e-30) v = 0;
    sum += Ch[n]->Weight * chain[n].Sum;
  }
  return sum;
}

template <typename Sample>
void TLoudnessMeter::AddWeighted(const Sample *Data, size_t Frames, double Scale) {
  const size_t stride = size_t(Channels);
  while (Frames > 0) {
    // Up to the end of the current 100 ms.
    const size_t count = size_t(std::min<int64_t>(int64_t(Frames), SubBlockFrames - InSubBlock));
    for (size_t c = 0; c < Weighted.size(); c += 2) {
      if (c + 1 < Weighted.size())
        SubBlockSum += KWeighted<2>(Data, stride, count, Scale, {&Weighted[c], &Weighted[c + 1]});
      else
        SubBlockSum += KWeighted<1>(Data, stride, count, Scale, {&Weighted[c]});
    }
    Data += count * stride;
    Frames -= count;
    InSubBlock += int64_t(count);
    if (InSubBlock == SubBlockFrames) {
      // Gating blocks are 400 ms long, one every 100 ms.
      Recent[RecentCount++ % 4] = SubBlockSum;
      if (RecentCount >= 4)
        Blocks.push_back((Recent[0] + Recent[1] + Recent[2] + Recent[3]) / double(4 * SubBlockFrames));
      SubBlockSum = 0;
      InSubBlock = 0;
    }
  }
}

// The integrated loudness of the blocks of all meters together: blocks
// below -70 LUFS are left out, then those 10 LU below the rest's loudness.
double GatedLoudness(const std::vector<const TLoudnessMeter *> &Meters) {
  const auto loudness = [](double Energy) { return -0.691 + 10 * std::log10(Energy); };
  const auto meanAbove = [&](double Gate) {
    double sum = 0;
    size_t count = 0;
    for (const TLoudnessMeter *m : Meters)
      if (m)
        for (double e : m->Blocks)
          if (e >= Gate) {
            sum += e;
            ++count;
          }
    return count ? sum / double(count) : 0.0;
  };
  const double absolute = std::pow(10.0, (-70 + 0.691) / 10);
  const double ungated = meanAbove(absolute);
  if (ungated <= 0) return -HUGE_VAL;
  const double gated = meanAbove(std::max(absolute, ungated / 10));
  return gated > 0 ? loudness(gated) : -HUGE_VAL;
}


TLoudnessMeter::TLoudnessMeter(int32_t Channels, int32_t SampleRate)
    : Channels(std::max(1, Channels)), Factor(SampleRate < 96000 ? 4 : SampleRate < 192000 ? 2 : 1) {
  InitWeighting(std::max(1, SampleRate));
  // A Hann-windowed sinc of 12 input samples a phase (ITU-R BS.1770's true
  // peak: 4 times oversampled below 96 kHz), split into its phases.
  const size_t taps = size_t(12 * Factor + 1);
  TapsPerPhase = (taps + size_t(Factor) - 1) / size_t(Factor);
  Taps.assign(size_t(Factor) * TapsPerPhase, 0.0f);
  Bound = 0;
  for (int32_t p = 0; p < Factor; ++p) {
    double sum = 0;
    for (size_t k = 0; k < TapsPerPhase; ++k) {
      const size_t j = size_t(p) + k * size_t(Factor);
      if (j >= taps) continue;
      const double m = (double(j) - double(taps - 1) / 2) * M_PI / Factor;
      const double c = (std::fabs(m) < 1e-9 ? 1.0 : std::sin(m) / m) * 0.5 * (1 - std::cos(2 * M_PI * double(j) / double(taps - 1)));
      Taps[size_t(p) * TapsPerPhase + k] = float(c);
      sum += std::fabs(c);
    }
    Bound = std::max(Bound, sum);
  }
  Frame.assign(size_t(this->Channels) * (TapsPerPhase - 1 + kStretch), 0.0f);
  PeakOf.assign(size_t(this->Channels), 0.0f);
}

template <typename Sample>
void TLoudnessMeter::AddPeaks(const Sample *Data, size_t Frames, float Scale) {
  const size_t history = TapsPerPhase - 1, span = history + kStretch, stride = size_t(Channels);
  for (size_t at = 0; at < Frames; at += kStretch) {
    const size_t count = std::min(kStretch, Frames - at);
    for (size_t c = 0; c < stride; ++c) {
      float *x = Frame.data() + c * span;  // history, then this stretch
      const Sample *in = Data + at * stride + c;
      float largest = 0;
      for (size_t i = 0; i < history; ++i) largest = std::max(largest, std::fabs(x[i]));
      float sampled = 0;
      for (size_t i = 0; i < count; ++i) {
        const float v = float(in[i * stride]) * Scale;
        x[history + i] = v;
        sampled = std::max(sampled, std::fabs(v));
      }
      std::fill(x + history + count, x + span, 0.0f);
      float &peak = PeakOf[c];
      peak = std::max(peak, sampled);
      // Between samples no higher than this: nothing to find here.
      if (Factor > 1 && Bound * std::max(largest, sampled) > peak) peak = std::max(peak, BetweenSamples(x + history, count));
      std::copy(x + count, x + count + history, x);  // the last samples become the history
    }
  }
}

float TLoudnessMeter::BetweenSamples(const float *Stretch, size_t Count) const {
  std::array<float, kStretch> y, top{};
  for (int32_t p = 1; p < Factor; ++p) {
    const float *h = Taps.data() + size_t(p) * TapsPerPhase;
    // Tap by tap over the whole stretch: the inner loop carries no chain
    // from one sample to the next, so it runs on vectors.
    y.fill(0);
    for (size_t k = 0; k < TapsPerPhase; ++k) {
      const float tap = h[k];
      const float *from = Stretch - k;
      for (size_t i = 0; i < kStretch; ++i) y[i] += tap * from[i];
    }
    for (size_t i = 0; i < kStretch; ++i) top[i] = std::max(top[i], std::fabs(y[i]));
  }
  // Past Count the stretch is padding.
  return *std::max_element(top.begin(), top.begin() + std::ptrdiff_t(Count));
}

void TLoudnessMeter::Add(const void *Data, int Bytes, bool Float, bool Clamped) {
  const size_t frames = size_t(std::max(0, Bytes)) / size_t(Channels) / (Float ? sizeof(float) : sizeof(int16_t));
  if (frames == 0) return;
  if (Float && Clamped) {
    const float *in = static_cast<const float *>(Data);
    Cut.assign(in, in + frames * size_t(Channels));
    for (float &v : Cut) v = std::clamp(v, -1.0f, 1.0f);
    Data = Cut.data();
  }
  if (Float) {
    AddPeaks(static_cast<const float *>(Data), frames, 1.0f);
    AddWeighted(static_cast<const float *>(Data), frames, 1.0);
  } else {
    AddPeaks(static_cast<const int16_t *>(Data), frames, 1.0f / 32768);
    AddWeighted(static_cast<const int16_t *>(Data), frames, 1.0 / 32768);
  }
}

double TLoudnessMeter::Loudness() const { return GatedLoudness({this}); }

double TLoudnessMeter::Peak() const {
  return PeakOf.empty() ? 0.0 : *std::max_element(PeakOf.begin(), PeakOf.end());
}

double AlbumLoudness(const std::vector<const TLoudnessMeter *> &Tracks) { return GatedLoudness(Tracks); }

TReplayGainRec TrackGain(const TLoudnessMeter &Track) {
  TReplayGainRec rec;
  rec.HasTrack = true;
  const double loudness = Track.Loudness();
  rec.TrackGain = GainTo(kReplayGainReference, loudness);
  rec.R128TrackGain = Q78(GainTo(kR128Reference, loudness));
  rec.TrackPeak = Track.Peak();
  return rec;
}

void SetAlbumGain(TReplayGainRec &Rec, double Loudness, double Peak) {
  Rec.HasAlbum = true;
  Rec.AlbumGain = GainTo(kReplayGainReference, Loudness);
  Rec.R128AlbumGain = Q78(GainTo(kR128Reference, Loudness));
  Rec.AlbumPeak = Peak;
}
