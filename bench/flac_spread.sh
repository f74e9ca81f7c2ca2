#!/bin/sh
# One long source to FLAC in one piece (/p 1) and spread over two cores
# (/p 2): 10 minutes of 44.1 kHz 16-bit stereo, at the default FLAC settings
# and at level 8.
# Usage: bench/flac_spread.sh [BUILD_DIR]
set -eu
build=${1:-build}
work="$build/bench/flac_spread"
rm -rf "$work"
mkdir -p "$work/home"
# Settings of its own: a run changes nothing of the user's.
export HOME="$PWD/$work/home" XDG_CONFIG_HOME="$PWD/$work/home/.config"
i=0
for notes in "C3 E3 G3" "A2 C3 E3" "F2 A2 C3" "G2 B2 D3"; do
  set -- $notes
  sox -D -R -n -r 44100 -c 2 -b 16 "$work/seg$i.wav" synth 1.5 pluck "$1" pluck "$2" pluck "$3" gain -4 2>/dev/null
  i=$((i + 1))
done
sox -D "$work"/seg*.wav "$work/bar.wav"
sox -D -R -n -r 44100 -c 2 -b 16 "$work/floor.wav" synth 6 pinknoise gain -40
sox -D -m "$work/bar.wav" "$work/floor.wav" "$work/phrase.wav"
sox -D "$work/phrase.wav" "$work/music.wav" repeat 99
echo "$(soxi -D "$work/music.wav") s of 44.1 kHz 16-bit stereo"
for level in default 8; do
  case $level in default) set -- ;; *) set -- /compression "$level" ;; esac
  for p in 1 2; do
    start=$(date +%s.%N)
    "$build/tonmill" /input "$work/music.wav" /output "$work/$level-p$p" /dest flac /p "$p" "$@" /q
    end=$(date +%s.%N)
    awk -v l="$level" -v p="$p" -v s="$start" -v e="$end" 'BEGIN { printf "  %-7s /p %d  %6.2f s\n", l, p, e - s }'
  done
  cmp "$work/$level-p1/music.flac" "$work/$level-p2/music.flac" && echo "  the same bytes"
  flac -t -s "$work/$level-p2/music.flac" && echo "  flac -t: ok"
done
