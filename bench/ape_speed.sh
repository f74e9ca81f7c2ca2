#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Monkey's Audio compression on one core at every level: 2 minutes of
# 44.1 kHz 16-bit stereo, time and size next to flac -8.
# Usage: bench/ape_speed.sh [BUILD_DIR]
set -eu
build=${1:-build}
work="$build/bench/ape"
rm -rf "$work"
mkdir -p "$work"
# Plucked chords over a quiet noise floor, with a little room echo.
i=0
for notes in "C3 E3 G3" "A2 C3 E3" "F2 A2 C3" "G2 B2 D3" "C3 G3 E4" "D3 F3 A3" "E2 G2 B2" "F3 A3 C4"; do
  set -- $notes
  sox -D -R -n -r 44100 -c 2 -b 16 "$work/seg$i.wav" synth 1.5 pluck "$1" pluck "$2" pluck "$3" gain -4 2>/dev/null
  i=$((i + 1))
done
sox -D "$work"/seg*.wav "$work/chords.wav" echo 0.8 0.7 40 0.3
sox -D -R -n -r 44100 -c 2 -b 16 "$work/floor.wav" synth 12.08 pinknoise gain -40
sox -D -m "$work/chords.wav" "$work/floor.wav" "$work/bar.wav"
sox -D "$work/bar.wav" "$work/music.wav" repeat 9
seconds=$(soxi -D "$work/music.wav")
echo "$seconds s of 44.1 kHz 16-bit stereo"
for level in fast normal high extra insane; do
  start=$(date +%s.%N)
  taskset -c 0 "$build/tonmill" /input "$work/music.wav" /output "$work/$level" /dest ape /compression "$level" /q
  end=$(date +%s.%N)
  size=$(stat -c %s "$work/$level/music.ape")
  awk -v l="$level" -v s="$start" -v e="$end" -v a="$seconds" -v z="$size" \
    'BEGIN { printf "  %-7s %6.2f s  %5.0fx real time  %9d bytes\n", l, e - s, a / (e - s), z }'
done
flac -8 -s -f "$work/music.wav" -o "$work/music.flac"
echo "  flac -8                                  $(stat -c %s "$work/music.flac") bytes"
