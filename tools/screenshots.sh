#!/bin/bash
# Takes the screenshots of the drop target that the README shows (docs/screens):
# the small and the large bitmap and the open menu from the desktop end-to-end
# test, the progress bar from the in-process window test, on a private Xvfb.
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
