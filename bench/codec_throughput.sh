#!/bin/sh
# Encoding throughput of tonmill next to the reference command-line encoders,
# on the same files in the same run, one file at a time:
#   FLAC -> MP3 (VBR quality 4)  tonmill /p 1   vs  lame -V 4 on the WAV files
#   WAV -> FLAC (level 5)        tonmill /p 1   vs  flac -5
# Usage: bench/codec_throughput.sh [BUILD_DIR] [FILES] [SECONDS]
set -eu
build=${1:-build}
files=${2:-4}
seconds=${3:-60}
work="$build/bench/codecs"
rm -rf "$work"
mkdir -p "$work/wav" "$work/flac" "$work/out"

i=0
while [ "$i" -lt "$files" ]; do
  sox -R -n -r 44100 -c 2 -b 16 "$work/wav/song$i.wav" synth "$seconds" pinknoise \
    sine $((220 + i * 55)) gain -8 2>/dev/null
  flac -s -5 "$work/wav/song$i.wav" -o "$work/flac/song$i.flac"
  i=$((i + 1))
done
audio=$((files * seconds))
echo "$files files of $seconds s, 44.1 kHz 16-bit stereo"

now() { date +%s.%N; }
report() {  # name seconds
  awk -v n="$1" -v t="$2" -v a="$audio" 'BEGIN { printf "  %-34s %6.2f s  %5.0fx real time\n", n, t, a / t }'
}

t0=$(now)
"$build/tonmill" /input "$work/flac/*.flac" /output "$work/out/mp3" /dest mp3 /quality 4 /vbrmethod new /p 1 /q
t1=$(now)
for f in "$work"/wav/*.wav; do lame --quiet -V 4 "$f" "$work/out/$(basename "$f" .wav).lame.mp3"; done
t2=$(now)
"$build/tonmill" /input "$work/wav/*.wav" /output "$work/out/flac" /dest flac /compression 5 /p 1 /q
t3=$(now)
for f in "$work"/wav/*.wav; do flac -s -f -5 "$f" -o "$work/out/$(basename "$f" .wav).ref.flac"; done
t4=$(now)

mp3_tonmill=$(awk "BEGIN { print $t1 - $t0 }")
mp3_lame=$(awk "BEGIN { print $t2 - $t1 }")
flac_tonmill=$(awk "BEGIN { print $t3 - $t2 }")
flac_ref=$(awk "BEGIN { print $t4 - $t3 }")
echo "FLAC -> MP3"
report "tonmill (decode FLAC + LAME)" "$mp3_tonmill"
report "lame -V 4 (from WAV)" "$mp3_lame"
awk -v a="$mp3_tonmill" -v b="$mp3_lame" 'BEGIN { printf "  tonmill takes %.2fx the time of lame\n", a / b }'
echo "WAV -> FLAC"
report "tonmill /compression 5" "$flac_tonmill"
report "flac -5" "$flac_ref"
awk -v a="$flac_tonmill" -v b="$flac_ref" 'BEGIN { printf "  tonmill takes %.2fx the time of flac\n", a / b }'
ls -l "$work"/out/flac/song0.flac "$work"/out/song0.ref.flac | awk '{ print "  size", $5, $NF }'
