#!/bin/bash
# Converter speed and memory on this machine, from one run of each command
# ("bench/bench.sh cat" runs only the comparison with cat):
#  - a >= 150 MB MP3 converted by the native korvane and by Korvane.exe under
#    Wine, against cp and "ffmpeg -c:a copy" of the same file;
#  - the same file wrapped and turned back by the native korvane and by
#    Korvane.exe under Wine (net of its start-up), against cat;
#  - a VBR file of the same size, against the CBR one and cp; the CBR one
#    with /B (Broadcast WAVE chunks) against the plain conversion;
#  - the conversion back of a WAVed MPEG of the same file, against cp;
#  - that the chunk walk costs the same whatever the audio length;
#  - the header search through 100 MiB without any frame header, against cp;
#  - a 200 MiB leading ID3v2 tag (padding; one unsynchronised frame), against cp;
#  - a 4.3 GB layer II file converted to RF64 and back, natively and under
#    Wine, against cat, with what ffprobe and mediainfo read of its length;
#  - the native converter's peak memory on the 150 MB file and a 15 MB file;
#  - /L (loudness measured while copying) on the 150 MB file against /B alone
#    and against ffmpeg's ebur128 filter, natively and under Wine, and its peak
#    memory on the 4.3 GB layer II file; /L with /Trim, /Segue and /Peaks
#    against /L alone, and its peak memory there.
# Inputs are generated once into build/bench. Needs cmake, lame and ffmpeg;
# Korvane.exe and Wine are optional: the i686 build where 32-bit Wine runs,
# else the x86-64 build.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cache=$root/build/bench
native=$root/build/native-release/korvane
. "$root/tools/winebuild.sh"
winexe=$root/build/$win_preset/Korvane.exe
wine=$root/tools/wine-run.sh
mkdir -p "$cache"
cd "$cache"

(cd "$root" && cmake --preset native-release >/dev/null && cmake --build build/native-release >/dev/null)
if [ ! -x /usr/bin/time ] && [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
    apt-get install -y -qq time >/dev/null 2>&1 || true
fi

# A frame stream stays valid when cut at frame boundaries and put end to end,
# so the big file is one encoded tone repeated (no tag, no info frame).
if [ ! -s big.mp3 ]; then
    ffmpeg -nostdin -loglevel error -y -f lavfi -i "sine=frequency=440:duration=30" -ac 2 tone.wav
    lame --quiet -t -b 128 tone.wav tone.mp3
    n=$((150000000 / $(wc -c < tone.mp3) + 1))
    i=0
    while [ $i -lt 32 ]; do cat tone.mp3; i=$((i + 1)); done > mid.mp3
    i=0
    while [ $i -lt $(((n + 31) / 32)) ]; do cat mid.mp3; i=$((i + 1)); done > big.mp3
    head -c 104857600 /dev/zero > zeros.mp3
    rm -f tone.wav
fi
# The same for a VBR stream (lame -V 2 of a tone in noise), to the same size.
if [ ! -s vbr.mp3 ]; then
    ffmpeg -nostdin -loglevel error -y -f lavfi -i "sine=frequency=440:duration=30" \
        -f lavfi -i "anoisesrc=d=30:c=pink:a=0.3" -filter_complex amix=inputs=2 -ac 2 noisy.wav
    lame --quiet -t -V 2 noisy.wav vbrtone.mp3
    size=$(wc -c < big.mp3)
    : > vbr.mp3
    while [ "$(wc -c < vbr.mp3)" -lt "$size" ]; do cat vbrtone.mp3 >> vbr.mp3; done
    rm -f noisy.wav
fi

now() { date +%s.%N; }
# The page cache stays warm: every input is read once first, and each figure
# is the middle one of three runs, which keeps the host's disk out of it.
cache_note="warm page cache, each figure the median of three runs (seven for the VBR comparison)"
cat big.mp3 vbr.mp3 zeros.mp3 mid.mp3 > /dev/null
runs=3
clean() {
    rm -f big.wav vbr.wav big-ffmpeg.wav big-copy.mp3 big-cat.mp3 back-cat.wav zeros.wav zeros-copy.mp3 tiny.wav mid.wav dd.mp3 back.mp3 \
        back-copy.wav id3*.wav id3*-copy.mp3
}
# seconds <output or -> <command...>: median wall time of $runs runs; warns
# when the command did not leave the output it should have made
seconds() {
    out=$1
    shift
    for run in $(seq "$runs"); do
        clean
        sync
        t0=$(now)
        "$@" > /dev/null 2>&1 || true
        t1=$(now)
        [ "$out" = - ] || [ -s "$out" ] || echo "warning: $* made no $out" >&2
        awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f\n", b - a }'
    done | sort -n | sed -n "$(( (runs + 1) / 2 ))p"
}
row() {
    awk -v l="$1" -v s="$2" -v c="${3:-}" 'BEGIN {
        printf "  %-42s %8.3f s", l, s
        if (c != "") printf "  %7.2f x cp", s / c
        printf "\n" }'
}

wine_session=
start_wine() {
    [ -n "$wine_session" ] && return
    wine_session=yes
    . "$root/tools/display.sh" # one Wine session for every Wine figure
    head -c 4180 big.mp3 > tiny.mp3
    "$wine" "$winexe" /Q tiny.mp3 > /dev/null 2>&1 || true # creates the prefix if needed
}
# The wrap and the way back against cat, which reads and writes the same
# bytes (and on this system copies inside the kernel, one copy of each byte
# where a program's reads and writes make two): the converter's page-aligned
# blocks and page-aligned writes should keep it close to cat, and as close as
# dd's plain 1 MiB reads and writes. The commands take turns, round by round,
# so that the machine's drift touches them alike; Wine's start-up, the median
# of its runs over a one-frame file, is taken off its figures.
turns=()
turn() { turns+=("$1"); } # a command for sh, timed in the rounds
rounds() {
    : > turns.txt
    for run in $(seq "$runs"); do
        for i in "${!turns[@]}"; do
            clean
            sync
            t0=$(now)
            sh -c "${turns[$i]}" > /dev/null 2>&1 || true
            t1=$(now)
            awk -v i="$i" -v a="$t0" -v b="$t1" 'BEGIN { printf "%d %.3f\n", i, b - a }' >> turns.txt
        done
    done
}
turn_seconds() { awk -v i="$1" '$1 == i { print $2 }' turns.txt | sort -n | sed -n "$(( (runs + 1) / 2 ))p"; }
vs_cat() {
    awk -v l="$1" -v t="$2" -v c="$3" -v s="${4:-0}" 'BEGIN {
        printf "  %-42s %8.3f s  %7.2f x cat", l, t, (t - s) / c
        if (s > 0) printf " (net of Wine start-up, %.3f s)", s
        printf "\n" }'
}
against_cat() {
    [ -s back.wav ] || { "$native" /Q big.mp3 >/dev/null 2>&1; mv big.wav back.wav; }
    echo "Against cat, big.mp3 ($(wc -c < big.mp3) bytes) and its WAVed MPEG back.wav, median of $runs rounds:"
    turns=()
    turn 'cat big.mp3 > big-cat.mp3'
    turn 'dd if=big.mp3 of=dd.mp3 bs=1M'
    turn "'$native' /Q big.mp3"
    turn 'cat back.wav > back-cat.wav'
    turn "'$native' /Q back.wav"
    if [ -f "$winexe" ]; then
        start_wine
        turn "'$wine' '$winexe' /Q tiny.mp3"
        turn "'$wine' '$winexe' /Q big.mp3"
        turn "'$wine' '$winexe' /Q back.wav"
    fi
    rounds
    vs_cat "cat big.mp3 > copy" "$(turn_seconds 0)" "$(turn_seconds 0)"
    vs_cat "dd bs=1M (reads and writes 1 MiB blocks)" "$(turn_seconds 1)" "$(turn_seconds 0)"
    vs_cat "korvane (native, release), wrap" "$(turn_seconds 2)" "$(turn_seconds 0)"
    vs_cat "cat back.wav > copy" "$(turn_seconds 3)" "$(turn_seconds 3)"
    vs_cat "korvane (native, release), back" "$(turn_seconds 4)" "$(turn_seconds 3)"
    [ -f "$winexe" ] || return 0
    vs_cat "Korvane.exe under Wine, wrap" "$(turn_seconds 6)" "$(turn_seconds 0)" "$(turn_seconds 5)"
    vs_cat "Korvane.exe under Wine, back" "$(turn_seconds 7)" "$(turn_seconds 3)" "$(turn_seconds 5)"
    echo "  ($win_build_text)"
}
if [ "${1:-}" = cat ]; then
    echo "Korvane against cat, $(date -u '+%Y-%m-%d %H:%M UTC'), $(uname -m), $(nproc) CPUs; warm page cache"
    runs=15
    against_cat
    clean
    exit 0
fi

echo "Korvane benchmark, $(date -u '+%Y-%m-%d %H:%M UTC'), $(uname -m), $(nproc) CPUs"
echo "All figures from this one run of the script: $cache_note; writes are not synced inside the timing."
echo
echo "Conversion of big.mp3, $(wc -c < big.mp3) bytes:"
cp_big=$(seconds big-copy.mp3 cp big.mp3 big-copy.mp3)
row "cp" "$cp_big" "$cp_big"
row "dd bs=61440 (the converter's block size)" "$(seconds dd.mp3 dd if=big.mp3 of=dd.mp3 bs=61440 status=none)" "$cp_big"
row "korvane (native, release)" "$(seconds big.wav "$native" /Q big.mp3)" "$cp_big"
if [ -f "$winexe" ]; then
    start_wine
    row "Korvane.exe under Wine, tiny file" "$(seconds tiny.wav "$wine" "$winexe" /Q tiny.mp3)"
    row "Korvane.exe under Wine" "$(seconds big.wav "$wine" "$winexe" /Q big.mp3)" "$cp_big"
    echo "  (both Wine figures include Wine's start-up, which is most of the tiny-file one; $win_build_text)"
else
    echo "  Korvane.exe: not built ($winexe), skipped"
fi
row "ffmpeg -i big.mp3 -c:a copy big.wav" \
    "$(seconds big-ffmpeg.wav ffmpeg -nostdin -loglevel error -y -i big.mp3 -c:a copy big-ffmpeg.wav)" "$cp_big"
echo
against_cat
echo
# A VBR stream has its frames counted as they are copied: against the CBR
# file of about the same size, and against cp.
echo "Conversion of vbr.mp3 (VBR), $(wc -c < vbr.mp3) bytes, against big.mp3 (one bit rate):"
runs=7
cp_vbr=$(seconds big-copy.mp3 cp vbr.mp3 big-copy.mp3)
row "cp" "$cp_vbr" "$cp_vbr"
cbr_native=$(seconds big.wav "$native" /Q big.mp3)
vbr_native=$(seconds vbr.wav "$native" /Q vbr.mp3)
row "korvane (native, release), big.mp3" "$cbr_native" "$cp_big"
row "korvane (native, release), vbr.mp3" "$vbr_native" "$cp_vbr"
if [ -f "$winexe" ]; then
    cbr_wine=$(seconds big.wav "$wine" "$winexe" /Q big.mp3)
    vbr_wine=$(seconds vbr.wav "$wine" "$winexe" /Q vbr.mp3)
    row "Korvane.exe under Wine, big.mp3" "$cbr_wine" "$cp_big"
    row "Korvane.exe under Wine, vbr.mp3" "$vbr_wine" "$cp_vbr"
fi
awk -v v="$vbr_native" -v c="$cbr_native" -v w="${vbr_wine:-0}" -v d="${cbr_wine:-0}" 'BEGIN {
    printf "  VBR against CBR: native %.2f x", v / c
    if (d > 0) printf ", under Wine %.2f x", w / d
    printf "  (each the median of %d runs)\n", '"$runs"' }'
# /B writes three small chunks more and rewrites them after the copy.
bwf_native=$(seconds big.wav "$native" /Q /B big.mp3)
row "korvane /B (Broadcast WAVE), big.mp3" "$bwf_native" "$cp_big"
if [ -f "$winexe" ]; then
    bwf_wine=$(seconds big.wav "$wine" "$winexe" /Q /B big.mp3)
    row "Korvane.exe /B under Wine, big.mp3" "$bwf_wine" "$cp_big"
fi
awk -v b="$bwf_native" -v c="$cbr_native" -v w="${bwf_wine:-0}" -v d="${cbr_wine:-0}" 'BEGIN {
    printf "  /B against the plain conversion: native %.2f x", b / c
    if (d > 0) printf ", under Wine %.2f x", w / d
    printf "  (each the median of %d runs)\n", '"$runs"' }'
# /L decodes and meters every frame as it passes the copier: against /B alone,
# against ffmpeg's decoder and meter (the same work), and in real-time terms.
runs=3
loud_native=$(seconds big.wav "$native" /Q /L big.mp3)
row "korvane /L (loudness), big.mp3" "$loud_native" "$cp_big"
ffmpeg_loud=$(seconds - ffmpeg -nostdin -v error -i big.mp3 -af ebur128=peak=true -f null -)
row "ffmpeg -af ebur128=peak=true, big.mp3" "$ffmpeg_loud" "$cp_big"
if [ -f "$winexe" ]; then
    loud_wine=$(seconds big.wav "$wine" "$winexe" /Q /L big.mp3)
    row "Korvane.exe /L under Wine, big.mp3" "$loud_wine" "$cp_big"
fi
big_seconds=$(ffprobe -v error -show_entries format=duration -of csv=p=0 big.mp3)
awk -v l="$loud_native" -v b="$bwf_native" -v f="$ffmpeg_loud" -v w="${loud_wine:-0}" -v d="$big_seconds" 'BEGIN {
    printf "  /L: %.0f x real time natively (%.0f s of audio), %.2f x /B, %.2f x ffmpeg'"'"'s meter", d / l, d, l / b, l / f
    if (w > 0) printf ", under Wine %.2f x native", w / l
    printf "\n" }'
# The timers and the envelope in the same pass: against /L alone.
all_native=$(seconds big.wav "$native" /Q /L /Trim=-40 /Segue=-30 /Peaks big.mp3)
row "korvane /L /Trim /Segue /Peaks, big.mp3" "$all_native" "$cp_big"
if [ -f "$winexe" ]; then
    all_wine=$(seconds big.wav "$wine" "$winexe" /Q /L /Trim=-40 /Segue=-30 /Peaks big.mp3)
    row "Korvane.exe /L /Trim /Segue /Peaks, Wine" "$all_wine" "$cp_big"
fi
awk -v a="$all_native" -v l="$loud_native" -v w="${all_wine:-0}" -v lw="${loud_wine:-0}" 'BEGIN {
    printf "  /L /Trim /Segue /Peaks: %.2f x /L alone natively", a / l
    if (w > 0) printf ", %.2f x under Wine", w / lw
    printf "\n" }'
runs=3
echo
# The way back: a WAVed MPEG of the big file to MPEG again.
[ -s back.wav ] || { "$native" /Q big.mp3 >/dev/null 2>&1; mv big.wav back.wav; }
echo "Conversion back of back.wav, $(wc -c < back.wav) bytes:"
cp_back=$(seconds back-copy.wav cp back.wav back-copy.wav)
row "cp" "$cp_back" "$cp_back"
row "korvane (native, release)" "$(seconds back.mp3 "$native" /Q back.wav)" "$cp_back"
if [ -f "$winexe" ]; then
    row "Korvane.exe under Wine" "$(seconds back.mp3 "$wine" "$winexe" /Q back.wav)" "$cp_back"
fi
echo
# The chunk walk steps over the data by seeking: a file whose `data` chunk
# is followed by an unacceptable `fmt ` chunk is walked to its end and
# refused, whatever the audio length (the data is sparse here).
echo "Chunk walk to a refused fmt chunk behind the data, by audio length:"
for mb in 1 150 1500; do
    [ -s "walk$mb.wav" ] || python3 - "walk$mb.wav" "$mb" <<'PY'
import struct, sys
path, size = sys.argv[1], int(sys.argv[2]) << 20
with open(path, 'wb') as f:
    fmt = struct.pack('<4sI', b'fmt ', 16) + struct.pack('<HHIIHH', 1, 2, 44100, 176400, 4, 16)
    f.write(struct.pack('<4sI4s', b'RIFF', 4 + 8 + size + len(fmt), b'WAVE'))
    f.write(struct.pack('<4sI', b'data', size))
    f.seek(size, 1)
    f.write(fmt)
PY
    row "korvane, $mb MiB of audio" "$(seconds - "$native" /Q "walk$mb.wav")"
done
echo
echo "Search through zeros.mp3, $(wc -c < zeros.mp3) zero bytes, no frame header:"
cp_zero=$(seconds zeros-copy.mp3 cp zeros.mp3 zeros-copy.mp3)
row "cp" "$cp_zero" "$cp_zero"
row "korvane (native, release)" "$(seconds - "$native" /Q zeros.mp3)" "$cp_zero"
echo
# A leading ID3v2 tag of 200 MiB before a short tone: once all padding (the
# walk ends at the padding), once one unknown frame in a tag with
# unsynchronisation (every byte of the tag is read once to step over it).
for kind in padding unsync; do
    [ -s "id3$kind.mp3" ] || python3 - "id3$kind.mp3" "$kind" tone.mp3 <<'PY'
import sys
path, kind, audio = sys.argv[1], sys.argv[2], open(sys.argv[3], 'rb').read()
size = 200 << 20
safe = bytes((size >> s) & 127 for s in (21, 14, 7, 0))
title = b'TIT2' + (6).to_bytes(4, 'big') + b'\0\0' + b'\0Title'
with open(path, 'wb') as f:
    f.write(b'ID3\3\0' + (b'\0' if kind == 'padding' else b'\x80') + safe + title)
    rest = size - len(title)
    if kind == 'unsync':
        # FF 00 41 is FF 41 once read: 3 stored bytes for every 2 of the frame.
        stored = (rest - 10) // 3 * 3
        f.write(b'ZZZZ' + (stored // 3 * 2).to_bytes(4, 'big') + b'\0\0')
        block = b'\xff\0\x41' * 21845
        for _ in range(stored // len(block)):
            f.write(block)
        f.write(block[:stored % len(block)])
        rest -= 10 + stored
    f.write(bytes(rest))
    f.write(audio)
PY
    echo "ID3v2 tag of 200 MiB ($kind) before a tone, id3$kind.mp3, $(wc -c < "id3$kind.mp3") bytes:"
    cp_id3=$(seconds "id3$kind-copy.mp3" cp "id3$kind.mp3" "id3$kind-copy.mp3")
    row "cp" "$cp_id3" "$cp_id3"
    row "korvane (native, release)" "$(seconds "id3$kind.wav" "$native" /Q "id3$kind.mp3")" "$cp_id3"
    if [ -f "$winexe" ]; then
        row "Korvane.exe under Wine" "$(seconds "id3$kind.wav" "$wine" "$winexe" /Q "id3$kind.mp3")" "$cp_id3"
    fi
done
echo
# A recording past 4 GiB, as a station's day-long logger makes it: layer II at
# 384 kbit/s, written as RF64 and turned back, against cat of the same file
# (cat, like cp, copies inside the kernel on this system; the converter reads
# and writes through user space). One run each: the files are too large for more.
if [ ! -s huge.mp2 ]; then
    ffmpeg -nostdin -loglevel error -y -f lavfi -i "sine=frequency=440:duration=600" -ac 2 \
        -c:a mp2 -b:a 384k tenmin.mp2
    n=$((4300000000 / $(wc -c < tenmin.mp2) + 1))
    i=0
    while [ $i -lt $n ]; do cat tenmin.mp2; i=$((i + 1)); done > huge.mp2
fi
echo "Conversion of huge.mp2 (layer II, 384 kbit/s), $(wc -c < huge.mp2) bytes, to RF64 and back:"
runs=1
huge_clean() { rm -f huge.wav huge-cat.mp2 hugeback.mp2; }
huge_clean
cat_huge=$(seconds - sh -c 'cat huge.mp2 > huge-cat.mp2')
rm -f huge-cat.mp2
row "cat huge.mp2 > copy" "$cat_huge"
there=$(seconds huge.wav "$native" /Q huge.mp2)
mv huge.wav hugeback.wav
back=$(seconds hugeback.mp2 "$native" /Q hugeback.wav)
rm -f hugeback.mp2
awk -v t="$there" -v b="$back" -v c="$cat_huge" 'BEGIN {
    printf "  %-42s %8.3f s  %7.2f x cat\n", "korvane (native, release), to RF64", t, t / c
    printf "  %-42s %8.3f s  %7.2f x cat\n", "korvane (native, release), back", b, b / c }'
if [ -x /usr/bin/time ]; then
    printf "  peak memory of the native converter: %s KiB there, " \
        "$(/usr/bin/time -f %M "$native" /Q huge.mp2 2>&1 >/dev/null | tail -n 1)"
    rm -f hugeback.mp2
    printf "%s KiB back\n" "$(/usr/bin/time -f %M "$native" /Q hugeback.wav 2>&1 >/dev/null | tail -n 1)"
    rm -f huge.wav
    printf "  peak memory of the native converter with /L there: %s KiB\n" \
        "$(/usr/bin/time -f %M "$native" /Q /L huge.mp2 2>&1 >/dev/null | tail -n 1)"
    rm -f huge.wav
    printf "  peak memory with /L /Trim /Segue /Peaks there: %s KiB (levl %s bytes)\n" \
        "$(/usr/bin/time -f %M "$native" /Q /L /Trim=-40 /Segue=-30 /Peaks huge.mp2 2>&1 >/dev/null | tail -n 1)" \
        "$(python3 -c 'import struct,sys
f, pos, data = open(sys.argv[1], "rb"), 12, 0  # the chunks from the start; RF64 data size from ds64
while len(head := (f.seek(pos), f.read(8))[1]) == 8 and head[:4] != b"levl":
    size = struct.unpack("<I", head[4:])[0]
    if head[:4] == b"ds64":
        data = struct.unpack("<8xQ", f.read(16))[0]
    size = data if head[:4] == b"data" and size == 0xFFFFFFFF else size
    pos += 8 + size + (size & 1)
print(struct.unpack("<I", head[4:])[0] if head[:4] == b"levl" else 0)' huge.wav)"
fi
if [ -f "$winexe" ]; then
    start=$(seconds tiny.wav "$wine" "$winexe" /Q tiny.mp3)
    rm -f huge.wav hugeback.mp2
    there=$(seconds huge.wav "$wine" "$winexe" /Q huge.mp2)
    back=$(seconds hugeback.mp2 "$wine" "$winexe" /Q hugeback.wav)
    awk -v t="$there" -v b="$back" -v c="$cat_huge" -v s="$start" 'BEGIN {
        printf "  %-42s %8.3f s  %7.2f x cat (net of Wine start-up, %.3f s)\n", "Korvane.exe under Wine, to RF64", t, (t - s) / c, s
        printf "  %-42s %8.3f s  %7.2f x cat\n", "Korvane.exe under Wine, back", b, (b - s) / c }'
fi
echo "  read as: ffprobe $(ffprobe -v error -show_entries format=duration -of csv=p=0 huge.wav) s," \
    "mediainfo $(mediainfo --Inform='General;%Duration%' huge.wav) ms," \
    "the source $(ffprobe -v error -show_entries format=duration -of csv=p=0 huge.mp2) s;" \
    "back byte for byte: $(cmp -s huge.mp2 <(head -c "$(wc -c < huge.mp2)" hugeback.mp2) && echo yes || echo NO)"
rm -f huge.wav hugeback.wav hugeback.mp2
runs=3
echo
echo "Peak memory of the native converter (maximum resident set size):"
if [ -x /usr/bin/time ]; then
    for f in mid.mp3 big.mp3; do
        clean
        kb=$(/usr/bin/time -f %M "$native" /Q $f 2>&1 >/dev/null | tail -n 1)
        printf "  %-10s %10d bytes  %6s KiB\n" $f "$(wc -c < $f)" "$kb"
    done
else
    echo "  /usr/bin/time is missing (apt package \"time\"), skipped"
fi
clean
