#!/bin/bash
# Starts a Wine session on $DISPLAY for the prefix KORVANE_WINEPREFIX (the
# build tree's by default), making the prefix first when it is new: a
# persistent wineserver, the prefix's services and a holder of Wine's
# desktop. "wineserver -k" with that prefix ends the session.
root=$(cd "$(dirname "$0")/.." && pwd)
export KORVANE_WINEPREFIX=${KORVANE_WINEPREFIX:-$root/build/wineprefix}
# The persistent server first: started later, it would find the server of
# the first program still running, fail, and leave every later program to
# start a server and the prefix's services of its own (seconds each).
# A server left from an earlier session would serve that session's display,
# which may be gone: end it first.
mkdir -p "$KORVANE_WINEPREFIX"
WINEPREFIX=$KORVANE_WINEPREFIX wineserver -k >/dev/null 2>&1 || true
WINEPREFIX=$KORVANE_WINEPREFIX wineserver -w >/dev/null 2>&1 || true
WINEPREFIX=$KORVANE_WINEPREFIX wineserver -p >/dev/null 2>&1 || true
if [ ! -f "$KORVANE_WINEPREFIX/system.reg" ]; then
    "$root/tools/wine-run.sh" wineboot -i >/dev/null 2>&1
fi
# Without a window manager, Wine's managed windows wait about 2 s whenever a
# box closes; unmanaged windows do not. The setting is read when Wine's
# session starts, so a new one is started once it is made.
if ! grep -q '"Managed"="N"' "$KORVANE_WINEPREFIX/user.reg" 2>/dev/null; then
    "$root/tools/wine-run.sh" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    WINEPREFIX=$KORVANE_WINEPREFIX wineserver -k >/dev/null 2>&1 || true
    WINEPREFIX=$KORVANE_WINEPREFIX wineserver -w >/dev/null 2>&1 || true
    WINEPREFIX=$KORVANE_WINEPREFIX wineserver -p >/dev/null 2>&1 || true
fi
# Start the prefix's background services now, detached from any output: the
# first Wine program of a session hands them its standard output, and a test
# runner would wait on that pipe until they end.
"$root/tools/wine-run.sh" cmd /c ver </dev/null >/dev/null 2>&1 || true
# Keep Wine's desktop open for the whole session (kvdriver --hold), where
# the driver is built: without it every program waits for a new desktop.
# Wait until the holder has it: a program that started the desktop itself
# would hand it its standard output, and a test runner reading that pipe
# (ctest listing the tests) would wait until the desktop ends.
. "$root/tools/winebuild.sh"
if [ -f "$root/build/$win_preset/tests/e2e/kvdriver.exe" ]; then
    hold_log=$(mktemp)
    "$root/tools/wine-run.sh" "$root/build/$win_preset/tests/e2e/kvdriver.exe" --hold </dev/null >"$hold_log" 2>/dev/null &
    for _ in $(seq 600); do grep -q HOLDING "$hold_log" && break; sleep 0.1; done
    rm -f "$hold_log"
fi
