#!/bin/bash
# Runs the libFuzzer target for the given number of seconds (default 10),
# starting from the seed files, with hangs over 2 s and allocations over
# 256 MB counted as findings. Findings land in build/fuzz/findings.
#   tools/fuzz.sh [seconds]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-10}
cmake -S "$root" --preset fuzz >/dev/null
cmake --build "$root/build/fuzz" >/dev/null
findings=$root/build/fuzz/findings
mkdir -p "$findings"
status=0
for target in FuzzKorvane; do
    corpus=$root/build/fuzz/corpus/$target
    mkdir -p "$corpus"
    cp -n "$root"/tests/fuzz/seeds/* "$corpus/"
    log=$root/build/fuzz/$target.log
    if "$root/build/fuzz/tests/fuzz/$target" "$corpus" -dict="$root/tests/fuzz/korvane.dict" \
        -max_total_time="$seconds" -timeout=2 -malloc_limit_mb=256 -rss_limit_mb=1024 \
        -artifact_prefix="$findings/$target-" -print_final_stats=1 >"$log" 2>&1; then
        echo "fuzz $target: $(grep -E '^stat::number_of_executed_units' "$log" | awk '{print $2}') runs in ${seconds} s, no finding"
    else
        echo "fuzz $target: FINDING (see $log and $findings)"
        tail -30 "$log"
        status=1
    fi
done
exit $status
