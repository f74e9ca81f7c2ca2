// SPDX-License-Identifier: GPL-3.0-or-later
// Worker side: the loudness of what an encoder is given (EBU R128 integrated
// loudness, and the true peak), for ReplayGain 2.0 tags. A
// track's meter is kept after its job for the loudness of its album.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/misc.h"

class TLoudnessMeter {
 public:
  TLoudnessMeter(int32_t Channels, int32_t SampleRate);
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
  friend double GatedLoudness(const std::vector<const TLoudnessMeter *> &Meters);
  int32_t Channels;
  // The K-weighted mean square, measured here as the encoder is fed.
  // A biquad in transposed direct form II with the output's feedback folded
  // into the state's: C1 = B1 - A1 B0, C2 = B2 - A2 B0.
  struct TBiquad {
    double B0, C1, C2, A1, A2;
  };
  struct TWeightedChannel {
    int32_t Channel;
    double Weight;
    std::array<double, 4> S{};  // both filters' state
  };
  void InitWeighting(int32_t SampleRate);
  template <size_t N, typename Sample>
  double KWeighted(const Sample *Data, size_t Stride, size_t Count, double Scale,
                   std::array<TWeightedChannel *, N> Ch) const;
  template <typename Sample>
  void AddWeighted(const Sample *Data, size_t Frames, double Scale);
  TBiquad Shelf{}, HighPass{};
  std::vector<TWeightedChannel> Weighted;
  int64_t SubBlockFrames = 1;  // 100 ms
  int64_t InSubBlock = 0;
  double SubBlockSum = 0;
  std::array<double, 4> Recent{};  // the last four 100 ms sums
  int64_t RecentCount = 0;
  std::vector<double> Blocks;  // the mean square of every 400 ms block
  std::vector<float> Cut;
  // The true peak, measured here rather than by the library: the oversampling
  // runs only on stretches that could pass the highest peak found so far.
  template <typename Sample>
  void AddPeaks(const Sample *Data, size_t Frames, float Scale);
  static constexpr size_t kStretch = 256;  // frames the true peak looks at in one go
  // The largest interpolated magnitude among a stretch's first Count frames.
  float BetweenSamples(const float *Stretch, size_t Count) const;
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
