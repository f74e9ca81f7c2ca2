#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# One long file over two cores: a 20-minute 16-bit stereo 44.1 kHz piece to
# FLAC, WavPack, Monkey's Audio and MP3 with /p 1 and with /p 2 (the second
# worker encodes spans of the same file). Each time is the lowest of three
# runs; the lossless outputs of both must decode to the source's samples, the
# MP3 outputs (VBR, the default) to its length, without a decoder's complaint.
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
bytes=$(ffmpeg -v error -i "$work/in/long.wav" -f s16le - | wc -c)
# best DEST N: the lowest wall time of three runs with /p N, in seconds; the
# output is left in $work/pN.
best() {
  for rep in 1 2 3; do
    rm -rf "$work/p$2"
    start=$(date +%s.%N)
    "$build/tonmill" /input "$work/in/long.wav" /output "$work/p$2" /dest "$1" /p "$2" /q
    end=$(date +%s.%N)
    echo "$start $end"
  done | awk '{ t = $2 - $1; if (NR == 1 || t < b) b = t } END { printf "%.2f", b }'
}
status=0
for dest in flac wavpack ape mp3; do
  one=$(best "$dest" 1)
  two=$(best "$dest" 2)
  ext=$dest
  [ "$dest" = wavpack ] && ext=wv
  a="$work/p1/long.$ext" b="$work/p2/long.$ext"
  if [ "$dest" = mp3 ]; then
    : >"$work/errors"
    length() { ffmpeg -v error -i "$1" -f s16le - 2>>"$work/errors" | wc -c; }
    if [ "$(length "$a")" != "$bytes" ] || [ "$(length "$b")" != "$bytes" ] || [ -s "$work/errors" ]; then
      same="LENGTH DIFFERS OR DECODER ERRORS"
      status=1
    else
      same="same length, sizes $(stat -c %s "$a") and $(stat -c %s "$b") bytes"
    fi
  elif [ "$(samples "$a")" != "$source" ] || [ "$(samples "$b")" != "$source" ]; then
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
exit $status
