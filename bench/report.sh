# SPDX-License-Identifier: GPL-3.0-or-later
# The results table of bench/run (sourced, bash): write_report reads the
# figures in "$times" (KEY<TAB>value, one line per repetition) and the run's
# variables, and prints Markdown.

# figures KEY: KEY's figures, lowest first ("FAILED" when one failed).
figures() {
  awk -F'\t' -v k="$1" '$1 == k { print $2 }' "$times" | sort -g
}
# med KEY: the median of KEY's figures, empty when it has none or one failed.
med() {
  figures "$1" | awk '$1 == "FAILED" { bad = 1 } { v[++n] = $1 }
    END { if (!bad && n) printf "%.3f", n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2 }'
}
# cell KEY: "median s (lowest-highest)" for a table.
cell() {
  figures "$1" | awk '$1 == "FAILED" { bad = 1 } { v[++n] = $1 }
    END { if (!n) { print "-"; exit } if (bad) { print "failed"; exit }
          m = n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
          if (n == 1) printf "%.2f s", m; else printf "%.2f s (%.2f-%.2f)", m, v[1], v[n] }'
}
# size KEY: the output's size in MB, "-" when it was not measured.
size() {
  awk -F'\t' -v k="$1.bytes" '$1 == k { b = $2 } END { if (b == "") print "-"; else printf "%.1f MB", b / 1e6 }' "$times"
}
# ratio A B: A / B to two places, "-" when either is missing.
ratio() {
  [ -n "$1" ] && [ -n "$2" ] || { echo "-"; return; }
  awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'
}
# verdict VALUE OP LIMIT: "met" or "missed" (OP is <= or >=).
verdict() {
  [ "$1" = "-" ] && { echo "-"; return; }
  awk -v v="$1" -v op="$2" -v l="$3" 'BEGIN { ok = op == "<=" ? v <= l : v >= l; print ok ? "met" : "**missed**" }'
}
first_line() { "$@" 2>&1 | grep -m1 . || true; }

write_report() {
  local f name t
  echo "# Benchmark results"
  echo
  echo "Written by \`bench/run$([ "$quick" = 1 ] && echo ' --quick')\` on $(date -u +%Y-%m-%d), from $run_start to $run_end UTC."
  echo "Each figure is the median of $reps run(s), the lowest and highest in brackets;"
  echo "ratios are of medians measured in this same run. Tonmill and FFmpeg, the codec"
  echo "tools and SoundConverter all convert two files at a time."
  echo
  echo "## Machine"
  echo
  echo "| | |"
  echo "|---|---|"
  echo "| CPU | $(lscpu | sed -n 's/^Model name: *//p' | head -1), $(nproc) cores |"
  echo "| memory | $(free -m | awk '/^Mem:/ { print $2 }') MB |"
  echo "| system | $(. /etc/os-release && echo "$PRETTY_NAME"), Linux $(uname -r) |"
  echo "| load average (1, 5, 15 min) | start $load_start, end $load_end |"
  echo
  echo "## Versions"
  echo
  echo "| program | version |"
  echo "|---|---|"
  echo "| tonmill | $(first_line "$tonmill" --version) |"
  echo "| FFmpeg | $(first_line ffmpeg -version | cut -d' ' -f1-3) |"
  echo "| lame | $(first_line lame --version) |"
  echo "| flac | $(first_line flac --version) |"
  echo "| oggenc | $(first_line oggenc --version) |"
  echo "| opusenc | $(first_line opusenc --version) |"
  echo "| wavpack | $(wavpack --version 2>&1 | grep -m1 -i 'wavpack' ) |"
  echo "| SoundConverter | $(dpkg-query -W -f='${Version}' soundconverter) (Debian package; GStreamer $(dpkg-query -W -f='${Version}' libgstreamer1.0-0)) |"
  echo
  echo "## Corpus"
  echo
  echo "Made at run time from music-like signals (plucked notes changing four times a"
  echo "second, a pad, noise bursts on the off-beats, a noise floor; one mix of them per"
  echo "channel): 12 pieces of ${seconds} s (mono ones twice as long) at 44.1, 48 and 96 kHz,"
  echo "16 and 24-bit, mono, stereo and 5.1; MP3 and WMA get the 8 pieces of up to two"
  echo "channels and 48 kHz. A ${long_minutes}-minute FLAC image (44.1 kHz 16-bit stereo) with a"
  echo "12-track CUE sheet; $shorts WAV files of ${short_seconds} s."
  echo
  echo "## Per output format, two files at a time"
  echo
  echo "| format | tonmill | FFmpeg (xargs -P2) | tonmill / FFmpeg | SoundConverter (-j 2) | tonmill / SoundConverter | codec's tool (xargs -P2) | tonmill / tool | size: tonmill | FFmpeg | SoundConverter | tool |"
  echo "|---|---|---|---|---|---|---|---|---|---|---|---|"
  while read -r f name; do
    t=$(med "$f.tonmill")
    echo "| $name | $(cell "$f.tonmill") | $(cell "$f.ffmpeg") | $(ratio "$t" "$(med "$f.ffmpeg")") |" \
      "$(cell "$f.soundconverter") | $(ratio "$t" "$(med "$f.soundconverter")") |" \
      "$(cell "$f.tool") | $(ratio "$t" "$(med "$f.tool")") |" \
      "$(size "$f.tonmill") | $(size "$f.ffmpeg") | $(size "$f.soundconverter") | $(size "$f.tool") |"
  done <<EOF
mp3 MP3, VBR quality 4 (LAME; lame -V 4)
wma WMA v2, 128 kbit/s
ogg Ogg Vorbis, quality 4 (libvorbis; oggenc -q 4)
ape Monkey's Audio, normal (mono and stereo pieces)
flac FLAC, level 5 (FFmpeg's own encoder; flac -5)
wavpack WavPack, high (FFmpeg's own encoder at its default; wavpack -h)
aac AAC-LC, 64 kbit/s a channel (FFmpeg's encoder)
opus Opus, VBR 64 kbit/s a channel (libopus; opusenc --bitrate), 48 kHz
wav WAV, the source's depth (SoundConverter: 16-bit)
EOF
  echo
  echo "## Targets"
  echo
  local w1 w2 lame mp3 split whole many one startup scan per_file r
  w1=$(med workers.1) w2=$(med workers.2) lame=$(med mp3.tool)
  split=$(med cue.split) whole=$(med cue.whole)
  many=$(med shorts.many) one=$(med shorts.one) startup=$(med startup.version) scan=$(med silence.x)
  echo "| target | measured | |"
  echo "|---|---|---|"
  for f in mp3 wma ogg flac wavpack aac opus wav; do
    [ -n "$(med "$f.ffmpeg")" ] || continue
    r=$(ratio "$(med "$f.tonmill")" "$(med "$f.ffmpeg")")
    echo "| $f: tonmill ≤ 1.0 × FFmpeg's time | $r × | $(verdict "$r" "<=" 1.0) |"
  done
  for f in mp3 ogg flac wav; do
    [ -n "$(med "$f.soundconverter")" ] || continue
    r=$(ratio "$(med "$f.tonmill")" "$(med "$f.soundconverter")")
    echo "| $f: tonmill ≤ 1.0 × SoundConverter's time | $r × | $(verdict "$r" "<=" 1.0) |"
  done
  r=$(ratio "$(med flac.verify)" "$(med flac.tonmill)")
  echo "| /verify ≤ 1.3 × the time without (FLAC level 5, two at a time: $(cell flac.verify) against $(cell flac.tonmill)) | $r × | $(verdict "$r" "<=" 1.3) |"
  r=$(ratio "$w1" "$w2")
  echo "| 2 workers ≥ 1.9 × one (FLAC → MP3; $(cell workers.1) against $(cell workers.2)) | $r × | $(verdict "$r" ">=" 1.9) |"
  r=$(ratio "$lame" "$w2")
  echo "| FLAC → MP3 ≥ 0.95 × the speed of lame from WAV (tonmill /p 2 $(cell workers.2), lame -V 4 $(cell mp3.tool)) | $r × | $(verdict "$r" ">=" 0.95) |"
  r=$(ratio "$split" "$whole")
  echo "| 12-track CUE image ≤ 1.1 × the image whole (to FLAC, one worker: $(cell cue.split) against $(cell cue.whole)) | $r × | $(verdict "$r" "<=" 1.1) |"
  r=$(awk -v k="${peak_kb:-0}" 'BEGIN { printf "%.0f", k / 1024 }')
  echo "| peak memory ≤ 100 MB (the ${long_minutes}-minute image's 12 tracks to FLAC, 2 workers) | $r MB | $(verdict "$r" "<=" 100) |"
  per_file=$( [ -n "$many" ] && [ -n "$one" ] && awk -v a="$many" -v b="$one" -v n="$shorts" 'BEGIN { printf "%.1f", (a - b) * 1000 / n }' || echo -)
  echo "| per-file overhead ≤ 20 ms ($shorts files $(cell shorts.many), the same audio as one file $(cell shorts.one), to FLAC, one worker) | $per_file ms | $(verdict "$per_file" "<=" 20) |"
  echo
  echo "## Other figures"
  echo
  echo "| what | measured |"
  echo "|---|---|"
  echo "| start-up: \`tonmill --version\` (median of 10) | $(awk -v s="${startup:-0}" 'BEGIN { printf "%.0f ms", s * 1000 }') |"
  echo "| silence scan of the ${long_minutes}-minute image, one thread | $([ -n "$scan" ] && printf "%.0f" "$scan" || echo -) × real time |"
  echo
  echo "## What the comparisons do not share"
  echo
  echo "- FLAC: tonmill's command-line level 5 turns stereo decorrelation off (its level"
  echo "  table gives mid-side coding to levels 1, 2, 4 and 6 only), so its stereo files"
  echo "  are larger than those of \`flac -5\` and FFmpeg level 5, which use it. FFmpeg"
  echo "  encodes with its own FLAC encoder, not libFLAC."
  echo "- WavPack: FFmpeg has only its own encoder, at its default level; tonmill and"
  echo "  \`wavpack -h\` use libwavpack's high mode (compare the sizes)."
  echo "- SoundConverter writes 16-bit WAV from the 24-bit sources; it has no WMA,"
  echo "  Monkey's Audio or WavPack, and its AAC needs GStreamer's bad plug-ins."
  echo "- Monkey's Audio has no other encoder on Debian: tonmill's time stands alone."
  echo "- Times are wall-clock times of the whole command, start-up included."
}
