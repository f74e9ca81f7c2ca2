#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# One long file over two cores: a 20-minute 16-bit stereo 44.1 kHz piece to
# FLAC, WavPack and Monkey's Audio, and to AAC (ADTS and .m4a), Opus and
# MP3, with /p 1 and with /p 2 (the second worker encodes spans of the same file). Each
# time is the lowest of three runs; the lossless outputs of both must decode
# to the source's samples, the lossy ones to as many samples as each other,
# their sizes within 0.5 %.
# Usage: bench/spread.sh [BUILD_DIR]
set -eu
build=$(cd "${1:-build}" && pwd)
work="$build/bench/spread"
rm -rf "$work"
mkdir -p "$work/in" "$work/home"
# A scratch home: stored options of the user must not steer the runs.
export HOME="$work/home"
unset XDG_CONFIG_HOME
# Forty 30-second passages of plucked chords over a quiet noise floor, each
# in another key, one after the other.
for i in $(seq 0 39); do
  sox -D -R -n -r 44100 -c 2 -b 16 "$work/notes.wav" synth 1.5 pluck "$((i * 23 + 110))" pluck "$((i * 31 + 165))" gain -6 2>/dev/null
  sox -D -R -n -r 44100 -c 2 -b 16 "$work/floor.wav" synth 1.5 pinknoise gain -40
  sox -D -m "$work/notes.wav" "$work/floor.wav" "$work/part$i.wav" repeat 19
done
sox -D "$work"/part*.wav "$work/in/long.wav"
rm -f "$work"/notes.wav "$work"/floor.wav "$work"/part*.wav
echo "$(soxi -D "$work/in/long.wav") s of 16-bit stereo 44.1 kHz in one file; load $(cut -d' ' -f1-3 /proc/loadavg)"
samples() { ffmpeg -v error -i "$1" -f s16le - | md5sum | cut -d' ' -f1; }
source=$(samples "$work/in/long.wav")
# best DEST N [SWITCH...]: the lowest wall time of three runs with /p N, in
# seconds; the output is left in $work/pN.
best() {
  dest=$1 n=$2
  shift 2
  for rep in 1 2 3; do
    rm -rf "$work/p$n"
    start=$(date +%s.%N)
    "$build/tonmill" /input "$work/in/long.wav" /output "$work/p$n" /dest "$dest" /p "$n" /q "$@"
    end=$(date +%s.%N)
    echo "$start $end"
  done | awk '{ t = $2 - $1; if (NR == 1 || t < b) b = t } END { printf "%.2f", b }'
}
status=0
for dest in flac wavpack ape; do
  one=$(best "$dest" 1)
  two=$(best "$dest" 2)
  ext=$dest
  [ "$dest" = wavpack ] && ext=wv
  a="$work/p1/long.$ext" b="$work/p2/long.$ext"
  if [ "$(samples "$a")" != "$source" ] || [ "$(samples "$b")" != "$source" ]; then
    same="SAMPLES DIFFER"
    status=1
  elif cmp -s "$a" "$b"; then
    same="same bytes"
  else
    same="same samples"
  fi
  awk -v d="$dest" -v o="$one" -v t="$two" -v s="$same" \
    'BEGIN { printf "  %-8s /p 1 %6.2f s  /p 2 %6.2f s  %.2f x  (target >= 1.8 x)  %s\n", d, o, t, o / t, s }'
done
# Lossy: DEST EXT [SWITCH...]
bytes() { ffmpeg -v error -i "$1" -f s16le - | wc -c; }
lossy() {
  dest=$1 ext=$2
  shift 2
  one=$(best "$dest" 1 "$@")
  two=$(best "$dest" 2 "$@")
  a="$work/p1/long.$ext" b="$work/p2/long.$ext"
  size=$(awk -v a="$(stat -c %s "$a")" -v b="$(stat -c %s "$b")" 'BEGIN { printf "%+.2f", (b - a) * 100 / a }')
  if [ "$(bytes "$a")" != "$(bytes "$b")" ]; then
    same="LENGTHS DIFFER"
    status=1
  elif awk -v s="$size" 'BEGIN { exit !(s > 0.5 || s < -0.5) }'; then
    same="SIZE OFF ($size %)"
    status=1
  else
    same="same length, size $size %"
  fi
  awk -v d="$ext" -v o="$one" -v t="$two" -v s="$same" \
    'BEGIN { printf "  %-8s /p 1 %6.2f s  /p 2 %6.2f s  %.2f x  (target >= 1.8 x)  %s\n", d, o, t, o / t, s }'
}
lossy aac aac
lossy aac m4a /Container m4a
lossy opus opus
lossy mp3 mp3
exit $status
