#!/bin/bash
# What the running run's status record costs: the same large download by
# VelundZUL with the record kept (the default) and without it
# (ZUL_RUNNER_STATUS=0), alternated against one loopback FTP server.
#
#   bench/runner/bench_status.sh [path/to/VelundZUL]
#
# BENCH_SIZE_MB (256) and BENCH_REPS (5, best time kept) change the load.
# Everything lives in a temporary folder under /tmp that is removed at the end.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
runner=${1:-${ZUL_APP_BUILD_DIR:-$source_dir/build/dev/zul}/VelundZUL}
size_mb=${BENCH_SIZE_MB:-256}
reps=${BENCH_REPS:-5}
user=bench
pass=bench-pw

[ -x "$runner" ] || { echo "no runner at $runner (build the VelundZUL target or pass its path)" >&2; exit 2; }

work=$(mktemp -d /tmp/zul-bench-status.XXXXXX)
source "$here/../lib/servers.sh"
cleanup() {
    stop_servers
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/root" "$work/app/Junction" "$work/app/Log" "$work/app/ZUL" "$work/down"
cp "$runner" "$work/app/VelundZUL"

start_pyftpd $user $pass --buffer 1048576

echo "making a ${size_mb} MiB file..."
head -c $((size_mb * 1048576)) /dev/urandom >"$work/root/big.bin"
printf 'open 127.0.0.1 %s\r\nuser %s %s\r\nbinary\r\nget big.bin %s\r\nquit\r\n' "$port" $user $pass \
    "$work/down/big.bin" >"$work/app/ZUL/bench.zul"

now() { date +%s.%N; }
# One download, in seconds; $1: the value of ZUL_RUNNER_STATUS.
once() {
    rm -f "$work/down/big.bin"
    local s; s=$(now)
    ZUL_RUNNER_SYNC=0 ZUL_RUNNER_STATUS=$1 "$work/app/VelundZUL" "true|$work/app/ZUL/bench.zul|BENCH" \
        >/dev/null 2>"$work/last.err" || { echo "the run failed" >&2; cat "$work/last.err" >&2; exit 1; }
    echo "$(now) - $s" | bc -l
}
min() { if [ -z "$1" ] || [ "$(echo "$2 < $1" | bc -l)" = 1 ]; then echo "$2"; else echo "$1"; fi; }

with= without=
for i in $(seq "$reps"); do
    echo "round $i of $reps..."
    # Alternated, so that a busy moment of the machine hits both alike.
    with=$(min "$with" "$(once 1)")
    cmp -s "$work/root/big.bin" "$work/down/big.bin" || { echo "download differs" >&2; exit 1; }
    without=$(min "$without" "$(once 0)")
done

echo
printf '%-34s %10s\n' "seconds (best of $reps)" ""
printf '%-34s %10.3f\n' "${size_mb} MiB download, status kept" "$with"
printf '%-34s %10.3f\n' "  same, ZUL_RUNNER_STATUS=0" "$without"
printf '%-34s %10.3f\n' "ratio kept/none" "$(echo "$with / $without" | bc -l)"
echo "(a ratio of 1.00 means the status record costs nothing measurable; ZUL_RUNNER_SYNC=0 in both)"
