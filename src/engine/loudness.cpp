// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/loudness.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace {

ebur128_state *St(void *State) { return static_cast<ebur128_state *>(State); }

constexpr double kReplayGainReference = -18.0;  // LUFS
constexpr double kR128Reference = -23.0;         // LUFS, RFC 7845
// Silence has no loudness: it keeps its level.
double GainTo(double Reference, double Loudness) { return std::isfinite(Loudness) ? Reference - Loudness : 0.0; }
// Q7.8 fixed point, as Opus players read it.
int32_t Q78(double Gain) { return int32_t(std::clamp(std::lround(Gain * 256), -32768L, 32767L)); }

}  // namespace

// Frames of a stretch the true peak looks at in one go.
constexpr size_t kStretch = 256;

TLoudnessMeter::TLoudnessMeter(int32_t Channels, int32_t SampleRate)
    : Channels(std::max(1, Channels)), Factor(SampleRate < 96000 ? 4 : SampleRate < 192000 ? 2 : 1) {
  State = ebur128_init(unsigned(this->Channels), (unsigned long)std::max(1, SampleRate), EBUR128_MODE_I);
  if (!State) throw std::runtime_error("ebur128_init failed");
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

void TLoudnessMeter::AddPeaks(const void *Data, size_t Frames, bool Float) {
  const size_t history = TapsPerPhase - 1, span = history + kStretch;
  for (size_t at = 0; at < Frames; at += kStretch) {
    const size_t count = std::min(kStretch, Frames - at);
    for (int32_t c = 0; c < Channels; ++c) {
      float *x = Frame.data() + size_t(c) * span;  // history, then this stretch
      float largest = 0;
      for (size_t i = 0; i < history; ++i) largest = std::max(largest, std::fabs(x[i]));
      float sampled = 0;
      for (size_t i = 0; i < count; ++i) {
        const size_t s = (at + i) * size_t(Channels) + size_t(c);
        const float v = Float ? static_cast<const float *>(Data)[s] : static_cast<const int16_t *>(Data)[s] / 32768.0f;
        x[history + i] = v;
        sampled = std::max(sampled, std::fabs(v));
      }
      float &peak = PeakOf[size_t(c)];
      peak = std::max(peak, sampled);
      // Between samples no higher than this: nothing to find here.
      if (Factor > 1 && Bound * std::max(largest, sampled) > peak) {
        for (size_t i = 0; i < count; ++i) {
          const float *newest = x + history + i;
          for (int32_t p = 1; p < Factor; ++p) {
            const float *h = Taps.data() + size_t(p) * TapsPerPhase;
            float y = 0;
            for (size_t k = 0; k < TapsPerPhase; ++k) y += h[k] * newest[-std::ptrdiff_t(k)];
            peak = std::max(peak, std::fabs(y));
          }
        }
      }
      std::copy(x + count, x + count + history, x);  // the last samples become the history
    }
  }
}

TLoudnessMeter::~TLoudnessMeter() {
  ebur128_state *state = St(State);
  ebur128_destroy(&state);
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
  AddPeaks(Data, frames, Float);
  const int result = Float ? ebur128_add_frames_float(St(State), static_cast<const float *>(Data), frames)
                           : ebur128_add_frames_short(St(State), static_cast<const int16_t *>(Data), frames);
  if (result != EBUR128_SUCCESS) throw std::runtime_error("ebur128_add_frames failed");
}

double TLoudnessMeter::Loudness() const {
  double loudness = -HUGE_VAL;
  ebur128_loudness_global(St(State), &loudness);
  return loudness;
}

double TLoudnessMeter::Peak() const {
  return PeakOf.empty() ? 0.0 : *std::max_element(PeakOf.begin(), PeakOf.end());
}

double AlbumLoudness(const std::vector<const TLoudnessMeter *> &Tracks) {
  std::vector<ebur128_state *> states;
  for (const TLoudnessMeter *track : Tracks)
    if (track) states.push_back(St(track->State));
  double loudness = -HUGE_VAL;
  if (!states.empty()) ebur128_loudness_global_multiple(states.data(), states.size(), &loudness);
  return loudness;
}

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
