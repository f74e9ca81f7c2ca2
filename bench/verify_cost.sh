#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# What /verify costs: a lossless batch (8 pieces of 60 s, 44.1 kHz stereo,
# four 16-bit and four 24-bit) to FLAC, Monkey's Audio, WavPack and WAV on one
# core, with and without /verify. Each time is the lowest of three runs.
# Usage: bench/verify_cost.sh [BUILD_DIR]
set -eu
build=${1:-build}
work="$build/bench/verify"
rm -rf "$work"
mkdir -p "$work/in"
# A fresh settings folder: stored options of the user must not steer the runs.
export XDG_CONFIG_HOME="$work/config"
mkdir -p "$XDG_CONFIG_HOME"
# Plucked chords over a quiet noise floor, a different key in every piece.
for i in 0 1 2 3 4 5 6 7; do
  bits=$((i < 4 ? 16 : 24))
  sox -D -R -n -r 44100 -c 2 -b "$bits" "$work/notes.wav" synth 1.5 pluck "$((i * 50 + 110))" pluck "$((i * 60 + 165))" gain -6 2>/dev/null
  sox -D -R -n -r 44100 -c 2 -b "$bits" "$work/floor.wav" synth 1.5 pinknoise gain -40
  sox -D -m "$work/notes.wav" "$work/floor.wav" "$work/in/piece$i.wav" repeat 39
done
rm -f "$work/notes.wav" "$work/floor.wav"
seconds=$(soxi -D "$work"/in/*.wav | awk '{ s += $1 } END { print s }')
echo "$seconds s of 44.1 kHz stereo (half 16-bit, half 24-bit), one core"
# best DEST [SWITCH]: the lowest wall time of three runs, in seconds.
best() {
  for rep in 1 2 3; do
    rm -rf "$work/out"
    start=$(date +%s.%N)
    taskset -c 0 "$build/tonmill" /input "$work/in" /output "$work/out" /dest "$1" /p 1 /q ${2:-}
    end=$(date +%s.%N)
    echo "$start $end"
  done | awk '{ t = $2 - $1; if (NR == 1 || t < b) b = t } END { printf "%.2f", b }'
}
for dest in flac ape wavpack wav; do
  plain=$(best "$dest")
  checked=$(best "$dest" /verify)
  awk -v d="$dest" -v p="$plain" -v c="$checked" \
    'BEGIN { printf "  %-8s %6.2f s  with /verify %6.2f s  %.2f x  (target <= 1.3 x)\n", d, p, c, c / p }'
done
