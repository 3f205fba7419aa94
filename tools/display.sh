# Sourced by the scripts that run the Windows program: starts a private Xvfb
# display and a Wine session for the build tree's Wine prefix on it
# (tools/wine-session.sh), and stops both when the calling script ends.
# Needs $root (the source tree).
export KORVANE_WINEPREFIX=${KORVANE_WINEPREFIX:-$root/build/wineprefix}
display_number=$(( 90 + $$ % 100 ))
while [ -e "/tmp/.X11-unix/X$display_number" ] || [ -e "/tmp/.X$display_number-lock" ]; do
    display_number=$((display_number + 1))
done
Xvfb ":$display_number" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=":$display_number"
stop_display() {
    WINEPREFIX=$KORVANE_WINEPREFIX wineserver -k >/dev/null 2>&1 || true
    kill "$xvfb_pid" >/dev/null 2>&1 || true
}
trap stop_display EXIT
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display_number" ] && break; sleep 0.1; done
"$root/tools/wine-session.sh"
. "$root/tools/winebuild.sh"
