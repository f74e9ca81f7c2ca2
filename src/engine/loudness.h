// SPDX-License-Identifier: GPL-3.0-or-later
// Worker side: the loudness of what an encoder is given (EBU R128 integrated
// loudness by libebur128, and the true peak), for ReplayGain 2.0 tags. A
// track's meter is kept after its job for the loudness of its album.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "base/misc.h"

class TLoudnessMeter {
 public:
  // Raises when the library refuses the channel count or rate.
  TLoudnessMeter(int32_t Channels, int32_t SampleRate);
  ~TLoudnessMeter();
  TLoudnessMeter(const TLoudnessMeter &) = delete;
  TLoudnessMeter &operator=(const TLoudnessMeter &) = delete;

  // Interleaved frames: 16-bit integers, or 32-bit floats when Float;
  // Clamped: floats the encoder gets as integers, cut at full scale.
  void Add(const void *Data, int Bytes, bool Float, bool Clamped = false);
  // Integrated loudness in LUFS (-HUGE_VAL for silence) and the true peak as
  // a ratio of full scale (above 1 for a clipped source).
  double Loudness() const;
  double Peak() const;

 private:
  friend double AlbumLoudness(const std::vector<const TLoudnessMeter *> &Tracks);
  void *State = nullptr;  // the library's ebur128_state
  int32_t Channels;
  std::vector<float> Cut;
  // The true peak, measured here rather than by the library: the oversampling
  // runs only on stretches that could pass the highest peak found so far.
  void AddPeaks(const void *Data, size_t Frames, bool Float);
  int32_t Factor;                    // oversampling: 4, 2 from 96 kHz, 1 from 192 kHz
  std::vector<float> Taps;           // the interpolation filter, by phase
  size_t TapsPerPhase = 0;
  double Bound = 1;                  // no phase's output exceeds this times its inputs' largest
  std::vector<float> Frame;          // each channel's recent samples, oldest first, then the stretch
  std::vector<float> PeakOf;         // per channel
};

// The loudness of the tracks together, as one programme.
double AlbumLoudness(const std::vector<const TLoudnessMeter *> &Tracks);

// The tag values: ReplayGain 2.0 gains reach -18 LUFS; the Opus R128 gains
// are relative to -23 LUFS.
TReplayGainRec TrackGain(const TLoudnessMeter &Track);
void SetAlbumGain(TReplayGainRec &Rec, double Loudness, double Peak);
