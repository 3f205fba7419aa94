#!/bin/bash
# Builds everything and runs every test: the native converter's unit tests
# under the sanitizers, then the Windows backend tests and the end-to-end
# tests of Korvane.exe under Wine (the long ones last), on a private Xvfb display and a Wine
# prefix inside the build tree; then the checks of the release zip and setup
# and of the Debian package of the native converter, and a short
# run of the fuzz target. The Windows tests run on the i686 build wherever
# 32-bit Wine runs, else on the x86-64 build; the last lines say which.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
tools/setup.sh || exit 1

build() {
    cmake --preset "$1" >/dev/null && cmake --build "build/$1" || { echo "build of $1 failed"; exit 1; }
}
build native
build win32
build win64

. tools/display.sh
# display.sh has chosen the Windows build: $win_preset, $win_build_text.

passed=0
failed=0
run_ctest() {
    local log
    log=$(mktemp)
    ctest --test-dir "$@" --output-on-failure 2>&1 | tee "$log"
    local line
    line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1)
    if [ -z "$line" ]; then
        failed=$((failed + 1))
    else
        local total bad
        total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
        bad=$(sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/' <<<"$line")
        passed=$((passed + total - bad))
        failed=$((failed + bad))
    fi
    rm -f "$log"
}
run_ctest build/native
# The Windows tests labelled "long" (a file past 2 GiB, every failure cause,
# runs by the dozen, the setup in a fresh prefix) come after the rest.
run_ctest "build/$win_preset" -LE long
run_ctest "build/$win_preset" -L long

# The release package holds the i686 program with its version in its name;
# the Debian package beside it, the native converter as it installs.
made=$(tools/package.sh)
check() {
    if "$@"; then passed=$((passed + 1)); else echo "package check: $* FAILED"; failed=$((failed + 1)); fi
}
check python3 tools/peinfo.py --check-zip "$(sed -n 1p <<<"$made")"
check tools/checkdeb.sh "$(sed -n 2p <<<"$made")"

# A short fuzzing smoke run.
fuzz_log=$(mktemp)
tools/fuzz.sh 30 | tee "$fuzz_log"
passed=$((passed + $(grep -c 'no finding' "$fuzz_log")))
failed=$((failed + $(grep -c 'FINDING' "$fuzz_log")))
rm -f "$fuzz_log"

echo
echo "windows tests: $win_build_text"
echo "all: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
