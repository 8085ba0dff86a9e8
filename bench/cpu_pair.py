#!/usr/bin/env python3
"""cpu_pair.py - best CPU time of two commands, run alternately.

    cpu_pair.py RUNS NAME OURS THEIRS [PEER]

Runs OURS and THEIRS (shell commands, output discarded) RUNS times each,
alternating, and prints the best CPU time (user + system of the child) of
each and the ratio THEIRS/OURS (above 1: ours is faster). PEER names the
other program in the line (default "peer"). CPU time is the steadier measure
on a machine shared with other work.
"""
import os
import subprocess
import sys


def cpu(cmd):
    before = os.times()
    subprocess.run(cmd, shell=True, check=True, stdout=subprocess.DEVNULL)
    after = os.times()
    return (after.children_user - before.children_user) + (after.children_system - before.children_system)


def main():
    runs, name, ours, theirs = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
    peer = sys.argv[5] if len(sys.argv) > 5 else "peer"
    best = [None, None]
    for _ in range(runs):
        for i, cmd in enumerate((ours, theirs)):
            t = cpu(cmd)
            best[i] = t if best[i] is None or t < best[i] else best[i]
    print(f"{name:<40} vantrel {best[0]:7.3f} s   {peer} {best[1]:7.3f} s   {peer}/vantrel {best[1] / best[0]:5.2f}")


if __name__ == "__main__":
    main()
