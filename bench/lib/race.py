#!/usr/bin/python3
"""Races commands against each other, taking turns (the first to go swaps each
round) so that a change in the machine's load reaches them alike.

    race.py --reps N [--warmup N] [--fanout N] [--before SH] [--check SH] CMD [CMD ...]

A CMD is split like a shell line (leading NAME=value words go to its
environment) and started without a shell; with --fanout N it is started N
times at once, "{i}" replaced by 1..N ("{i4}": 0001..). The race waits for every descendant too
(a child subreaper), so a runner that the host leaves behind is timed and
counted. --before and --check run through bash before and after each timing.
Each CMD first runs --warmup times (1) untimed: the first run after the
files are made pays for the page cache and the scheduler settling, whoever
it is.
Prints one line per CMD: median wall seconds, median CPU seconds (user +
system of it and all its descendants), the largest peak RSS in KiB. With
RACE_SAMPLES=FILE every round's wall time is appended to FILE as well.
"""
import argparse, ctypes, os, shlex, statistics, subprocess, sys, time

PR_SET_CHILD_SUBREAPER = 36


def parse(cmd, i):
    words = shlex.split(cmd.replace("{i4}", f"{i:04d}").replace("{i}", str(i)))
    env = dict(os.environ)
    while words and "=" in words[0] and not words[0].startswith("/"):
        name, value = words.pop(0).split("=", 1)
        env[name] = value
    return words, env


def once(cmd, fanout):
    start = time.perf_counter()
    for i in range(1, fanout + 1):
        words, env = parse(cmd, i)
        subprocess.Popen(words, env=env, stdout=subprocess.DEVNULL, stderr=open(ERR, "ab"))
    cpu, rss, failed = 0.0, 0, 0
    while True:
        try:
            _, status, usage = os.wait4(-1, 0)
        except ChildProcessError:
            break
        cpu += usage.ru_utime + usage.ru_stime
        rss = max(rss, usage.ru_maxrss)
        failed += status != 0
    return time.perf_counter() - start, cpu, rss, failed


def shell(line):
    if line:
        subprocess.run(["bash", "-c", line], check=True)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--reps", type=int, default=5)
    p.add_argument("--warmup", type=int, default=1)
    p.add_argument("--fanout", type=int, default=1)
    p.add_argument("--before", default="")
    p.add_argument("--check", default="")
    p.add_argument("cmds", nargs="+")
    a = p.parse_args()
    if ctypes.CDLL(None, use_errno=True).prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0:
        sys.exit("race.py: cannot become a child subreaper")
    open(ERR, "w").close()  # only this race's errors are shown
    n = len(a.cmds)
    wall, cpu, rss = [[] for _ in range(n)], [[] for _ in range(n)], [0] * n
    for rep in range(-a.warmup, a.reps):
        order = list(range(n)) if rep % 2 == 0 else list(reversed(range(n)))
        for k in order:
            shell(a.before)
            w, c, r, failed = once(a.cmds[k], a.fanout)
            if failed:
                sys.stderr.write(open(ERR, errors="replace").read())
                sys.exit(f"race.py: {failed} process(es) failed: {a.cmds[k]}")
            shell(a.check)
            if rep < 0:
                continue
            wall[k].append(w)
            cpu[k].append(c)
            rss[k] = max(rss[k], r)
    if os.environ.get("RACE_SAMPLES"):
        with open(os.environ["RACE_SAMPLES"], "a") as f:
            for k in range(n):
                f.write(" ".join(f"{w:.3f}" for w in wall[k]) + " | " + a.cmds[k][:60] + "\n")
    for k in range(n):
        print(f"{statistics.median(wall[k]):.4f} {statistics.median(cpu[k]):.4f} {rss[k]}")


ERR = os.environ.get("RACE_ERR", "/dev/null")
if __name__ == "__main__":
    main()
