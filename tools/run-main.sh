#!/usr/bin/env bash
# The main job: installs what is missing, builds what it runs, then runs one FTP client
# event for real on loopback: a loopback FTP server in a temporary folder, an
# event whose script sends one file and receives another, `qorvhost run`, and
# a look at where the files went, the receipt register and the transcript.
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
install_missing
# Only what the job runs: the host (which brings the plug-in and the samples),
# the runner and the reachability library; no tests.
build_preset dev qorvhost VelundZUL zul_ping32

BIN="$ROOT/build/dev/bin"
APP="$ROOT/build/dev/zul"
WORK="$(mktemp -d /tmp/zul-main.XXXXXX)"
mkdir -p "$WORK/server" "$WORK/out" "$WORK/in"
SERVER_PID=""
cleanup() { [ -n "$SERVER_PID" ] && kill "$SERVER_PID" 2>/dev/null; }
trap cleanup EXIT

# A partner on loopback only.
PASSWORD="pw-$RANDOM$RANDOM"
FTP_SERVER_PASSWORD="$PASSWORD" /usr/bin/python3 "$ROOT/tests/runner/ftpserver.py" --root "$WORK/server" --user demo \
    > "$WORK/port" 2> "$WORK/server.log" &
SERVER_PID=$!
for _ in $(seq 100); do [ -s "$WORK/port" ] && break; sleep 0.1; done
PORT="$(head -n 1 "$WORK/port")"
[ -n "$PORT" ] || { echo "the loopback FTP server did not start"; cat "$WORK/server.log"; exit 1; }

printf 'Sent by the main job at %s\r\n' "$(date)" > "$WORK/out/hello.txt"
printf 'Report from the partner\r\n' > "$WORK/server/report.txt"
printf 'open 127.0.0.1 %s\r\nuser demo %s\r\nbinary\r\nput %s hello.txt\r\nget report.txt %s\r\nquit\r\n' \
    "$PORT" "$PASSWORD" "$WORK/out/hello.txt" "$WORK/in/report.txt" > "$WORK/event.zul"

host() { "$BIN/qorvhost" --data "$WORK/data" "$@"; }
ID="$(host event put new --entity MAINJOB --flag2 1 --flag4 1 | cut -f1)"
host script import "$ID" "$WORK/event.zul"
echo "== event $ID, its saved script as the editor shows it:"
host script show "$ID" | sed "s/$PASSWORD/********/"

RUNS="$APP/Log/runs.jsonl"
runs() { if [ -f "$RUNS" ]; then wc -l < "$RUNS"; else echo 0; fi; }
before=$(runs)
echo
host run "$ID"
for _ in $(seq 600); do
    [ "$(runs)" -gt "$before" ] && break
    sleep 0.1
done

echo "== run log:"
host log | tail -n 2
echo "== runner's outcome:"
tail -n 1 "$RUNS"
echo "== sent to the partner: $WORK/server/hello.txt"
cat "$WORK/server/hello.txt" 2>/dev/null || echo "(missing)"
echo "== received and delivered: $WORK/in/report.txt"
cat "$WORK/in/report.txt" 2>/dev/null || echo "(missing)"
echo "== receipt register lines of $ID (the record of a delivered file is removed):"
grep "^$ID" "$APP/Rcvdchkr.txt" || echo "(none left: every received file was delivered)"
echo "== transcript, last lines:"
tail -n 8 "$(ls -t "$APP"/Log/"$ID"_*.log | head -n 1)"
cmp -s "$WORK/server/report.txt" "$WORK/in/report.txt" && cmp -s "$WORK/out/hello.txt" "$WORK/server/hello.txt"
