#!/bin/bash
# Converts the files given with Korvane.exe under Wine (installing and
# building what is missing first). Options such as /Q or /? pass through.
# With a display the boxes appear on it; without one they are read off a
# private display and printed here, and closed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/setup.sh"
for preset in win32 win64; do
    cmake -S "$root" --preset "$preset" >/dev/null
    cmake --build "$root/build/$preset" --target Korvane >/dev/null
done
cmake --build "$root/build/win64" --target kvdriver >/dev/null

# The 32-bit program where this machine can run 32-bit code, else the x86-64
# build of the same sources.
exe=$root/build/win64/Korvane.exe
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    exe=$root/build/win32/Korvane.exe
    export KORVANE_WINE=/usr/lib/wine/wine
fi

args=()
for a in "$@"; do
    case "$a" in
        [-/]?*) if [ -e "$a" ]; then args+=("$("$root/tools/wine-run.sh" winepath -w "$a")"); else args+=("$a"); fi ;;
        *) args+=("$("$root/tools/wine-run.sh" winepath -w "$a" 2>/dev/null || echo "$a")") ;;
    esac
done

if [ -n "${DISPLAY:-}" ]; then
    exec "$root/tools/wine-run.sh" "$exe" "${args[@]}"
fi
. "$root/tools/display.sh"
"$root/tools/wine-run.sh" "$root/build/win64/kvdriver.exe" 600 "$exe" "${args[@]}" |
    sed -e 's/^BOX /--- /' -e 's/^TEXT //' -e 's/\\n/\n/g' -e '/^ICON /d' -e '/^EXIT /d'
