#!/bin/sh
# Runs a Windows program under Wine in the build tree's own prefix, quietly.
# The prefix is KORVANE_WINEPREFIX, or build/wineprefix beside this script.
here=$(cd "$(dirname "$0")/.." && pwd)
WINEPREFIX=${KORVANE_WINEPREFIX:-$here/build/wineprefix}
WINEDEBUG=${WINEDEBUG:--all}
WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
# The plain loader where it runs (it starts 32-bit and 64-bit programs
# alike); Debian's 64-bit loader where 32-bit code cannot be executed.
wine=${KORVANE_WINE:-}
if [ -z "$wine" ]; then
    wine=/usr/lib/wine/wine64
    /usr/lib/wine/wine --version >/dev/null 2>&1 && wine=/usr/lib/wine/wine
fi
[ -x "$wine" ] || wine=wine
exec "$wine" "$@"
