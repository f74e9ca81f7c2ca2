#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Splitting the sound of an hour-long film along a CUE sheet: tonmill (ffmpeg
# decoding each track from its own start, two tracks at a time) next to
# FFmpeg alone extracting the same spans to WAV, two at a time.
# Usage: bench/video_split.sh [BUILD_DIR] [TRACKS] [MINUTES]
set -eu
build=${1:-build}
tracks=${2:-12}
minutes=${3:-60}
work="$build/bench/video"
rm -rf "$work"
mkdir -p "$work/out" "$work/ffmpeg" "$work/config"
export XDG_CONFIG_HOME="$work/config"

seconds=$((minutes * 60))
film="$work/concert.mkv"
# A small picture once a second and AC-3 sound, as a concert recording has.
ffmpeg -nostdin -v error -y -f lavfi -i "testsrc=size=160x120:rate=1:d=$seconds" \
  -f lavfi -i "sine=f=220:r=48000:d=$seconds" -f lavfi -i "anoisesrc=a=0.1:r=48000:d=$seconds" \
  -filter_complex "[1][2]amerge=inputs=2[a]" -map 0 -map "[a]" -c:v mpeg4 -c:a ac3 -b:a 192k "$film"

# Tracks of uneven lengths that fill the film; "number start length" lines for FFmpeg.
sheet="$work/concert.cue"
printf 'PERFORMER "Bench Band"\nTITLE "Concert"\nFILE "concert.mkv" MP3\n' >"$sheet"
: >"$work/spans"
k=0
while [ "$k" -lt "$tracks" ]; do
  start=$((k * seconds / tracks + k * 7 % 23))
  printf '  TRACK %02d AUDIO\n    TITLE "Song %d"\n    INDEX 01 %02d:%02d:00\n' \
    $((k + 1)) $((k + 1)) $((start / 60)) $((start % 60)) >>"$sheet"
  echo "$start" >>"$work/spans"
  k=$((k + 1))
done
echo "$seconds" >>"$work/spans"
awk 'NR > 1 { printf "%d %d %d\n", NR - 1, prev, $1 - prev } { prev = $1 }' "$work/spans" >"$work/pairs"

now() { date +%s.%N; }
# CPU seconds (user + system) of every process this shell has waited for so
# far, noted by the shell itself: on a shared machine the fairer comparison.
cpu() { awk 'NR == 2 { gsub(/s/, ""); split($1, u, "m"); split($2, k, "m"); print u[1] * 60 + u[2] + k[1] * 60 + k[2] }' "$1"; }
times >"$work/cpu0"; t0=$(now)
"$build/tonmill" /input "$sheet" /output "$work/out" /dest wav /p 2 /q
t1=$(now); times >"$work/cpu1"
export film out="$work/ffmpeg"
xargs -P2 -L1 sh -c 'ffmpeg -nostdin -v error -y -ss "$2" -i "$film" -t "$3" -vn -c:a pcm_s16le "$out/$1.wav"' _ \
  <"$work/pairs"
t2=$(now); times >"$work/cpu2"

awk -v a="$t0" -v b="$t1" -v c="$t2" -v ca="$(cpu "$work/cpu0")" -v cb="$(cpu "$work/cpu1")" -v cc="$(cpu "$work/cpu2")" -v n="$tracks" -v m="$minutes" 'BEGIN {
  printf "%d tracks of a %d-minute film (AC-3, 48 kHz stereo) to WAV, two at a time\n", n, m
  printf "               wall      CPU\n"
  printf "  tonmill      %6.2f s  %6.2f s\n  ffmpeg alone %6.2f s  %6.2f s\n", b - a, cb - ca, c - b, cc - cb
  printf "  ratio        %6.2f    %6.2f\n", (b - a) / (c - b), (cb - ca) / (cc - cb)
}'
