#!/bin/bash
# Every transfer of the runner against its peer, in the same run: vsftpd (plain
# and explicit FTPS) and OpenSSH on loopback, the runner against curl, OpenSSH's
# `sftp -b` and lftp, one event and many events through `qorvhost run` against
# curl, and the run preparation against cp. Runner and peer take turns; each
# row prints the medians (wall and CPU, the CPU of every process the command
# started, the runner left behind by the host included) and their ratios.
#
#   bench/compare.sh [build folder]    (a RelWithDebInfo tree: build/ci)
#
# Needs root (the servers log in the test account). BENCH_SIZE_MB (256; the
# issue measures 1024), BENCH_REPS (11), BENCH_EVENTS (50), BENCH_SMALL (500) and
# BENCH_DIR (/dev/shm, a tmpfs, so that the disk does not set the pace) change
# the load; BENCH_ONLY (a grep pattern) runs only the rows whose names match.
# BENCH_BASELINE (another build's VelundZUL) adds a row that races this runner
# against it on the small files: a change too small to show against lftp's
# spread shows there.
# Everything, the large files included, is removed at the end.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/.." && pwd)
build=${1:-$source_dir/build/ci}
size_mb=${BENCH_SIZE_MB:-256}
reps=${BENCH_REPS:-11}
events=${BENCH_EVENTS:-50}
small=${BENCH_SMALL:-500}
base=${BENCH_DIR:-/dev/shm}
source "$here/lib/servers.sh"

need_built "qorvhost, zul, VelundZUL, zul_ping32 and bench_check_transfers" "$build/bin/qorvhost" \
    "$build/zul/libzul.so" "$build/zul/VelundZUL" "$build/zul/libping32.so" "$build/bench/bench_check_transfers"
command -v lftp >/dev/null || { echo "lftp is missing" >&2; exit 2; }
need_root_servers

work=$(mktemp -d "$base/zul-compare.XXXXXX")
chmod 755 "$work"
trap 'stop_servers; [ -n "${BENCH_KEEP:-}" ] || rm -rf "$work"' EXIT
srv=$work/srv
app=$work/app
mkdir -p "$srv/s" "$work/local/small" "$work/down" "$work/data" "$work/scripts"
make_app_folder "$app"
[ -z "${BENCH_BASELINE:-}" ] || cp "$BENCH_BASELINE" "$app/VelundZUL.baseline"

make_certificates
start_vsftpd ftp "$srv" NO
ftp_port=$vsftpd_port
start_vsftpd ftps "$srv" YES
ftps_port=$vsftpd_port
start_sshd "$srv"
write_netrc
# lftp finds its login in a netrc file of its own: the runner reads ~/.netrc too.
mkdir "$work/lftp"
cp "$work/netrc" "$work/lftp/.netrc"
cat >"$app/VelundZUL.conf" <<CONF
CA_FILE = $work/ca.pem
KNOWN_HOSTS = $work/home/.ssh/known_hosts
SSH_KEY = $work/home/.ssh/id_ed25519
CONF
export HOME=$work/home RACE_ERR=$work/race.err

echo "making a ${size_mb} MiB file, $small small files and $events events..."
head -c $((size_mb * 1048576)) /dev/urandom >"$work/local/big.bin"
cp "$work/local/big.bin" "$srv/big.bin"
for i in $(seq -w 1 "$small"); do head -c $((1024 + 10#$i * 7)) /dev/urandom >"$work/local/small/f$i.dat"; done
chown -R $bench_user "$srv"

q() { printf '%q' "$1"; }
runner() { echo "$(q "$app/VelundZUL") $(q "true|$app/ZUL/$1.zul|     ")"; }
qh="$(q "$build/bin/qorvhost") --data $(q "$work/data") --plugin $(q "$app/libzul.so")"
login="user $bench_user $bench_pass"
open_ftp="open 127.0.0.1 $ftp_port" open_ftps="open ftpes://127.0.0.1 $ftps_port"
open_sftp="open sftp://127.0.0.1 $ssh_port" login_sftp="user $bench_user \"\""
for p in ftp ftps sftp; do
    o=open_$p l=login
    [ $p = sftp ] && l=login_sftp
    echo "put $work/local/big.bin up.bin" | runner_script "$app/ZUL/${p}_up.zul" "${!o}" "${!l}"
    echo "get big.bin $work/down/big.bin" | runner_script "$app/ZUL/${p}_down.zul" "${!o}" "${!l}"
done
(cd "$work/local/small" && for f in *.dat; do echo "put $work/local/small/$f s/$f"; done) |
    runner_script "$app/ZUL/small.zul" "$open_ftp" "$login"
echo "get big.bin $work/down/big.bin" >"$work/sftp_down.batch"
echo "put $work/local/big.bin up.bin" >"$work/sftp_up.batch"

for i in $(seq 1 "$events"); do
    id=$(printf 'C%04d' "$i")
    printf 'content of %s\r\n' "$id" >"$srv/$id.txt"
    printf 'open 127.0.0.1 %s\r\n%s\r\nbinary\r\nget %s.txt %s/down/%s.txt\r\nquit\r\n' \
        "$ftp_port" "$login" "$id" "$work" "$id" >"$work/scripts/$id.zul"
    eval "$qh event put $id" >/dev/null
    eval "$qh script import $id $(q "$work/scripts/$id.zul")" >/dev/null
done
chown -R $bench_user "$srv"

ftp="ftp://127.0.0.1:$ftp_port" ftps="ftp://127.0.0.1:$ftps_port" sftp="sftp://127.0.0.1:$ssh_port"
curl="curl -sS --netrc-file $(q "$work/netrc")"
# TLS 1.2 on both sides: vsftpd loses the end of uploads over TLS 1.3, and the runner uses 1.2 by default.
curl_tls="$curl --ssl-reqd --tls-max 1.2 --cacert $(q "$work/ca.pem")"
curl_ssh="curl -sS --user $bench_user: --key $(q "$HOME/.ssh/id_ed25519") --pubkey $(q "$HOME/.ssh/id_ed25519.pub")"
sftp_b="sftp -q -P $ssh_port -i $(q "$HOME/.ssh/id_ed25519") -o UserKnownHostsFile=$(q "$HOME/.ssh/known_hosts") -o BatchMode=yes -b"
lftp="HOME=$work/lftp lftp -p $ftp_port -e"
big=$work/local/big.bin down=$work/down/big.bin
up_before="rm -f $srv/up.bin" up_check="cmp -s $big $srv/up.bin"
down_before="rm -f $down" down_check="cmp -s $big $down"
nosync="ZUL_RUNNER_SYNC=0"

rows=()
wanted() { [[ -z "${BENCH_ONLY:-}" ]] || grep -q -- "$BENCH_ONLY" <<<"$1"; }
# row NAME BEFORE CHECK RUNNER PEER [FANOUT]
row() {
    local name=$1 before=$2 check=$3 out
    wanted "$name" || return 0
    echo "$name..." >&2
    out=$(/usr/bin/python3 "$here/lib/race.py" --reps "$reps" --fanout "${6:-1}" --before "$before" \
        --check "$check" "$4" "$5") || { echo "the row \"$name\" failed" >&2; exit 1; }
    rows+=("$name|$(echo $out)")
}

row "FTP download (SYNC=0) / curl -o" "$down_before" "$down_check" "$nosync $(runner ftp_down)" "$curl $ftp/big.bin -o $down"
row "FTP upload / curl -T" "$up_before" "$up_check" "$(runner ftp_up)" "$curl -T $big $ftp/up.bin"
row "FTPS download, TLS 1.2 / curl" "$down_before" "$down_check" "$nosync $(runner ftps_down)" \
    "$curl_tls $ftps/big.bin -o $down"
row "FTPS upload, TLS 1.2 / curl" "$up_before" "$up_check" "$(runner ftps_up)" "$curl_tls -T $big $ftps/up.bin"
row "SFTP download / sftp -b" "$down_before" "$down_check" "$nosync $(runner sftp_down)" \
    "$sftp_b $work/sftp_down.batch $bench_user@127.0.0.1"
row "SFTP upload / sftp -b" "$up_before" "$up_check" "$(runner sftp_up)" \
    "$sftp_b $work/sftp_up.batch $bench_user@127.0.0.1"
row "SFTP download / curl sftp://" "$down_before" "$down_check" "$nosync $(runner sftp_down)" \
    "$curl_ssh $sftp/~/big.bin -o $down"
row "durable FTP download / curl+sync" "$down_before" "$down_check" "$(runner ftp_down)" \
    "sh -c '$curl $ftp/big.bin -o $down && sync $down'"
# The small files' rows take half a second a round and spread by a sixth between rounds: three times the rounds.
small_reps=$((reps * 3))
reps=$small_reps row "$small small files / lftp mput" "rm -rf $srv/s; mkdir $srv/s; chown $bench_user $srv/s" \
    "[ \$(ls $srv/s | wc -l) = $small ]" "$(runner small)" "$lftp 'set cmd:fail-exit yes; cd s; mput $work/local/small/*.dat; quit' 127.0.0.1"
[ -z "${BENCH_BASELINE:-}" ] || reps=$small_reps row "$small small files / baseline runner" "rm -rf $srv/s; mkdir $srv/s; chown $bench_user $srv/s" \
    "[ \$(ls $srv/s | wc -l) = $small ]" "$(runner small)" "$(runner small | sed "s|/VelundZUL |/VelundZUL.baseline |")"
# The same without the size check, which costs one round trip a file that lftp does not make.
reps=$small_reps row "$small small files, VERIFY off / lftp" "rm -rf $srv/s; mkdir $srv/s; chown $bench_user $srv/s" \
    "[ \$(ls $srv/s | wc -l) = $small ]" "ZUL_RUNNER_VERIFY=off $(runner small)" \
    "$lftp 'set cmd:fail-exit yes; cd s; mput $work/local/small/*.dat; quit' 127.0.0.1"
row "one event, qorvhost run / curl" "rm -f $work/down/C0001.txt" "cmp -s $srv/C0001.txt $work/down/C0001.txt" \
    "$qh run C0001" "$curl $ftp/C0001.txt -o $work/down/C0001.txt"
row "$events events at once / $events curl" "rm -f $work/down/C*.txt" \
    "for f in $srv/C*.txt; do cmp -s \$f $work/down/\${f##*/} || exit 1; done" \
    "$qh run C{i4}" "$curl $ftp/C{i4}.txt -o $work/down/C{i4}.txt" "$events"
bad=$(grep -vc '"exit":0,' "$app/Log/runs.jsonl" || true)
[ "$bad" = 0 ] || { echo "$bad runs did not succeed" >&2; grep -v '"exit":0,' "$app/Log/runs.jsonl" >&2; exit 1; }

prep_ms="" rss=""
if wanted "run preparation"; then
    echo "run preparation / cp..." >&2
    prep=$("$build/bench/bench_check_transfers")
    prep_ms=$(sed -n 's/^CheckTransfers: \([0-9.]*\) ms.*/\1/p' <<<"$prep")
    cp_ms=$(sed -n 's/^cp of the same bytes: \([0-9.]*\) ms.*/\1/p' <<<"$prep")
    cp_sync_ms=$(sed -n "s/^cp and fsync of the register's copy: \\([0-9.]*\\) ms.*/\\1/p" <<<"$prep")
fi

ratio() { printf '%.2f' "$(echo "$1 / $2" | bc -l)"; }
echo
echo "$(nproc) processors, load average $(cut -d' ' -f1-3 /proc/loadavg); ${size_mb} MiB in $base; medians of $reps" \
    "($small_reps for the small files)"
printf '%-36s %9s %9s %6s %8s %8s %6s\n' "row / peer" runner peer ratio "cpu run" "cpu peer" ratio
for r in "${rows[@]}"; do
    IFS='|' read -r name vals <<<"$r"
    read -r rw rc rr pw pc pr <<<"$vals"
    printf '%-36s %9.3f %9.3f %6s %8.3f %8.3f %6s\n' "$name" "$rw" "$pw" "$(ratio "$rw" "$pw")" "$rc" "$pc" \
        "$(ratio "$rc" "$pc")"
    case $name in *download*|*upload*) if ((rr > ${rss:-0})); then rss=$rr; fi ;; esac
done
[ -z "$prep_ms" ] ||
{
    printf '%-36s %9.3f %9.3f %6s\n' "run preparation / cp (ms)" "$prep_ms" "$cp_ms" "$(ratio "$prep_ms" "$cp_ms")"
    printf '%-36s %9.3f %9.3f %6s\n' "run preparation / cp + fsync (ms)" "$prep_ms" "$cp_sync_ms" \
        "$(ratio "$prep_ms" "$cp_sync_ms")"
}
[ -z "$rss" ] || echo "runner peak RSS, the largest of the ${size_mb} MiB transfers: $((rss / 1024)) MiB"
echo "(seconds; CPU is user + system of every process a command started. Below 1: the runner was faster.)"
