#!/bin/sh
# Runs a Windows program under Wine in the build tree's own prefix, quietly.
# The prefix is KORVANE_WINEPREFIX, or build/wineprefix beside this script.
here=$(cd "$(dirname "$0")/.." && pwd)
WINEPREFIX=${KORVANE_WINEPREFIX:-$here/build/wineprefix}
WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko prompts; and no menu entries or file types written into the
# Linux desktop for the shortcuts a program (the setup) makes.
WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
# Wine hands a program its Unix arguments as Unicode only in a UTF-8 locale.
LC_ALL=C.UTF-8
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES LC_ALL
. "$here/tools/winebuild.sh"
wine=${KORVANE_WINE:-$win_loader}
[ -x "$wine" ] || wine=wine
exec "$wine" "$@"
