# Sourced by the scripts that run Korvane.exe: chooses the Windows build to
# run. The i686 build, the product, wherever 32-bit Wine runs; the x86-64
# build of the same sources only where this machine cannot run 32-bit code.
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    win_preset=win32
    win_build_text="i686 build under 32-bit Wine"
else
    win_preset=win64
    win_build_text="x86-64 build under 64-bit Wine (this machine cannot run 32-bit code)"
fi
