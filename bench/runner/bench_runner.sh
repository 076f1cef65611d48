#!/bin/bash
# Times VelundZUL against the curl and lftp command lines on one loopback FTP
# server: a large file up and down, and many small files sent in one go.
#
#   bench/runner/bench_runner.sh [path/to/VelundZUL]
#
# BENCH_SIZE_MB (1024), BENCH_SMALL (500) and BENCH_REPS (3, best time kept)
# change the load. Everything lives in a temporary folder under /tmp that is
# removed at the end, the large file included.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
runner=${1:-${ZUL_APP_BUILD_DIR:-$source_dir/build/dev/zul}/VelundZUL}
size_mb=${BENCH_SIZE_MB:-1024}
small=${BENCH_SMALL:-500}
reps=${BENCH_REPS:-3}
user=bench
pass=bench-pw

[ -x "$runner" ] || { echo "no runner at $runner (build the VelundZUL target or pass its path)" >&2; exit 2; }
command -v curl >/dev/null || { echo "curl is missing" >&2; exit 2; }
command -v lftp >/dev/null || { echo "lftp is missing" >&2; exit 2; }

work=$(mktemp -d /tmp/zul-bench.XXXXXX)
source "$here/../lib/servers.sh"
cleanup() {
    stop_servers
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/root" "$work/app/Junction" "$work/app/Log" "$work/app/ZUL" "$work/local/small" "$work/down"
cp "$runner" "$work/app/VelundZUL"

start_pyftpd $user $pass --buffer 1048576
url="ftp://127.0.0.1:$port"

echo "making a ${size_mb} MiB file and $small small files..."
head -c $((size_mb * 1048576)) /dev/urandom >"$work/local/big.bin"
for i in $(seq -w 1 "$small"); do head -c $((1024 + 10#$i * 7)) /dev/urandom >"$work/local/small/f$i.dat"; done

now() { date +%s.%N; }
# Best of $reps runs of a command, in seconds; $2 runs before each (not timed).
best() {
    local cmd=$1 before=${2:-true} t b=
    for _ in $(seq "$reps"); do
        eval "$before"
        local s; s=$(now)
        eval "$cmd" >/dev/null 2>"$work/last.err" || { echo "failed: $cmd" >&2; cat "$work/last.err" >&2; exit 1; }
        t=$(echo "$(now) - $s" | bc -l)
        if [ -z "$b" ] || [ "$(echo "$t < $b" | bc -l)" = 1 ]; then b=$t; fi
    done
    printf '%.3f' "$b"
}

runner_script() { # writes the runner's script from stdin lines
    { printf 'open 127.0.0.1 %s\r\nuser %s %s\r\nbinary\r\n' "$port" $user $pass; sed 's/$/\r/'; printf 'quit\r\n'; } \
        >"$work/app/ZUL/bench.zul"
}
run_runner() { "$work/app/VelundZUL" "true|$work/app/ZUL/bench.zul|     "; }

lftp_cmd() { lftp -u "$user,$pass" -p "$port" -e "set ftp:passive-mode on; set cmd:fail-exit yes; $1; quit" 127.0.0.1; }

cp "$work/local/big.bin" "$work/root/big.bin"
sync

echo "large file, upload..."
echo "put $work/local/big.bin up.bin" | runner_script
up_runner=$(best run_runner "rm -f $work/root/up.bin")
up_curl=$(best "curl -sS -T $work/local/big.bin $url/up.bin --user $user:$pass" "rm -f $work/root/up.bin")
up_lftp=$(best "lftp_cmd 'put $work/local/big.bin -o up.bin'" "rm -f $work/root/up.bin")
cmp -s "$work/local/big.bin" "$work/root/up.bin" || { echo "upload differs" >&2; exit 1; }
rm -f "$work/root/up.bin"

echo "large file, download..."
echo "get big.bin $work/down/big.bin" | runner_script
down_runner=$(best run_runner "rm -f $work/down/big.bin")
# The runner flushes a received file to disk before renaming it into place; curl and lftp do not.
down_nosync=$(best "ZUL_RUNNER_SYNC=0 run_runner" "rm -f $work/down/big.bin")
down_curl=$(best "curl -sS $url/big.bin --user $user:$pass -o $work/down/big.bin" "rm -f $work/down/big.bin")
down_lftp=$(best "lftp_cmd 'get big.bin -o $work/down/big.bin'" "rm -f $work/down/big.bin")
cmp -s "$work/local/big.bin" "$work/down/big.bin" || { echo "download differs" >&2; exit 1; }
rm -f "$work/down/big.bin" "$work/root/big.bin" "$work/local/big.bin"

echo "$small small files, upload..."
mkdir -p "$work/root/s"
clean_small="rm -rf $work/root/s; mkdir $work/root/s"
(cd "$work/local/small" && for f in *.dat; do echo "put $work/local/small/$f s/$f"; done) | runner_script
small_runner=$(best run_runner "$clean_small")
curl_each() { for f in "$work"/local/small/*.dat; do curl -sS -T "$f" "$url/s/" --user $user:$pass || return 1; done; }
small_curl=$(best curl_each "$clean_small")
small_lftp=$(best "lftp_cmd 'cd s; mput $work/local/small/*.dat'" "$clean_small")
[ "$(ls "$work/root/s" | wc -l)" = "$small" ] || { echo "small files missing" >&2; exit 1; }

ratio() { printf '%.2f' "$(echo "$1 / $2" | bc -l)"; }
echo
printf '%-28s %10s %10s %10s %14s %14s\n' "seconds (best of $reps)" VelundZUL curl lftp "runner/curl" "runner/lftp"
printf '%-28s %10s %10s %10s %14s %14s\n' "${size_mb} MiB upload" "$up_runner" "$up_curl" "$up_lftp" \
    "$(ratio "$up_runner" "$up_curl")" "$(ratio "$up_runner" "$up_lftp")"
printf '%-28s %10s %10s %10s %14s %14s\n' "${size_mb} MiB download" "$down_runner" "$down_curl" "$down_lftp" \
    "$(ratio "$down_runner" "$down_curl")" "$(ratio "$down_runner" "$down_lftp")"
printf '%-28s %10s %10s %10s %14s %14s\n' "  same, ZUL_RUNNER_SYNC=0" "$down_nosync" "$down_curl" "$down_lftp" \
    "$(ratio "$down_nosync" "$down_curl")" "$(ratio "$down_nosync" "$down_lftp")"
printf '%-28s %10s %10s %10s %14s %14s\n' "$small small files upload" "$small_runner" "$small_curl" "$small_lftp" \
    "$(ratio "$small_runner" "$small_curl")" "$(ratio "$small_runner" "$small_lftp")"
echo "(curl: one call per small file; lftp: one mput. A ratio below 1 means the runner was faster.)"
