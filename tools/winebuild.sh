# Sourced by the scripts that run Windows programs: chooses the Windows build
# and the Wine loader. The i686 build, the product, and the plain loader
# (which starts 32-bit and 64-bit programs alike) wherever 32-bit Wine runs;
# the x86-64 build of the same sources and Debian's 64-bit loader only where
# this machine cannot run 32-bit code.
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    win_preset=win32
    win_loader=/usr/lib/wine/wine
    win_build_text="i686 build under 32-bit Wine"
else
    win_preset=win64
    win_loader=/usr/lib/wine/wine64
    win_build_text="x86-64 build under 64-bit Wine (this machine cannot run 32-bit code)"
fi
