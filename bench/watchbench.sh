#!/bin/bash
# The native watch folder's figures on this machine:
#  - 1,000 small MP3 files (copies of samples/tone.mp3) converted by one
#    command-line run, in files per second;
#  - the same 1,000 files moved into a watched folder at once (settle time 0),
#    from the move to the watcher's last line, in files per second, and
#    whether each was converted once and none was lost;
#  - each of the two the median of five rounds: one round varies by a third on
#    a machine with two cores. The watcher's lines are counted rather than the
#    done/ folder listed, since a listing every 10 ms holds up the very moves
#    into that folder that it counts;
#  - the watcher's CPU time while idle, over 20 s, as a share of one core.
# Needs cmake; works in build/watchbench.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
native=$root/build/native-release/korvane
(cd "$root" && cmake --preset native-release >/dev/null && cmake --build build/native-release -j2 >/dev/null)
work=$root/build/watchbench
rm -rf "$work" && mkdir -p "$work/files" "$work/in" "$work/out" "$work/plain"
cd "$work"
count=1000
for i in $(seq -w 1 $count); do cp "$root/samples/tone.mp3" "files/f$i.mp3"; done
now() { date +%s.%N; }

rounds=5
median() { tr ' ' '\n' | sort -n | sed -n "$(( (rounds + 1) / 2 ))p"; }
plain_times=""
for _ in $(seq $rounds); do
    rm -rf plain && mkdir plain && cp files/*.mp3 plain/
    start=$(now)
    "$native" /Q 'plain/*.mp3'
    end=$(now)
    plain_times="$plain_times $(echo "$end - $start" | bc -l)"
done
plain_rate=$(echo "$count / $(echo $plain_times | median)" | bc -l)
printf "One command-line run over %d files:   %8.1f files/s\n" $count "$plain_rate"

"$native" --watch="$work/in" --out="$work/out" --settle=0 > watch.log &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
until grep -q Watching watch.log; do sleep 0.05; done
watch_times=""
for round in $(seq $rounds); do
    # Each round as the first: no outputs and no done/ files to replace.
    rm -rf batch in/done out/* && mkdir batch && cp files/*.mp3 batch/
    start=$(now)
    mv batch/*.mp3 in/
    until [ "$(grep -c 'Successfull: \|Failed : ' watch.log)" -ge $((round * count)) ] || ! kill -0 $pid; do
        sleep 0.01
    done
    end=$(now)
    watch_times="$watch_times $(echo "$end - $start" | bc -l)"
done
watch_rate=$(echo "$count / $(echo $watch_times | median)" | bc -l)
lines=$(grep -c 'Successfull: ' watch.log || true)
lines=$((lines / rounds))
printf "The watch folder, %d files at once:   %8.1f files/s (%.0f %% of the command line)\n" $count "$watch_rate" \
    "$(echo "100 * $watch_rate / $plain_rate" | bc -l)"
echo "  converted $(ls out | wc -l) of $count, $lines lines, $(ls in/failed | wc -l) failed, $(ls in | grep -c mp3 || true) left"

ticks() { awk '{print $14 + $15}' /proc/$pid/stat; }
hz=$(getconf CLK_TCK)
before=$(ticks)
sleep 20
after=$(ticks)
printf "CPU of the idle watcher over 20 s:    %8.3f %% of one core\n" "$(echo "100 * ($after - $before) / $hz / 20" | bc -l)"
kill -TERM $pid
wait $pid
