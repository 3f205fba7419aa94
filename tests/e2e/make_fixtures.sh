#!/bin/sh
# Builds the end-to-end fixtures in <dir> from short generated tones.
set -eu
mkdir -p "$1" && cd "$1"
ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
tone() { ff -f lavfi -i "sine=frequency=$1:duration=$2:sample_rate=$3" -ac "$4" "$5"; }
tone 440 2 44100 2 t44s.wav
tone 330 1 44100 1 t44m.wav
tone 550 1 22050 2 t22s.wav
tone 660 1 8000 1 t8m.wav

# MPEG-1 layer III stereo with every ID3v1.1 field; mono; MPEG-2; MPEG-2.5; layer II.
lame --quiet -b 128 --tt "Korvane Tone" --ta "The Testers" --tl "Fixture Album" \
  --ty 2024 --tc "short comment" --tn 7 --tg Jazz --id3v1-only t44s.wav stereo.mp3
lame --quiet -m m -b 64 t44m.wav mono.mp3
lame --quiet -b 64 t22s.wav mpeg2.mp3
lame --quiet -m m -b 16 t8m.wav mpeg25.mp3
ff -i t44s.wav -c:a mp2 -b:a 192k -f mp2 layer2.mp2
# A plain stream: no tag and no info frame.
lame --quiet -t -b 128 --resample 44.1 t44s.wav notag.mp3
cp notag.mp3 "my song.mp3"

# ID3v2.3 with a cover picture before the frames.
ff -f lavfi -i color=c=red:s=16x16 -frames:v 1 cover.png
ff -i t44s.wav -i cover.png -map 0:a -map 1:v -c:a libmp3lame -b:a 128k -c:v copy \
  -disposition:v attached_pic -id3v2_version 3 -metadata title="Covered" cover.mp3

# ID3v2 tags alone, as lame (in three ways) and ffmpeg (2.3 and 2.4) write
# them; lame reads its texts in the locale's encoding.
export LC_ALL=C.UTF-8
words() { lame --quiet -m m -b 64 "$@" --tt "Café Tone" --ta "Les Testeurs" --tl "Été Album" \
  --ty 2023 --tc "a comment" --tn 3/12 --tg Jazz t44m.wav "$out"; }
out=v2latin.mp3 words --id3v2-only --id3v2-latin1
out=v2utf16.mp3 words --id3v2-only --id3v2-utf16
out=v2picture.mp3 words --id3v2-only --ti cover.png
for v in 3 4; do
  ff -i t44m.wav -c:a libmp3lame -b:a 64k -id3v2_version $v -metadata title="Café Tone" \
    -metadata artist="Les Testeurs" -metadata album="Été Album" -metadata date=2023 \
    -metadata comment="a comment" -metadata track=3/12 -metadata genre=Jazz ffmpeg$v.mp3
done

# VBR as music collections hold it: lame's presets (with and without its info
# frame), average bit rate, MPEG-2 and 2.5, ffmpeg's libmp3lame; a tone in noise.
ff -f lavfi -i "sine=frequency=440:duration=8" -f lavfi -i "anoisesrc=d=8:c=pink:a=0.3:seed=7" \
  -filter_complex "[0][1]amix=inputs=2" -ac 2 -ar 44100 noisy.wav
lame --quiet -V 0 noisy.wav v0.mp3
lame --quiet -V 2 noisy.wav v2.mp3
lame --quiet -V 9 noisy.wav v9.mp3
lame --quiet --abr 160 noisy.wav abr.mp3
lame --quiet -V 2 -t noisy.wav v2t.mp3
lame --quiet -V 4 --resample 22.05 noisy.wav m2.mp3
lame --quiet -V 4 --resample 11.025 noisy.wav m25.mp3
ff -i noisy.wav -c:a libmp3lame -q:a 4 ffq4.mp3
# Other audio and a picture under MPEG names.
ff -i noisy.wav -c:a aac -f adts aac.mp3
ff -i noisy.wav -c:a aac -f mp4 m4a.mp3
ff -i noisy.wav -c:a libvorbis -f ogg ogg.mp3
ff -i noisy.wav -c:a ac3 -f ac3 ac3.mp3
ff -i noisy.wav -f flac flac.mp3
ff -f lavfi -i testsrc=s=160x120 -frames:v 1 -c:v mjpeg -f image2 jpg.mp3
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
