#!/bin/sh
# Makes samples/tone.mp3, the project's own sample: three seconds of a
# synthesized two-note chime, MPEG-1 layer III, mono, 32 kbit/s, with an
# ID3v1.1 tag of the project's own words. Needs ffmpeg and lame.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi \
    -i "aevalsrc=0.4*sin(2*PI*(if(lt(t\,1.5)\,523.25\,659.25))*t)*exp(-1.2*mod(t\,1.5)):s=32000:d=3" \
    -ac 1 -c:a pcm_s16le "$tmp/tone.wav"
lame --quiet -m m -b 32 --resample 32 -t \
    --tt "Korvane sample tone" --ta "Korvane" --tl "Korvane samples" --ty 2026 \
    --tc "Made by samples/make_tone.sh" --tn 1 --tg "Sound Clip" --id3v1-only \
    "$tmp/tone.wav" "$here/tone.mp3"
