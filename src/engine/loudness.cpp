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

TLoudnessMeter::TLoudnessMeter(int32_t Channels, int32_t SampleRate) : Channels(std::max(1, Channels)) {
  State = ebur128_init(unsigned(this->Channels), (unsigned long)std::max(1, SampleRate),
                       EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK);
  if (!State) throw std::runtime_error("ebur128_init failed");
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
  double peak = 0;
  for (int32_t c = 0; c < Channels; ++c) {
    double channel = 0;
    if (ebur128_true_peak(St(State), unsigned(c), &channel) == EBUR128_SUCCESS) peak = std::max(peak, channel);
  }
  return peak;
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
