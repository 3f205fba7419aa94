#!/bin/bash
# Converts the files given with Korvane.exe under Wine (installing and
# building what is missing first). Options such as /Q or /? pass through.
# Without files it starts the drop target on the display.
# With a display the boxes appear on it; without one they are read off a
# private display and printed here, and closed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/setup.sh"
# The 32-bit program where this machine can run 32-bit code, else the x86-64
# build of the same sources.
. "$root/tools/winebuild.sh"
cmake -S "$root" --preset "$win_preset" >/dev/null
cmake --build "$root/build/$win_preset" --target Korvane kvdriver >/dev/null
exe=$root/build/$win_preset/Korvane.exe
driver=$root/build/$win_preset/tests/e2e/kvdriver.exe

# Without files the drop target starts on the user's display; it needs one.
if [ $# -eq 0 ] && [ -z "${DISPLAY:-}" ]; then
    cat >&2 <<'TEXT'
run.sh: without files Korvane starts its drop target, a window, and this
session has no display (DISPLAY is not set). Give it one, for example a
virtual display with Xvfb:
    Xvfb :5 -screen 0 1024x768x24 & DISPLAY=:5 tools/run.sh
or convert files directly: tools/run.sh song.mp3
TEXT
    exit 1
fi

# Without a display, a private one: every Wine program of this run must see
# the same display, the path conversions below included.
headless=false
if [ -z "${DISPLAY:-}" ]; then
    headless=true
    . "$root/tools/display.sh"
fi

# Absolute Linux paths would read as options: they are given as Z:\... names.
# Everything else passes as typed (Wine starts in the current folder).
args=()
for a in "$@"; do
    if [ "${a#/}" != "$a" ] && [ -e "$a" ]; then
        args+=("$("$root/tools/wine-run.sh" winepath -w "$a")")
    else
        args+=("$a")
    fi
done

if ! $headless; then
    exec "$root/tools/wine-run.sh" "$exe" "${args[@]}"
fi
"$root/tools/wine-run.sh" "$driver" 600 "$exe" "${args[@]}" |
    perl -ne 'next if /^(ICON|EXIT) /; s/^BOX /--- /; s/^TEXT //; s/\\(\\|n)/$1 eq "n" ? "\n" : "\\"/ge; print'
