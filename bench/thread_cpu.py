#!/usr/bin/env python3
"""thread_cpu.py - the processor time of each thread of a command.

    thread_cpu.py COMMAND [ARG...]

Runs COMMAND and samples /proc/PID/task/*/stat every 2 ms, keeping the last
user + system time seen for each thread; prints, on stderr, the wall time,
the total and the busiest thread's time in seconds ("wall W threads TOTAL
busiest MOST"). On a
machine shared with other work, the busiest thread's time stands for the
wall time an idle machine would give a run whose threads overlap (the tick
is 10 ms: read the figures of short runs with that in mind).
"""
import os
import subprocess
import sys
import time

TICK = os.sysconf("SC_CLK_TCK")


def sample(pid, seen):
    try:
        tids = os.listdir(f"/proc/{pid}/task")
    except OSError:
        return
    for tid in tids:
        try:
            with open(f"/proc/{pid}/task/{tid}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        seen[tid] = (int(fields[11]) + int(fields[12])) / TICK


def main():
    start = time.monotonic()
    proc = subprocess.Popen(sys.argv[1:], stdout=subprocess.DEVNULL)
    seen = {}
    while proc.poll() is None:
        sample(proc.pid, seen)
        time.sleep(0.002)
    if proc.returncode != 0:
        sys.exit(proc.returncode)
    wall = time.monotonic() - start
    print(f"wall {wall:.3f} threads {sum(seen.values()):.3f} busiest {max(seen.values(), default=0):.3f}", file=sys.stderr)


if __name__ == "__main__":
    main()
