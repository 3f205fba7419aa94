#!/bin/sh
# Builds the end-to-end fixtures in <dir> from short generated tones. ffmpeg
# takes a while to start, so each of its runs makes several files; the
# encoders of a step run side by side, and any that fails fails the whole.
set -eu
mkdir -p "$1" && cd "$1"
jobs=
bg() { "$@" & jobs="$jobs $!"; }
step() { for job in $jobs; do wait "$job"; done; jobs=; }
ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
# Tones and a tone in noise; a red picture.
bg ff -f lavfi -i sine=frequency=440:duration=2:sample_rate=44100 \
  -f lavfi -i sine=frequency=330:duration=1:sample_rate=44100 \
  -f lavfi -i sine=frequency=550:duration=1:sample_rate=22050 \
  -f lavfi -i sine=frequency=660:duration=1:sample_rate=8000 -f lavfi -i sine=frequency=440:duration=8 \
  -f lavfi -i anoisesrc=d=8:c=pink:a=0.3:seed=7 -filter_complex '[4][5]amix=inputs=2[noisy]' \
  -map 0 -ac 2 t44s.wav -map 1 -ac 1 t44m.wav -map 2 -ac 2 t22s.wav -map 3 -ac 1 t8m.wav \
  -map '[noisy]' -ac 2 -ar 44100 noisy.wav
bg ff -f lavfi -i color=c=red:s=16x16 -frames:v 1 cover.png
step

# MPEG-1 layer III stereo with every ID3v1.1 field; mono; MPEG-2; MPEG-2.5.
bg lame --quiet -b 128 --tt "Korvane Tone" --ta "The Testers" --tl "Fixture Album" \
  --ty 2024 --tc "short comment" --tn 7 --tg Jazz --id3v1-only t44s.wav stereo.mp3
bg lame --quiet -m m -b 64 t44m.wav mono.mp3
bg lame --quiet -b 64 t22s.wav mpeg2.mp3
bg lame --quiet -m m -b 16 t8m.wav mpeg25.mp3
# A plain stream: no tag and no info frame.
bg lame --quiet -t -b 128 --resample 44.1 t44s.wav notag.mp3

# Layer II; ID3v2.3 with a cover picture before the frames; ID3v2 tags alone,
# as ffmpeg (2.3 and 2.4) and lame (in three ways) write them; lame reads its
# texts in the locale's encoding.
export LC_ALL=C.UTF-8
bg ff -i t44s.wav -i cover.png -i t44m.wav -map 0:a -c:a mp2 -b:a 192k -f mp2 layer2.mp2 \
  -map 0:a -map 1:v -c:a libmp3lame -b:a 128k -c:v copy -disposition:v attached_pic \
  -id3v2_version 3 -metadata title="Covered" cover.mp3 \
  -map 2:a -c:a libmp3lame -b:a 64k -id3v2_version 3 -metadata title="Café Tone" \
  -metadata artist="Les Testeurs" -metadata album="Été Album" -metadata date=2023 \
  -metadata comment="a comment" -metadata track=3/12 -metadata genre=Jazz ffmpeg3.mp3 \
  -map 2:a -c:a libmp3lame -b:a 64k -id3v2_version 4 -metadata title="Café Tone" \
  -metadata artist="Les Testeurs" -metadata album="Été Album" -metadata date=2023 \
  -metadata comment="a comment" -metadata track=3/12 -metadata genre=Jazz ffmpeg4.mp3
words() { lame --quiet -m m -b 64 "$@" --tt "Café Tone" --ta "Les Testeurs" --tl "Été Album" \
  --ty 2023 --tc "a comment" --tn 3/12 --tg Jazz t44m.wav "$out"; }
out=v2latin.mp3 bg words --id3v2-only --id3v2-latin1
out=v2utf16.mp3 bg words --id3v2-only --id3v2-utf16
out=v2picture.mp3 bg words --id3v2-only --ti cover.png

# VBR as music collections hold it: lame's presets (with and without its info
# frame), average bit rate, MPEG-2 and 2.5, ffmpeg's libmp3lame; a tone in noise.
# Then other audio and a picture under MPEG names.
bg lame --quiet -V 0 noisy.wav v0.mp3
bg lame --quiet -V 2 noisy.wav v2.mp3
bg lame --quiet -V 9 noisy.wav v9.mp3
bg lame --quiet --abr 160 noisy.wav abr.mp3
bg lame --quiet -V 2 -t noisy.wav v2t.mp3
bg lame --quiet -V 4 --resample 22.05 noisy.wav m2.mp3
bg lame --quiet -V 4 --resample 11.025 noisy.wav m25.mp3
bg ff -i noisy.wav -c:a libmp3lame -q:a 4 ffq4.mp3 -c:a aac -f adts aac.mp3 -c:a aac -f mp4 m4a.mp3 \
  -c:a libvorbis -f ogg ogg.mp3 -c:a ac3 -f ac3 ac3.mp3 -f flac flac.mp3
bg ff -f lavfi -i testsrc=s=160x120 -frames:v 1 -c:v mjpeg -f image2 jpg.mp3
step
cp notag.mp3 "my song.mp3"
# An APE tag before an ID3v1.1 tag.
python3 - <<'PY'
import struct
v2 = open('v2.mp3', 'rb').read()
item = struct.pack('<II', 3, 0) + b'Title\0Ape'
ape = item + b'APETAGEX' + struct.pack('<IIII', 2000, len(item) + 32, 1, 0) + bytes(8)
open('ape.mp3', 'wb').write(v2 + ape + b'TAG' + b'Ape'.ljust(124, b'\0') + b'\x0c')
PY

echo "This is not MPEG audio at all." > bad.mp3
rm -f t*.wav noisy.wav cover.png
