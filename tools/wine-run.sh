#!/bin/sh
# Runs a Windows program under Wine in the build tree's own prefix, quietly.
# The prefix is KORVANE_WINEPREFIX, or build/wineprefix beside this script.
here=$(cd "$(dirname "$0")/.." && pwd)
WINEPREFIX=${KORVANE_WINEPREFIX:-$here/build/wineprefix}
WINEDEBUG=${WINEDEBUG:--all}
WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
# Debian's 64-bit loader runs the x86-64 build; the plain loader is used
# where 32-bit programs can run.
wine=${KORVANE_WINE:-/usr/lib/wine/wine64}
[ -x "$wine" ] || wine=wine
exec "$wine" "$@"
