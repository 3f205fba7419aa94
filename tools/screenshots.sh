#!/bin/bash
# Takes the screenshots of the drop target that the README shows (docs/screens):
# the small and the large bitmap, the open menu and the labels dialog from the
# desktop end-to-end test, the progress bar from the in-process window test, on a private Xvfb.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
tools/setup.sh
. tools/winebuild.sh
cmake --preset "$win_preset" >/dev/null
cmake --build "build/$win_preset"
. tools/display.sh
export KORVANE_SHOTS=$root/docs/screens
mkdir -p "$KORVANE_SHOTS"
ctest --test-dir "build/$win_preset" -R 'e2e_desktop|ADropDuringAConversionIsRefused' --output-on-failure
# The progress shot is the whole screen: keep the part around the window.
convert "$KORVANE_SHOTS/progress-screen.png" -crop 240x170+452+334 +repage "$KORVANE_SHOTS/progress.png"
rm -f "$KORVANE_SHOTS/progress-screen.png"
ls -l "$KORVANE_SHOTS"

# A summary box with several reasons (README, "Why a file failed"): Korvane.exe
# over files it must refuse, in a folder a user would have (C:\Music in the
# prefix); the box is taken once two shots agree.
music=$KORVANE_WINEPREFIX/drive_c/Music
rm -rf "$music"
mkdir "$music"
trap 'rm -rf "$music"; stop_display' EXIT
: >"$music/empty.mp3"
ffmpeg -v error -f lavfi -i sine=d=0.3 "$music/recording.wav"
ffmpeg -v error -f lavfi -i sine=d=0.3 -c:a aac -f adts "$music/podcast.mp3"
ffmpeg -v error -f lavfi -i sine=d=0.3 -c:a flac -f flac "$music/album track.mp3"
cp samples/tone.mp3 "$music/tone.mp3"
tools/wine-run.sh "build/$win_preset/Korvane.exe" 'C:\Music\*.*' >/dev/null 2>&1 &
# Wine lays the box out after it first shows: its place and size are read
# again for every shot, and both must agree with the shot before.
previous=
for _ in $(seq 100); do
    if box=$(tools/wine-run.sh "build/$win_preset/tests/e2e/kvdriver.exe" --window '#32770' | grep '^WINDOW'); then
        read -r _ x y w h _ <<<"$box"
        import -window root -crop "${w}x${h}+$x+$y" +repage "$KORVANE_SHOTS/reasons.png"
        shot="$box $(md5sum <"$KORVANE_SHOTS/reasons.png")"
        [ "$shot" = "$previous" ] && break
        previous=$shot
    fi
    sleep 0.2
done
