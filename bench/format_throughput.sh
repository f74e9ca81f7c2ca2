#!/bin/sh
# Ogg Vorbis, WavPack, AAC and WMA encoding: tonmill converting two files at
# a time next to FFmpeg with the same encoder and settings two at a time
# (xargs -P2), and next to the codec's own command-line tool where Debian has
# one (oggenc, wavpack), on the same WAV files in the same run.
# Usage: bench/format_throughput.sh [BUILD_DIR] [FILES] [SECONDS]
set -eu
build=${1:-build}
files=${2:-4}
seconds=${3:-60}
work="$build/bench/formats"
rm -rf "$work"
mkdir -p "$work/wav" "$work/out"

i=0
while [ "$i" -lt "$files" ]; do
  sox -R -n -r 44100 -c 2 -b 16 "$work/wav/song$i.wav" synth "$seconds" pinknoise \
    sine $((220 + i * 55)) gain -8 2>/dev/null
  i=$((i + 1))
done
audio=$((files * seconds))
echo "$files files of $seconds s, 44.1 kHz 16-bit stereo, two at a time"

now() { date +%s.%N; }
# Runs a command and prints how long it took.
timed() {
  t0=$(now)
  "$@"
  t1=$(now)
  awk "BEGIN { print $t1 - $t0 }"
}
report() {  # name seconds
  awk -v n="$1" -v t="$2" -v a="$audio" 'BEGIN { printf "  %-40s %6.2f s  %5.0fx real time\n", n, t, a / t }'
}
ratio() {  # what, tonmill seconds, other seconds
  awk -v w="$1" -v a="$2" -v b="$3" 'BEGIN { printf "  tonmill takes %.2fx the time of %s\n", a / b, w }'
}
# FFmpeg on every WAV, two at a time: extension, then FFmpeg's encoder options.
ffmpeg_pair() {
  ext=$1
  shift
  mkdir -p "$work/out/ffmpeg-$ext"
  ls "$work"/wav/*.wav | xargs -P2 -I{} sh -c \
    'ffmpeg -nostdin -v error -y -i "$1" '"$*"' "$2/$(basename "$1" .wav).'"$ext"'"' _ {} "$work/out/ffmpeg-$ext"
}
# The codec's own tool on every WAV, two at a time.
tool_pair() {
  ext=$1
  shift
  mkdir -p "$work/out/tool-$ext"
  ls "$work"/wav/*.wav | xargs -P2 -I{} sh -c \
    "$*"' "$1" -o "$2/$(basename "$1" .wav).'"$ext"'"' _ {} "$work/out/tool-$ext"
}
tonmill() {  # format, keys...
  format=$1
  shift
  "$build/tonmill" /input "$work/wav/*.wav" /output "$work/out/tonmill-$format" /dest "$format" /p 2 /q "$@"
}

echo "Ogg Vorbis, quality 4"
t=$(timed tonmill ogg /quality 5)
f=$(timed ffmpeg_pair ogg -c:a libvorbis -q:a 4)
o=$(timed tool_pair ogg oggenc -Q -q 4)
report "tonmill /quality 5 (libvorbis q 4)" "$t"
report "ffmpeg -c:a libvorbis -q:a 4" "$f"
report "oggenc -q 4" "$o"
ratio "ffmpeg" "$t" "$f"
ratio "oggenc" "$t" "$o"

# Our default level is libwavpack's "high" mode; FFmpeg has an encoder of its
# own, with levels that are no match for libwavpack's: its default here.
echo "WavPack, lossless, high"
t=$(timed tonmill wavpack)
f=$(timed ffmpeg_pair wv -c:a wavpack)
o=$(timed tool_pair wv wavpack -q -y -h)
report "tonmill (libwavpack, high)" "$t"
report "ffmpeg -c:a wavpack (FFmpeg's own)" "$f"
report "wavpack -h" "$o"
ratio "ffmpeg" "$t" "$f"
ratio "wavpack -h" "$t" "$o"

echo "AAC-LC, 128 kbit/s"
t=$(timed tonmill aac /bitrate 64)
f=$(timed ffmpeg_pair aac -c:a aac -b:a 128k)
report "tonmill /bitrate 64 (per channel)" "$t"
report "ffmpeg -c:a aac -b:a 128k" "$f"
ratio "ffmpeg" "$t" "$f"

echo "WMA v2, 128 kbit/s"
t=$(timed tonmill wma /bitrate 128)
f=$(timed ffmpeg_pair wma -c:a wmav2 -b:a 128k)
report "tonmill /bitrate 128" "$t"
report "ffmpeg -c:a wmav2 -b:a 128k" "$f"
ratio "ffmpeg" "$t" "$f"
