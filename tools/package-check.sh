#!/usr/bin/env bash
# Installs dist/zul_*_amd64.deb on this machine (root), runs one FTP client
# event with the installed programs against a loopback FTP server, schedules
# another a minute ahead and sees its timer run it (where systemd runs; else
# checks the crontab line and runs its command), shows the man page, then
# purges the package and checks that none of its files, its /var/lib/zul, its
# timers, its account and its group are left. Run tools/package.sh first.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
[ "$(id -u)" -eq 0 ] || { echo "run as root: it installs and purges the package"; exit 1; }
deb="$(ls "$ROOT"/dist/zul_*_amd64.deb)"
if dpkg-query -W -f='${Status}' zul 2>/dev/null | grep -q 'ok installed'; then
    echo "zul is installed already; purge it first (dpkg --purge zul)"; exit 1
fi

WORK="$(mktemp -d /tmp/zul-package-check.XXXXXX)"
mkdir -p "$WORK/server" "$WORK/out" "$WORK/in"
SERVER_PID=""
USER_NAME="zulcheck$$"
cleanup() {
    [ -n "$SERVER_PID" ] && kill "$SERVER_PID" 2>/dev/null
    getent passwd "$USER_NAME" >/dev/null && userdel "$USER_NAME"
    # A check that failed half-way still leaves the machine as it found it.
    dpkg-query -W -f='${Status}' zul 2>/dev/null | grep -q 'ok installed' && dpkg --purge zul >/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT

echo "== dpkg -i ${deb##*/}"
dpkg -i "$deb"
dpkg-deb --contents "$deb" | awk '{print $6}' | sed 's|^\./|/|; s|/$||' | grep -v '^$' > "$WORK/contents"
ls -ld /usr/lib/zul/ZUL /usr/lib/zul/Rcvdchkr.txt /var/lib/zul /var/lib/zul/ZUL /var/lib/zul/Common
getent group zul

echo "== a run with the installed programs"
PASSWORD="pw-$RANDOM$RANDOM"
FTP_SERVER_PASSWORD="$PASSWORD" /usr/bin/python3 "$ROOT/tests/runner/ftpserver.py" --root "$WORK/server" --user demo \
    > "$WORK/port" 2> "$WORK/server.log" &
SERVER_PID=$!
for _ in $(seq 100); do [ -s "$WORK/port" ] && break; sleep 0.1; done
PORT="$(head -n 1 "$WORK/port")"
printf 'Sent through the package at %s\r\n' "$(date)" > "$WORK/out/hello.txt"
printf 'Report from the partner\r\n' > "$WORK/server/report.txt"
printf 'open 127.0.0.1 %s\r\nuser demo %s\r\nbinary\r\nput %s hello.txt\r\nget report.txt %s\r\nquit\r\n' \
    "$PORT" "$PASSWORD" "$WORK/out/hello.txt" "$WORK/in/report.txt" > "$WORK/event.zul"
host() { qorvhost --data "$WORK/data" "$@"; }
host info
ID="$(host event put new --entity PACKAGE --flag2 1 --flag4 1 | cut -f1)"
host script import "$ID" "$WORK/event.zul"
RUNS=/usr/lib/zul/Log/runs.jsonl
runs() { if [ -f "$RUNS" ]; then wc -l < "$RUNS"; else echo 0; fi; }
before=$(runs)
host run "$ID"
for _ in $(seq 600); do [ "$(runs)" -gt "$before" ] && break; sleep 0.1; done
tail -n 1 "$RUNS"
cmp "$WORK/server/report.txt" "$WORK/in/report.txt"
cmp "$WORK/out/hello.txt" "$WORK/server/hello.txt"
echo "delivered: $WORK/in/report.txt, sent: $WORK/server/hello.txt"
ls -l /var/lib/zul /var/lib/zul/ZUL /var/lib/zul/Junction | sed 's/^/  /'

echo "== a scheduled run, a minute ahead, as the account zul"
# The service's /tmp is its own (PrivateTmp): the file to send lies under /var/lib/zul.
TIMED=/var/lib/zul/package-check
mkdir -p "$TIMED"
printf 'Sent on schedule\r\n' > "$TIMED/timed.txt"
printf 'open 127.0.0.1 %s\r\nuser demo %s\r\nput %s timed.txt\r\nquit\r\n' \
    "$PORT" "$PASSWORD" "$TIMED/timed.txt" > "$TIMED/timed.zul"
chown -R zul:zul "$TIMED"
getent passwd zul
as_zul() { runuser -u zul -- env HOME=/var/lib/zul qorvhost "$@"; }
as_zul event put T0001 --entity TIMED >/dev/null
as_zul script import T0001 "$TIMED/timed.zul"
WHEN="$(date -d '+1 minute' '+*-*-* %H:%M:00')"
timed_runs() { grep -c '"event":"T0001"' "$RUNS" 2>/dev/null || true; }
if [ -d /run/systemd/system ]; then
    qorvhost schedule T0001 "$WHEN"
    qorvhost schedule
    systemctl list-timers --no-pager 'zul-run@*'
    for _ in $(seq 180); do [ "$(timed_runs)" -gt 0 ] && break; sleep 1; done
    [ "$(timed_runs)" -gt 0 ] || { echo "the timer did not run T0001"; systemctl status --no-pager zul-run@T0001.service || true; exit 1; }
    for _ in $(seq 60); do systemctl is-active --quiet zul-run@T0001.service || break; sleep 1; done
    [ "$(systemctl show -P Result zul-run@T0001.service)" = success ] || { echo "zul-run@T0001.service failed"; exit 1; }
    journalctl --no-pager -t VelundZUL -n 3
    qorvhost schedule T0001 --off
else
    echo "systemd is not running here (no /run/systemd/system): checking the crontab line instead"
    rc=0
    line="$(qorvhost schedule T0001 "$WHEN" 2> "$WORK/schedule.err")" || rc=$?
    cat "$WORK/schedule.err"
    echo "$line"
    [ "$rc" -eq 1 ] && grep -q 'systemd is not running here' "$WORK/schedule.err" \
        || { echo "schedule without systemd: status $rc"; exit 1; }
    minute="$(date -d '+1 minute' '+%M')"; hour="$(date -d '+1 minute' '+%H')"
    [ "$line" = "$((10#$minute)) $((10#$hour)) * * * /usr/bin/qorvhost run T0001 --wait" ] \
        || { echo "unexpected crontab line: $line"; exit 1; }
    # What cron would start, as the account zul: it ends with the runner's status.
    runuser -u zul -- env HOME=/var/lib/zul sh -c "${line#* * * * * }"
    [ "$(timed_runs)" -gt 0 ] || { echo "the crontab line's command did not run T0001"; exit 1; }
fi
tail -n 1 "$RUNS"
cmp "$TIMED/timed.txt" "$WORK/server/timed.txt"
qorvhost metrics | grep 'event="T0001"'

echo "== a run by a member of the zul group, not root"
useradd --no-create-home --home-dir "$WORK/user" --groups zul --shell /usr/sbin/nologin "$USER_NAME"
chmod 711 "$WORK"
mkdir -p "$WORK/user/out" "$WORK/user/in"
printf 'Sent by %s\r\n' "$USER_NAME" > "$WORK/user/out/user.txt"
printf 'open 127.0.0.1 %s\r\nuser demo %s\r\nput %s user.txt\r\nget report.txt %s\r\nquit\r\n' \
    "$PORT" "$PASSWORD" "$WORK/user/out/user.txt" "$WORK/user/in/report.txt" > "$WORK/user/event.zul"
chown -R "$USER_NAME" "$WORK/user"
as_user() { runuser -u "$USER_NAME" -- env HOME="$WORK/user" qorvhost --data "$WORK/user/data" "$@"; }
# Every user's events share the application folder's ZUL folder, while each
# data folder counts its own ids: this user takes an id of its own.
UID_EVENT=U0001
as_user event put "$UID_EVENT" --entity USER --flag2 1 >/dev/null
as_user script import "$UID_EVENT" "$WORK/user/event.zul"
before=$(runs)
as_user run "$UID_EVENT"
for _ in $(seq 600); do [ "$(runs)" -gt "$before" ] && break; sleep 0.1; done
tail -n 1 "$RUNS"
cmp "$WORK/server/report.txt" "$WORK/user/in/report.txt"
cmp "$WORK/user/out/user.txt" "$WORK/server/user.txt"
ls -l /var/lib/zul/Common/Rcvdchkr.txt "/var/lib/zul/ZUL/${UID_EVENT}ZUL.zul" "$WORK/user/in/report.txt" | sed 's/^/  /'
userdel "$USER_NAME"

echo "== the desktop entry's command opens the events window (offscreen)"
exec_line="$(sed -n 's/^Exec=//p' /usr/share/applications/qorvhost.desktop)"
rc=0
mkdir -m 700 "$WORK/run"
XDG_RUNTIME_DIR="$WORK/run" QT_QPA_PLATFORM=offscreen QORVHOST_DATA="$WORK/data" timeout 3 $exec_line || rc=$?
[ "$rc" -eq 124 ] || { echo "'$exec_line' ended with status $rc instead of showing its window"; exit 1; }
echo "'$exec_line': window still up after 3 s"

echo "== man qorvhost"
MANWIDTH=80 man qorvhost 2>/dev/null | head -n 12
MANWIDTH=80 man VelundZUL 2>/dev/null | head -n 3

echo "== dpkg --purge zul"
dpkg --purge zul >/dev/null
left=0
while read -r f; do
    # Folders the package shares with others (/usr, /usr/share/man, ...) stay.
    if [ -e "$f" ] || [ -L "$f" ]; then
        [ -d "$f" ] && [ ! -L "$f" ] && dpkg -S "$f" >/dev/null 2>&1 && continue
        [ -d "$f" ] && [ ! -L "$f" ] && [ -n "$(ls -A "$f")" ] && continue
        echo "left behind: $f"; left=1
    fi
done < "$WORK/contents"
for f in /var/lib/zul /etc/zul /usr/lib/zul /usr/share/zul /usr/share/doc/zul; do
    [ -e "$f" ] && { echo "left behind: $f"; left=1; }
done
getent group zul && { echo "left behind: group zul"; left=1; }
getent passwd zul && { echo "left behind: account zul"; left=1; }
ls /etc/systemd/system/zul-run@* 2>/dev/null && { echo "left behind: timers"; left=1; }
[ "$left" -eq 0 ] && echo "nothing of the package is left"
exit "$left"
