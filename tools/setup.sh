#!/bin/bash
# Installs, with apt-get, whatever the build and the tests need and this
# machine lacks (run as root on Debian). Quiet when nothing is missing.
# Where the kernel runs 32-bit code, 32-bit Wine is installed too, so that
# the i686 Korvane.exe itself can be run; elsewhere that step is skipped.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
updated=false

install_missing() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "setup: installing ${missing[*]}"
    if ! $updated; then
        apt-get update -q >/dev/null && updated=true
    fi
    apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
}

install_missing cmake ninja-build g++ binutils googletest python3 \
    g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools \
    wine wine64 xvfb libx11-dev imagemagick xdotool x11-utils \
    lame ffmpeg mpg123 libmpg123-dev libebur128-dev mediainfo time clang libclang-rt-14-dev python3-xlib nsis \
    dpkg-dev lintian man-db groff-base libsndfile1-dev

# Does this kernel run i386 code? A five-instruction i386 program that exits
# with 42 tells, without guessing from the architecture's name.
runs_i386() {
    local dir rc=1
    dir=$(mktemp -d)
    printf '.globl _start\n_start: movl $1, %%eax\n movl $42, %%ebx\n int $0x80\n' > "$dir/t.s"
    if as --32 "$dir/t.s" -o "$dir/t.o" 2>/dev/null && ld -m elf_i386 "$dir/t.o" -o "$dir/t" 2>/dev/null; then
        "$dir/t" 2>/dev/null; [ $? -eq 42 ] && rc=0
    fi
    rm -rf "$dir"
    return $rc
}

if runs_i386; then
    if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
        # A failure here leaves the x86-64 build to stand in; it must not end the set-up.
        {
            dpkg --print-foreign-architectures | grep -qx i386 || { dpkg --add-architecture i386 && updated=false; }
            install_missing wine32:i386
        } || echo "setup: 32-bit Wine could not be installed; the x86-64 build stands in"
    fi
fi

# The Windows builds make libmpg123 and libebur128 from Debian's own source
# packages. apt knows only binary entries here: a source entry is made from
# the first deb822 entry of apt's sources (same URIs, suites and key), and the
# upstream tarballs land in build/sources, where CMake checks their SHA-256.
# apt-get source may fail on a file the tarball does not need (a signature,
# the Debian patches): only the tarballs count.
fetch_sources() {
    local dir=$root/build/sources list=/etc/apt/sources.list.d/korvane-src.sources
    local want=(mpg123_1.31.2.orig.tar.bz2 libebur128_1.2.6.orig.tar.gz) f missing=false
    for f in "${want[@]}"; do [ -s "$dir/$f" ] || missing=true; done
    $missing || return 0
    if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
        local from
        from=$(ls /etc/apt/sources.list.d/*.sources 2>/dev/null | grep -v korvane-src | head -1)
        [ -n "$from" ] || { echo "setup: no deb822 sources file to make a source entry from"; return 1; }
        sed 's/^Types:.*/Types: deb-src/' "$from" > "$list"
        apt-get update -q >/dev/null
    fi
    mkdir -p "$dir"
    echo "setup: fetching the sources of mpg123 and libebur128"
    (cd "$dir" && apt-get source --download-only -q mpg123 libebur128 >/dev/null 2>&1) || true
    for f in "${want[@]}"; do
        [ -s "$dir/$f" ] || { echo "setup: $f could not be fetched"; return 1; }
    done
}
root=$(cd "$(dirname "$0")/.." && pwd)
fetch_sources
