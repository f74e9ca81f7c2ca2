#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Speed of the silence scan on one core: a 10-minute recording of tones and
# silences (FLAC, 44.1 kHz stereo). Usage: bench/silence_scan.sh [BUILD_DIR]
set -eu
build=${1:-build}
work="$build/bench/silence"
mkdir -p "$work"
sox -D -R -n -r 44100 -c 2 -b 16 "$work/piece.wav" synth 25 pinknoise sine 330 gain -10 pad 0 5 2>/dev/null
sox -D "$work/piece.wav" "$work/recording.flac" repeat 19 2>/dev/null
taskset -c 0 "$build/bench/silence_scan_bench" "$work/recording.flac"
