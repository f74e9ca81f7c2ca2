#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# What /replaygain costs: an MP3 batch (4 pieces of 60 s, 44.1 kHz stereo,
# 16-bit) on one core, with and without /replaygain (the loudness is measured
# as the encoder is fed; the album's values are a tagged copy of each output).
# Each time is the lowest of three runs.
# Usage: bench/replaygain_cost.sh [BUILD_DIR]
set -eu
build=${1:-build}
work="$build/bench/replaygain"
rm -rf "$work"
mkdir -p "$work/in"
# A fresh settings folder: stored options of the user must not steer the runs.
export XDG_CONFIG_HOME="$work/config"
mkdir -p "$XDG_CONFIG_HOME"
# Plucked chords over a quiet noise floor, a different key in every piece.
for i in 0 1 2 3; do
  sox -D -R -n -r 44100 -c 2 -b 16 "$work/notes.wav" synth 1.5 pluck "$((i * 50 + 110))" pluck "$((i * 60 + 165))" gain -6 2>/dev/null
  sox -D -R -n -r 44100 -c 2 -b 16 "$work/floor.wav" synth 1.5 pinknoise gain -40
  sox -D -m "$work/notes.wav" "$work/floor.wav" "$work/in/piece$i.wav" repeat 39
done
rm -f "$work/notes.wav" "$work/floor.wav"
seconds=$(soxi -D "$work"/in/*.wav | awk '{ s += $1 } END { print s }')
echo "$seconds s of 44.1 kHz stereo 16-bit to MP3, one core"
# best [SWITCH]: the lowest CPU time (user + system) of three runs, in
# seconds: on a loaded machine the wall time says little, and a run with
# every core busy pays in wall time what it pays in CPU time.
best() {
  for rep in 1 2 3; do
    rm -rf "$work/out"
    /usr/bin/time -f "%U %S" taskset -c 0 "$build/tonmill" /input "$work/in" /output "$work/out" /dest mp3 /p 1 /q ${1:-} 2>&1
  done | awk '{ t = $1 + $2; if (NR == 1 || t < b) b = t } END { printf "%.2f", b }'
}
plain=$(best)
measured=$(best /replaygain)
awk -v p="$plain" -v m="$measured" \
  'BEGIN { printf "  mp3 %6.2f s CPU  with /replaygain %6.2f s  +%.1f %%  (target <= 5 %%)\n", p, m, (m / p - 1) * 100 }'
