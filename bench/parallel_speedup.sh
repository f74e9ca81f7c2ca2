#!/bin/sh
# How much faster a batch run gets with more workers: converts the same
# sources with /p 1 and /p 2 (and more when asked) and prints the times.
# Usage: bench/parallel_speedup.sh [BUILD_DIR] [FILES] [SECONDS] [MAX_WORKERS]
set -eu
build=${1:-build}
files=${2:-8}
seconds=${3:-60}
max=${4:-2}
work="$build/bench/parallel"
rm -rf "$work"
mkdir -p "$work/in"

i=0
while [ "$i" -lt "$files" ]; do
  sox -R -n -r 96000 -c 2 -b 24 "$work/in/source$i.flac" synth "$seconds" pinknoise \
    sine $((200 + i * 50)) gain -6 2>/dev/null
  i=$((i + 1))
done
echo "$files sources of $seconds s (FLAC, 24-bit, 96 kHz) -> WAV"

base=""
p=1
while [ "$p" -le "$max" ]; do
  rm -rf "$work/out"
  start=$(date +%s.%N)
  "$build/tonmill" /input "$work/in/*.flac" /output "$work/out" /dest wav /p "$p" /q
  end=$(date +%s.%N)
  took=$(awk "BEGIN { print $end - $start }")
  [ -z "$base" ] && base=$took
  awk -v p="$p" -v t="$took" -v b="$base" -v audio="$((files * seconds))" 'BEGIN {
    printf "/p %d: %6.2f s  (x%.2f of /p 1, %.0fx real time)\n", p, t, b / t, audio / t }'
  p=$((p + 1))
done
