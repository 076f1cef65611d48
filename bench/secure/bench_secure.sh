#!/bin/bash
# Times VelundZUL over explicit FTPS (vsftpd) against `curl --ssl-reqd`, and
# over SFTP (sshd) against `curl sftp://` and OpenSSH's `sftp -b`, with one
# large file up and down, all on loopback in the same run.
#
#   bench/secure/bench_secure.sh [path/to/VelundZUL]
#
# Needs root (vsftpd and sshd log in the test account zulsec, made here as the
# tests make it), vsftpd, openssh-server and openssl. BENCH_SIZE_MB (1024),
# BENCH_REPS (3 rounds, in turn; best time kept) and BENCH_DIR (/dev/shm, a tmpfs, so that the
# disk does not set the pace) change the load. Everything, the large files
# included, is removed at the end.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
runner=${1:-${ZUL_APP_BUILD_DIR:-$source_dir/build/dev/zul}/VelundZUL}
size_mb=${BENCH_SIZE_MB:-1024}
reps=${BENCH_REPS:-3}
base=${BENCH_DIR:-/dev/shm}
source "$here/../lib/servers.sh"
user=$bench_user
pass=$bench_pass

[ -x "$runner" ] || { echo "no runner at $runner (build the VelundZUL target or pass its path)" >&2; exit 2; }
need_root_servers

work=$(mktemp -d "$base/zul-bench-secure.XXXXXX")
chmod 755 "$work"
trap 'stop_servers; rm -rf "$work"' EXIT

mkdir -p "$work/ftp" "$work/sftp" "$work/app/Junction" "$work/app/Log" "$work/app/ZUL" "$work/local" "$work/down"
chown $user "$work/ftp" "$work/sftp"
cp "$runner" "$work/app/VelundZUL"

make_certificates
start_vsftpd vsftpd "$work/ftp" YES
ftp_port=$vsftpd_port
start_sshd "$work/sftp"

cat >"$work/app/VelundZUL.conf" <<CONF
CA_FILE = $work/ca.pem
KNOWN_HOSTS = $work/home/.ssh/known_hosts
SSH_KEY = $work/home/.ssh/id_ed25519
CONF

echo "making a ${size_mb} MiB file..."
head -c $((size_mb * 1048576)) /dev/urandom >"$work/local/big.bin"

now() { date +%s.%N; }
# Races the commands "$@" $reps times, in turn within each round so that a change in the
# machine's load reaches them alike; $before runs before each (not timed). Sets best[i].
declare -a best
race() {
    local n=$# i t s
    best=()
    for _ in $(seq "$reps"); do
        for ((i = 0; i < n; i++)); do
            local cmd=${*:$((i + 1)):1}
            eval "$before"
            s=$(now)
            eval "$cmd" >/dev/null 2>"$work/last.err" || { echo "failed: $cmd" >&2; cat "$work/last.err" >&2; exit 1; }
            t=$(echo "$(now) - $s" | bc -l)
            if [ -z "${best[$i]:-}" ] || [ "$(echo "$t < ${best[$i]}" | bc -l)" = 1 ]; then best[$i]=$t; fi
            eval "$check"
        done
    done
    for ((i = 0; i < n; i++)); do best[$i]=$(printf '%.3f' "${best[$i]}"); done
}
same() { cmp -s "$1" "$2" || { echo "$2 differs from $1" >&2; exit 1; }; }

run_runner() { "$work/app/VelundZUL" "true|$work/app/ZUL/$1.zul|     "; }

# TLS 1.2 on both sides: vsftpd loses the end of uploads over TLS 1.3, and the runner uses 1.2 by default.
write_netrc
curl_tls=(curl -sS --ssl-reqd --tls-max 1.2 --cacert "$work/ca.pem" --netrc-file "$work/netrc")
ftps="ftp://127.0.0.1:$ftp_port"
open_ftps="open ftpes://127.0.0.1 $ftp_port"
login_ftps="user $user $pass"

echo "FTPS upload..."
echo "put $work/local/big.bin up.bin" | runner_script "$work/app/ZUL/ftps_up.zul" "$open_ftps" "$login_ftps"
echo "get up.bin $work/down/big.bin" | runner_script "$work/app/ZUL/ftps_down.zul" "$open_ftps" "$login_ftps"
before="rm -f $work/ftp/up.bin" check="same $work/local/big.bin $work/ftp/up.bin"
race "run_runner ftps_up" "${curl_tls[*]} -T $work/local/big.bin $ftps/up.bin"
ftps_up_runner=${best[0]} ftps_up_curl=${best[1]}

echo "FTPS download..."
cp "$work/local/big.bin" "$work/ftp/up.bin"
chown $user "$work/ftp/up.bin"
before="rm -f $work/down/big.bin" check="same $work/local/big.bin $work/down/big.bin"
race "run_runner ftps_down" "${curl_tls[*]} $ftps/up.bin -o $work/down/big.bin"
ftps_down_runner=${best[0]} ftps_down_curl=${best[1]}
rm -f "$work/ftp/up.bin" "$work/down/big.bin"

# The same key and known_hosts for all three.
export HOME=$work/home
sftp_url="sftp://127.0.0.1:$ssh_port"
curl_ssh=(curl -sS --user "$user:" --key "$work/home/.ssh/id_ed25519" --pubkey "$work/home/.ssh/id_ed25519.pub")
sftp_b() { # batch from stdin
    sftp -q -b - -P "$ssh_port" -i "$work/home/.ssh/id_ed25519" -o UserKnownHostsFile="$work/home/.ssh/known_hosts" \
        -o BatchMode=yes "$user@127.0.0.1"
}
open_sftp="open sftp://127.0.0.1 $ssh_port"
login_sftp="user $user \"\""

echo "SFTP upload..."
echo "put $work/local/big.bin up.bin" | runner_script "$work/app/ZUL/sftp_up.zul" "$open_sftp" "$login_sftp"
echo "get up.bin $work/down/big.bin" | runner_script "$work/app/ZUL/sftp_down.zul" "$open_sftp" "$login_sftp"
before="rm -f $work/sftp/up.bin" check="same $work/local/big.bin $work/sftp/up.bin"
race "run_runner sftp_up" "${curl_ssh[*]} -T $work/local/big.bin $sftp_url/~/up.bin" \
    "echo 'put $work/local/big.bin up.bin' | sftp_b"
sftp_up_runner=${best[0]} sftp_up_curl=${best[1]} sftp_up_ossh=${best[2]}

echo "SFTP download..."
cp "$work/local/big.bin" "$work/sftp/up.bin"
chown $user "$work/sftp/up.bin"
before="rm -f $work/down/big.bin" check="same $work/local/big.bin $work/down/big.bin"
race "run_runner sftp_down" "${curl_ssh[*]} $sftp_url/~/up.bin -o $work/down/big.bin" \
    "echo 'get up.bin $work/down/big.bin' | sftp_b"
sftp_down_runner=${best[0]} sftp_down_curl=${best[1]} sftp_down_ossh=${best[2]}

ratio() { printf '%.2f' "$(echo "$1 / $2" | bc -l)"; }
echo
printf '%-26s %10s %10s %10s %14s %14s\n' "seconds (best of $reps)" VelundZUL curl "sftp -b" "runner/curl" "runner/sftp"
printf '%-26s %10s %10s %10s %14s %14s\n' "FTPS ${size_mb} MiB upload" "$ftps_up_runner" "$ftps_up_curl" - \
    "$(ratio "$ftps_up_runner" "$ftps_up_curl")" -
printf '%-26s %10s %10s %10s %14s %14s\n' "FTPS ${size_mb} MiB download" "$ftps_down_runner" "$ftps_down_curl" - \
    "$(ratio "$ftps_down_runner" "$ftps_down_curl")" -
printf '%-26s %10s %10s %10s %14s %14s\n' "SFTP ${size_mb} MiB upload" "$sftp_up_runner" "$sftp_up_curl" "$sftp_up_ossh" \
    "$(ratio "$sftp_up_runner" "$sftp_up_curl")" "$(ratio "$sftp_up_runner" "$sftp_up_ossh")"
printf '%-26s %10s %10s %10s %14s %14s\n' "SFTP ${size_mb} MiB download" "$sftp_down_runner" "$sftp_down_curl" \
    "$sftp_down_ossh" "$(ratio "$sftp_down_runner" "$sftp_down_curl")" "$(ratio "$sftp_down_runner" "$sftp_down_ossh")"
echo "(explicit FTPS over TLS 1.2 for both; SFTP with the same ed25519 key. Below 1: the runner was faster.)"
