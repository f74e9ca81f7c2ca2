# SPDX-License-Identifier: GPL-3.0-or-later
# The fixed corpus of bench/run, made at run time (sourced, bash).
# make_corpus DIR SECONDS LONG_MINUTES SHORTS SHORT_SECONDS makes, once per
# set of sizes:
#   mix/NN_RATE_BITS_CHANNELS.wav  12 pieces at 44.1/48/96 kHz, 16/24-bit,
#                                  mono to 5.1 (mono ones twice as long, so
#                                  each costs an encoder about the same)
#   mixflac/*.flac                 the same pieces as FLAC
#   long/image.flac, image.cue     a long image of 12 tracks, 2 s of silence
#                                  closing each
#   shorts/*.wav, shorts-joined.wav  many short pieces, and all of them as one

# Four music-like mono stems at 48 kHz: a plucked line changing note four
# times a second, a two-note pad changing every two seconds, noise bursts on
# the off-beats and a quiet noise floor. Each stem has its own key and tempo.
make_stems() {  # DIR
  local s e
  for s in 0 1 2 3; do
    e="0.3*sin(2*PI*110*pow(2,mod(floor(t*(4+$s/2))*7+$s*3,24)/12)*t)*exp(-8*mod(t,1/(4+$s/2)))"
    e="$e+0.1*sin(2*PI*55*pow(2,mod(floor(t/2)*5+$s,12)/12)*t)"
    e="$e+0.07*sin(3*PI*55*pow(2,mod(floor(t/2)*5+$s,12)/12)*t)"
    e="$e+0.15*(random(0)*2-1)*exp(-40*mod(t+0.125,0.5))+0.02*(random(1)*2-1)"
    e=$(printf %s "$e" | sed 's/,/\\,/g')
    ffmpeg -nostdin -v error -y -f lavfi -i "aevalsrc=exprs=$e:s=48000:d=12" -c:a pcm_s24le "$1/stem$s.wav"
  done
}

# sox remix arguments giving CHANNELS channels, each mostly one stem with some
# of the next, as instruments spread over a mix.
remix_of() {  # CHANNELS
  local i mix=""
  for ((i = 0; i < $1; i++)); do mix="$mix $((i % 4 + 1))v0.7,$(((i + 1) % 4 + 1))v0.35"; done
  echo "$mix"
}

# piece FILE SECONDS RATE BITS CHANNELS [STEM OFFSET]
piece() {
  local stems=$corpus_stems
  # shellcheck disable=SC2046
  sox -D -M "$stems"/stem0.wav "$stems"/stem1.wav "$stems"/stem2.wav "$stems"/stem3.wav -b "$4" "$1" \
    repeat $(($2 / 12 + 1)) trim 0 "$2" remix $(remix_of "$5") rate -h "$3"
}

make_corpus() {  # DIR SECONDS LONG_MINUTES SHORTS SHORT_SECONDS
  local dir=$1 seconds=$2 minutes=$3 shorts=$4 short=$5 stamp="$2 $3 $4 $5"
  [ -f "$dir/made" ] && [ "$(cat "$dir/made")" = "$stamp" ] && return 0
  echo "making the corpus in $dir" >&2
  rm -rf "$dir"
  mkdir -p "$dir/stems" "$dir/mix" "$dir/mixflac" "$dir/long" "$dir/shorts"
  corpus_stems="$dir/stems"
  make_stems "$corpus_stems"

  local n=0 rate bits ch len
  while read -r rate bits ch; do
    n=$((n + 1))
    len=$seconds
    [ "$ch" = 1 ] && len=$((seconds * 2))
    piece "$(printf '%s/mix/%02d_%s_%s_%s.wav' "$dir" "$n" "$rate" "$bits" "$ch")" "$len" "$rate" "$bits" "$ch"
  done <<EOF
44100 16 2
44100 16 2
48000 24 2
44100 16 1
96000 24 2
48000 16 6
44100 24 2
48000 16 2
96000 24 6
44100 16 6
48000 24 1
44100 16 2
EOF
  for f in "$dir"/mix/*.wav; do flac -s -5 "$f" -o "$dir/mixflac/$(basename "$f" .wav).flac" 2>/dev/null; done

  # The long image: 12 tracks, each ending in 2 s of silence.
  local track=$((minutes * 60 / 12)) k
  piece "$dir/long/track.wav" $((track - 2)) 44100 16 2
  sox -D "$dir/long/track.wav" "$dir/long/image.flac" pad 0 2 repeat 11
  rm "$dir/long/track.wav"
  {
    printf 'PERFORMER "Bench Band"\nTITLE "Long Image"\nFILE "image.flac" WAVE\n'
    for ((k = 0; k < 12; k++)); do
      printf '  TRACK %02d AUDIO\n    TITLE "Song %d"\n    INDEX 01 %02d:%02d:00\n' \
        $((k + 1)) $((k + 1)) $((k * track / 60)) $((k * track % 60))
    done
  } >"$dir/long/image.cue"

  # Short pieces cut from one longer one, each from its own place.
  piece "$dir/shorts-source.wav" 12 44100 16 2
  for ((k = 0; k < shorts; k++)); do
    sox -D "$dir/shorts-source.wav" "$(printf '%s/shorts/short%03d.wav' "$dir" "$k")" \
      trim $((k % (12 - short))) "$short"
  done
  sox -D "$dir"/shorts/*.wav "$dir/shorts-joined.wav"
  rm "$dir/shorts-source.wav"
  echo "$stamp" >"$dir/made"
}
