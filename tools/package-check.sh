#!/usr/bin/env bash
# Installs dist/zul_*_amd64.deb on this machine (root), runs one FTP client
# event with the installed programs against a loopback FTP server, shows the
# man page, then purges the package and checks that none of its files, its
# /var/lib/zul and its group are left. Run tools/package.sh first.
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
/usr/bin/python3 "$ROOT/tests/runner/ftpserver.py" --root "$WORK/server" --user demo --password "$PASSWORD" \
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
[ "$left" -eq 0 ] && echo "nothing of the package is left"
exit "$left"
