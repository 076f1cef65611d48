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
user=zulsec
pass=Zul-Test-Pw1

[ -x "$runner" ] || { echo "no runner at $runner (build the VelundZUL target or pass its path)" >&2; exit 2; }
[ "$(id -u)" = 0 ] || { echo "run as root: vsftpd and sshd log in a system account" >&2; exit 2; }
for p in /usr/sbin/vsftpd /usr/sbin/sshd; do [ -x $p ] || { echo "$p is missing (tools/setup.sh)" >&2; exit 2; }; done
for c in curl sftp ssh-keygen openssl bc; do command -v $c >/dev/null || { echo "$c is missing" >&2; exit 2; }; done

id $user >/dev/null 2>&1 || useradd --no-create-home --home-dir / --shell /bin/sh $user
echo "$user:$pass" | chpasswd

work=$(mktemp -d "$base/zul-bench-secure.XXXXXX")
chmod 755 "$work"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/ftp" "$work/sftp" "$work/app/Junction" "$work/app/Log" "$work/app/ZUL" "$work/local" "$work/down" \
    "$work/home/.ssh" /var/run/vsftpd/empty /run/sshd
chown $user "$work/ftp" "$work/sftp"
cp "$runner" "$work/app/VelundZUL"

free_port() { /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
wait_port() { for _ in $(seq 100); do (exec 3<>/dev/tcp/127.0.0.1/"$1") 2>/dev/null && return 0; sleep 0.1; done; return 1; }

# A throw-away CA and a certificate for 127.0.0.1.
ec=(-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes)
openssl req -x509 "${ec[@]}" -keyout "$work/ca.key" -out "$work/ca.pem" -days 2 -subj "/CN=zul bench CA" 2>/dev/null
openssl req "${ec[@]}" -keyout "$work/server.key" -out "$work/server.csr" -subj "/CN=zul bench" 2>/dev/null
echo "subjectAltName=IP:127.0.0.1" >"$work/ext.cnf"
openssl x509 -req -in "$work/server.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" -CAcreateserial \
    -out "$work/server.pem" -days 2 -extfile "$work/ext.cnf" 2>/dev/null

ftp_port=$(free_port)
cat >"$work/vsftpd.conf" <<CONF
listen=YES
listen_ipv6=NO
listen_address=127.0.0.1
listen_port=$ftp_port
background=NO
anonymous_enable=NO
local_enable=YES
write_enable=YES
local_umask=022
local_root=$work/ftp
pasv_enable=YES
pasv_address=127.0.0.1
ssl_enable=YES
rsa_cert_file=$work/server.pem
rsa_private_key_file=$work/server.key
force_local_logins_ssl=YES
force_local_data_ssl=YES
ssl_ciphers=HIGH
seccomp_sandbox=NO
isolate=NO
isolate_network=NO
pam_service_name=vsftpd
CONF
/usr/sbin/vsftpd "$work/vsftpd.conf" >"$work/vsftpd.out" 2>&1 &
pids+=($!)
wait_port "$ftp_port" || { echo "vsftpd did not start" >&2; cat "$work/vsftpd.out" >&2; exit 2; }

ssh_port=$(free_port)
ssh-keygen -q -t ed25519 -N '' -f "$work/host_key"
ssh-keygen -q -t ed25519 -N '' -f "$work/home/.ssh/id_ed25519"
cp "$work/home/.ssh/id_ed25519.pub" "$work/authorized_keys"
chmod 644 "$work/authorized_keys"
echo "[127.0.0.1]:$ssh_port $(cut -d' ' -f1,2 "$work/host_key.pub")" >"$work/home/.ssh/known_hosts"
cat >"$work/sshd_config" <<CONF
ListenAddress 127.0.0.1:$ssh_port
HostKey $work/host_key
PidFile none
UsePAM no
PasswordAuthentication no
PubkeyAuthentication yes
AuthorizedKeysFile $work/authorized_keys
StrictModes no
AllowUsers $user
Subsystem sftp internal-sftp
ForceCommand internal-sftp -d $work/sftp
CONF
/usr/sbin/sshd -D -e -f "$work/sshd_config" >"$work/sshd.out" 2>&1 &
pids+=($!)
wait_port "$ssh_port" || { echo "sshd did not start" >&2; cat "$work/sshd.out" >&2; exit 2; }

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

runner_script() { # $1: open line, $2: user line, stdin: commands
    { printf '%s\r\n%s\r\nbinary\r\n' "$1" "$2"; sed 's/$/\r/'; printf 'quit\r\n'; } >"$work/app/ZUL/bench.zul"
}
run_runner() { "$work/app/VelundZUL" "true|$work/app/ZUL/$1.zul|     "; }

# TLS 1.2 on both sides: vsftpd loses the end of uploads over TLS 1.3, and the runner uses 1.2 by default.
# The password reaches curl through a netrc file, not its arguments.
printf 'machine 127.0.0.1 login %s password %s\n' "$user" "$pass" >"$work/netrc"
chmod 600 "$work/netrc"
curl_tls=(curl -sS --ssl-reqd --tls-max 1.2 --cacert "$work/ca.pem" --netrc-file "$work/netrc")
ftps="ftp://127.0.0.1:$ftp_port"
open_ftps="open ftpes://127.0.0.1 $ftp_port"
login_ftps="user $user $pass"

echo "FTPS upload..."
echo "put $work/local/big.bin up.bin" | runner_script "$open_ftps" "$login_ftps"
cp "$work/app/ZUL/bench.zul" "$work/app/ZUL/ftps_up.zul"
echo "get up.bin $work/down/big.bin" | runner_script "$open_ftps" "$login_ftps"
cp "$work/app/ZUL/bench.zul" "$work/app/ZUL/ftps_down.zul"
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
echo "put $work/local/big.bin up.bin" | runner_script "$open_sftp" "$login_sftp"
cp "$work/app/ZUL/bench.zul" "$work/app/ZUL/sftp_up.zul"
echo "get up.bin $work/down/big.bin" | runner_script "$open_sftp" "$login_sftp"
cp "$work/app/ZUL/bench.zul" "$work/app/ZUL/sftp_down.zul"
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
