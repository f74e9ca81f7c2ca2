// SPDX-License-Identifier: GPL-3.0-or-later
// The loudness meter against libebur128 on the same samples: every rate
// designs its own filters, every channel count weighs its channels, and both
// gates matter (loud, quiet and silent stretches).
#include <ebur128.h>
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "engine/loudness.h"

namespace {

// Tones and noise at a level that changes every 1.3 s: loud, 45 dB down
// (below the relative gate), silent.
std::vector<float> Programme(int32_t Rate, int32_t Channels, double Seconds, uint32_t Seed) {
  std::mt19937 random(Seed);
  std::normal_distribution<float> noise(0, 0.05f);
  const size_t frames = size_t(Seconds * Rate);
  std::vector<float> samples(frames * size_t(Channels));
  for (size_t i = 0; i < frames; ++i) {
    const int stretch = int(double(i) / Rate / 1.3) % 3;
    const float level = stretch == 0 ? 0.7f : stretch == 1 ? 0.004f : 0;
    for (int32_t c = 0; c < Channels; ++c)
      samples[i * size_t(Channels) + size_t(c)] =
          level * (0.6f * float(std::sin(2 * M_PI * (60 + 700 * c) * double(i) / Rate)) + noise(random));
  }
  return samples;
}

// 16-bit rows are fed as integers.
TEST(Loudness, AgreesWithLibebur128) {
  struct TRow {
    int32_t Rate, Channels;
    bool Integers = false;
  };
  for (const TRow row : {TRow{44100, 2, true}, {48000, 6}, {8000, 1}, {22050, 5}, {96000, 2}, {192000, 8}, {11025, 4}}) {
    SCOPED_TRACE(std::to_string(row.Rate) + " Hz, " + std::to_string(row.Channels) + " channels");
    std::vector<std::unique_ptr<TLoudnessMeter>> ours;
    std::vector<ebur128_state *> theirs;
    for (uint32_t track = 0; track < 2; ++track) {
      const std::vector<float> samples = Programme(row.Rate, row.Channels, 5.5 + 3 * track, track);
      std::vector<int16_t> integers;
      for (float v : samples) integers.push_back(int16_t(std::lround(v * 32767)));
      ours.push_back(std::make_unique<TLoudnessMeter>(row.Channels, row.Rate));
      theirs.push_back(ebur128_init(unsigned(row.Channels), unsigned(row.Rate), EBUR128_MODE_I));
      // Blocks of odd sizes, across the meters' 100 ms steps.
      const size_t frames = samples.size() / size_t(row.Channels);
      for (size_t at = 0, step = 1; at < frames; at += step, step = step * 7 % 5003 + 1) {
        const size_t count = std::min(step, frames - at), from = at * size_t(row.Channels);
        if (row.Integers) {
          ours.back()->Add(integers.data() + from, int(count * size_t(row.Channels) * sizeof(int16_t)), false);
          ebur128_add_frames_short(theirs.back(), integers.data() + from, count);
        } else {
          ours.back()->Add(samples.data() + from, int(count * size_t(row.Channels) * sizeof(float)), true);
          ebur128_add_frames_float(theirs.back(), samples.data() + from, count);
        }
      }
      double expected = 0;
      ebur128_loudness_global(theirs.back(), &expected);
      EXPECT_NEAR(ours.back()->Loudness(), expected, 0.01) << "track " << track;
    }
    double album = 0;
    ebur128_loudness_global_multiple(theirs.data(), theirs.size(), &album);
    EXPECT_NEAR(AlbumLoudness({ours[0].get(), ours[1].get()}), album, 0.01);
    for (ebur128_state *&state : theirs) ebur128_destroy(&state);
  }
  // Less than one block, or nothing but silence, has no loudness.
  TLoudnessMeter shortOne(2, 44100), silent(1, 48000);
  const std::vector<float> tone = Programme(44100, 2, 0.39, 0), zeros(48000 * 3, 0.0f);
  shortOne.Add(tone.data(), int(tone.size() * sizeof(float)), true);
  silent.Add(zeros.data(), int(zeros.size() * sizeof(float)), true);
  EXPECT_EQ(shortOne.Loudness(), -HUGE_VAL);
  EXPECT_EQ(silent.Loudness(), -HUGE_VAL);
}

}  // namespace
