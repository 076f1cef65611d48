#!/bin/bash
# Times `qorvhost history ID --limit 20` over a Log/runs.jsonl of 100,000 runs
# (and a host log with a run-log line for each of them) against `grep -c ID`
# over the same file, and prints the ratio of the medians. Two starts are
# measured besides: `qorvhost --version`, what the history pays before it reads
# (qorvhost answers both without Qt), and `qorvhost log` on an empty data folder,
# what a command costs that needs the host library and its Qt.
#
#   bench/history/bench_history.sh [path/to/qorvhost]
#
# BENCH_RUNS (100000), BENCH_EVENTS (100) and BENCH_REPS (21) change the load;
# BENCH_KEEP=1 leaves the temporary folder for a closer look.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
host=${1:-${ZUL_BIN_DIR:-$source_dir/build/dev/bin}/qorvhost}
plugin=${ZUL_APP_BUILD_DIR:-$(dirname "$host")/../zul}/libzul.so
runs=${BENCH_RUNS:-100000}
events=${BENCH_EVENTS:-100}
reps=${BENCH_REPS:-21}

[ -x "$host" ] || { echo "no qorvhost at $host (build the qorvhost target or pass its path)" >&2; exit 2; }
[ -f "$plugin" ] || { echo "no plug-in at $plugin" >&2; exit 2; }

work=$(mktemp -d /tmp/zul-bench-history.XXXXXX)
trap '[ -n "${BENCH_KEEP:-}" ] || rm -rf "$work"' EXIT
mkdir -p "$work/app/Log" "$work/data" "$work/empty"
cp "$plugin" "$work/app/libzul.so"

/usr/bin/python3 - "$work" "$runs" "$events" <<'PY'
import json, random, sys, time
work, runs, events = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
random.seed(7)
t = time.time() - runs * 30
with open(f"{work}/app/Log/runs.jsonl", "w") as r, open(f"{work}/data/messages.jsonl", "w") as m:
    for i in range(runs):
        t += random.uniform(20, 40)
        ev = "E%04d" % random.randint(1, events)
        start = time.strftime("%Y-%m-%dT%H:%M:%S", time.localtime(t))
        end = time.strftime("%Y-%m-%dT%H:%M:%S", time.localtime(t + 2))
        # Now and then the partner is silent first: a run that only the host's log knows.
        for silent in ([True] if random.random() < 0.02 else []) + [False]:
            args = [{"type": "bool", "value": False}] + \
                   [{"type": "int16", "value": n} for n in ([4107, 4121, 4122] if silent else [4124, 4125])] + \
                   [{"type": "text", "value": v} for v in ["L", ev, "ZUL", "1", time.strftime("%m/%d/%Y", time.localtime(t)),
                                                          time.strftime("%H:%M:%S", time.localtime(t)), "90", "127.0.0.1"]]
            m.write(json.dumps({"args": args, "at": start, "kind": "L",
                                "message": "The partner computer answered.", "numbers": [a["value"] for a in args[1:-8]]},
                               separators=(",", ":")) + "\n")
        ok = random.random() < 0.9
        r.write(json.dumps({"event": ev, "start": start + ".123+0000", "end": end + ".456+0000",
                            "exit": 0 if ok else 3, "outcome": "success" if ok else "login refused: 530 Login incorrect.",
                            "files_up": 1, "bytes_up": random.randint(1, 10**7), "files_down": 2,
                            "bytes_down": random.randint(1, 10**7),
                            "transcript": f"/var/lib/zul/Log/{ev}_{time.strftime('%Y%m%d-%H%M%S', time.localtime(t))}_{1000 + i % 30000}.log"},
                           separators=(",", ":")) + "\n")
PY

id=E0042
lines=$(wc -l <"$work/app/Log/runs.jsonl")
echo "runs.jsonl: $lines runs, $(du -h "$work/app/Log/runs.jsonl" | cut -f1); messages.jsonl: $(du -h "$work/data/messages.jsonl" | cut -f1)"
"$host" --data "$work/data" --plugin "$work/app/libzul.so" history $id --limit 20 >"$work/out"
[ "$(wc -l <"$work/out")" -eq 20 ] || { echo "history printed $(wc -l <"$work/out") lines, not 20" >&2; exit 1; }

# Interleaved, so both see the same machine load; medians of each.
/usr/bin/python3 - "$reps" "$host" "$work" "$id" <<'PY'
import statistics, subprocess, sys, time
reps, host, work, ev = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
grep = ["grep", "-c", ev, f"{work}/app/Log/runs.jsonl"]
hist = [host, "--data", f"{work}/data", "--plugin", f"{work}/app/libzul.so", "history", ev, "--limit", "20"]
start = [host, "--version"]
qt = [host, "--data", f"{work}/empty", "log"]
def once(cmd):
    s = time.perf_counter()
    subprocess.run(cmd, stdout=subprocess.DEVNULL, check=True)
    return time.perf_counter() - s
g, h, s, q = [], [], [], []
for _ in range(reps):
    g.append(once(grep))
    h.append(once(hist))
    s.append(once(start))
    q.append(once(qt))
gm, hm, sm, qm = (statistics.median(x) for x in (g, h, s, q))
print(f"grep -c {ev}:                      {gm * 1000:7.1f} ms (median of {reps})")
print(f"qorvhost history {ev} --limit 20:  {hm * 1000:7.1f} ms")
print(f"qorvhost start alone (--version):   {sm * 1000:7.1f} ms")
print(f"host library start (log, empty):    {qm * 1000:7.1f} ms")
print(f"ratio history / grep -c: {hm / gm:.2f} (target <= 3)")
print(f"ratio (history - start) / grep -c: {max(hm - sm, 0) / gm:.2f}")
PY
