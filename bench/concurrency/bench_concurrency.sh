#!/bin/bash
# 50 different events started at once (one qorvhost process each, one small
# file each, a loopback FTP server) against one event run alone: wall time
# from the start until every run has its line in Log/runs.jsonl.
#
#   bench/concurrency/bench_concurrency.sh [build folder]
#
# BENCH_EVENTS (50) and BENCH_REPS (3, best time kept) change the load;
# BENCH_SERIAL=0 leaves out the one-after-another peer;
# BENCH_REGISTER_LINES (0) preloads the receipt register with other events'
# records, which every hand-over merges under the lock. Every event must
# receive its own file and every run must succeed, or the bench fails.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
build=${1:-$source_dir/build/dev}
events=${BENCH_EVENTS:-50}
reps=${BENCH_REPS:-3}
register_lines=${BENCH_REGISTER_LINES:-0}
host="$build/bin/qorvhost"
user=bench
pass=bench-pw

source "$here/../lib/servers.sh"
need_built "qorvhost, zul, VelundZUL and zul_ping32" "$host" "$build/zul/libzul.so" "$build/zul/VelundZUL" \
    "$build/zul/libping32.so"

work=$(mktemp -d /tmp/zul-bench-concurrency.XXXXXX)
cleanup() {
    stop_servers
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/root" "$work/in" "$work/scripts" "$work/data"
make_app_folder "$work/app"
start_pyftpd $user $pass --max-cons $((events * 2 + 16))

qh() { "$host" --data "$work/data" --plugin "$work/app/libzul.so" "$@"; }
id_of() { printf 'C%04d' "$1"; }

echo "defining $events events..."
for i in $(seq 1 "$events"); do
    id=$(id_of "$i")
    printf 'content of %s\r\n' "$id" >"$work/root/$id.txt"
    printf 'open 127.0.0.1 %s\r\nuser %s %s\r\nbinary\r\nget %s.txt %s/in/%s.txt\r\nquit\r\n' \
        "$port" $user $pass "$id" "$work" "$id" >"$work/scripts/$id.zul"
    qh event put "$id" >/dev/null
    qh script import "$id" "$work/scripts/$id.zul" >/dev/null
done

if [ "$register_lines" -gt 0 ]; then
    echo "preloading the register with $register_lines records..."
    # Stamped now: older records whose files are gone would be pruned at once.
    awk -v n="$register_lines" -v stamp="$(date +%Y%m%d%H%M%S)" 'BEGIN { for (i = 0; i < n; i++)
        printf "X%04d%02d %s       RC &/data/other/f%05d.txt&\r\n", int(i / 100), i % 100, stamp, i }' \
        >"$work/app/Rcvdchkr.txt"
fi

now() { date +%s.%N; }
records() { [ -f "$work/app/Log/runs.jsonl" ] && wc -l <"$work/app/Log/runs.jsonl" || echo 0; }
# Starts events 1..$1 at once and waits until each has its run record; prints seconds.
burst() {
    local n=$1 before pids=() s
    before=$(records)
    rm -f "$work"/in/*.txt
    s=$(now)
    for i in $(seq 1 "$n"); do
        qh run "$(id_of "$i")" >/dev/null 2>>"$work/host.err" &
        pids+=($!)
    done
    for p in "${pids[@]}"; do wait "$p" || { echo "a host run failed" >&2; cat "$work/host.err" >&2; exit 1; }; done
    while [ "$(records)" -lt $((before + n)) ]; do sleep 0.01; done
    echo "$(now) - $s" | bc -l
    for i in $(seq 1 "$n"); do
        id=$(id_of "$i")
        [ "$(cat "$work/in/$id.txt" 2>/dev/null)" = "$(printf 'content of %s\r' "$id")" ] ||
            { echo "event $id did not receive its own file" >&2; exit 1; }
    done
}
# The same events one after another, each waited for: the peer that shows what
# running them together saves.
serial() {
    local n=$1 s before
    s=$(now)
    for i in $(seq 1 "$n"); do
        before=$(records)
        qh run "$(id_of "$i")" >/dev/null 2>>"$work/host.err"
        while [ "$(records)" -le "$before" ]; do sleep 0.01; done
    done
    echo "$(now) - $s" | bc -l
}
best() {
    local b= t
    for _ in $(seq "$reps"); do
        t=$($2 "$1")
        if [ -z "$b" ] || [ "$(echo "$t < $b" | bc -l)" = 1 ]; then b=$t; fi
    done
    printf '%.3f' "$b"
}

echo "one event alone..."
one=$(best 1 burst)
echo "$events events at once..."
many=$(best "$events" burst)
echo "$events events one after another..."
one_by_one=$( [ "${BENCH_SERIAL:-1}" = 0 ] && echo 0 || best "$events" serial)
bad=$(grep -vc '"exit":0,' "$work/app/Log/runs.jsonl" || true)
[ "$bad" = 0 ] || { echo "$bad runs did not succeed" >&2; grep -v '"exit":0,' "$work/app/Log/runs.jsonl" >&2; exit 1; }

echo
echo "$(nproc) processors, load average $(cut -d' ' -f1-3 /proc/loadavg) (the host processes compete for them)"
printf '%-34s %10s\n' "seconds (best of $reps)" wall
printf '%-34s %10s\n' "one event alone" "$one"
printf '%-34s %10s\n' "$events events at once" "$many"
printf '%-34s %10s\n' "$events events one after another" "$one_by_one"
printf '%-34s %10s\n' "ratio ($events at once / one alone)" "$(printf '%.2f' "$(echo "$many / $one" | bc -l)")"
[ "${BENCH_SERIAL:-1}" = 0 ] ||
    printf '%-34s %10s\n' "ratio (at once / one after another)" "$(printf '%.2f' "$(echo "$many / $one_by_one" | bc -l)")"
