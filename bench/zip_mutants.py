#!/usr/bin/env python3
"""Mutant comparison of `vantrel-zip test` against `unzip -t`.

Makes a few archives (Python's zipfile and Info-ZIP zip, stored and deflated
entries, a comment, a directory entry), derives mutants from them (flipped
bytes, overwritten fields, inserted, deleted and truncated ranges), tests
every mutant with both tools and counts:

  * how many mutants each tool calls OK (exit status 0);
  * for how many ours says OK while testing fewer file entries than the
    archive it came from holds (the goal is none: a partial reading must
    never pass as a whole one);
  * the mutants on which the two disagree.

usage: bench/zip_mutants.py [--count 3000] [--seed 1] [--tool build/vantrel-zip]
"""
import argparse
import os
import random
import re
import shutil
import subprocess
import tempfile
import zipfile


def make_sources(work):
    rnd = random.Random(7)
    sources = []
    # Python: 40 deflated text entries and a few stored binaries.
    path = os.path.join(work, "py.zip")
    with zipfile.ZipFile(path, "w") as z:
        for i in range(40):
            z.writestr("dir/f%02d.txt" % i, ("line %d of a text file\n" % i) * (20 + i * 7),
                       zipfile.ZIP_DEFLATED)
        for i in range(4):
            z.writestr("bin%d.dat" % i, bytes(rnd.getrandbits(8) for _ in range(3000)),
                       zipfile.ZIP_STORED)
        z.comment = b"an archive comment"
    sources.append(path)
    # Info-ZIP zip: a small tree with a directory entry and extra fields.
    tree = os.path.join(work, "tree")
    os.makedirs(os.path.join(tree, "sub"))
    for i in range(12):
        with open(os.path.join(tree, "sub" if i % 2 else "", "t%d.txt" % i), "w") as f:
            f.write("contents of %d\n" % i * (i + 3))
    path = os.path.join(work, "infozip.zip")
    subprocess.run(["zip", "-qr", path, "."], cwd=tree, check=True)
    sources.append(path)
    # Few large entries: mutations land in data more often.
    path = os.path.join(work, "big.zip")
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for i in range(3):
            z.writestr("big%d.txt" % i, ("%d " % i) * 20000)
    sources.append(path)
    return sources


def file_entries(path):
    with zipfile.ZipFile(path) as z:
        return sum(1 for i in z.infolist() if not i.is_dir())


def mutate(data, rnd):
    b = bytearray(data)
    kind = rnd.choice(["flip", "flip", "field", "insert", "delete", "truncate", "zero"])
    pos = rnd.randrange(len(b))
    if kind == "flip":
        for _ in range(rnd.randint(1, 3)):
            b[rnd.randrange(len(b))] ^= 1 << rnd.randrange(8)
    elif kind == "field":
        # A 2- or 4-byte field near a signature gets a random value.
        sigs = [m.start() for m in re.finditer(b"PK[\x01\x03\x05]", bytes(b))]
        at = rnd.choice(sigs) + rnd.randrange(4, 46) if sigs else pos
        width = rnd.choice([2, 4])
        for k in range(width):
            if at + k < len(b):
                b[at + k] = rnd.getrandbits(8)
    elif kind == "insert":
        b[pos:pos] = bytes(rnd.getrandbits(8) for _ in range(rnd.randint(1, 64)))
    elif kind == "delete":
        del b[pos:pos + rnd.randint(1, 64)]
    elif kind == "truncate":
        del b[pos:]
    else:
        b[pos:pos + rnd.randint(1, 32)] = bytes(min(32, len(b) - pos))
    return kind, bytes(b)


def run(cmd):
    try:
        p = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=20)
        return p.returncode, p.stdout.decode("utf-8", "replace")
    except subprocess.TimeoutExpired:
        return -1, ""


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--count", type=int, default=3000)
    ap.add_argument("--seed", type=int, default=1)
    here = os.path.dirname(os.path.abspath(__file__))
    ap.add_argument("--tool", default=os.path.join(here, "..", "build", "vantrel-zip"))
    ap.add_argument("--keep", help="copy the mutants ours passes short into this directory")
    args = ap.parse_args()

    work = tempfile.mkdtemp(prefix="zip-mutants-")
    try:
        sources = make_sources(work)
        originals = [(open(p, "rb").read(), file_entries(p)) for p in sources]
        rnd = random.Random(args.seed)
        ours_ok = unzip_ok = short = ours_only = unzip_only = timeouts = 0
        kinds = {}
        mutant = os.path.join(work, "m.zip")
        for n in range(args.count):
            data, entries = originals[n % len(originals)]
            kind, bytes_ = mutate(data, rnd)
            with open(mutant, "wb") as f:
                f.write(bytes_)
            rc, out = run([args.tool, "test", mutant])
            urc, _ = run(["unzip", "-tqq", mutant])
            timeouts += rc == -1
            ok = rc == 0
            ours_ok += ok
            unzip_ok += urc == 0
            ours_only += ok and urc != 0
            unzip_only += urc == 0 and not ok
            m = re.search(r"(\d+) entries OK", out)
            if ok and m and int(m.group(1)) < entries:
                short += 1
                kinds[kind] = kinds.get(kind, 0) + 1
                if args.keep:
                    os.makedirs(args.keep, exist_ok=True)
                    shutil.copy(mutant, os.path.join(args.keep, "short%04d.zip" % n))
        print("mutants:                                   %d (seed %d, %d source archives)"
              % (args.count, args.seed, len(sources)))
        print("vantrel-zip test says OK:                  %d" % ours_ok)
        print("unzip -t says OK:                          %d" % unzip_ok)
        print("OK from ours with fewer entries than held: %d %s" % (short, kinds or ""))
        print("OK from ours only / from unzip only:       %d / %d" % (ours_only, unzip_only))
        print("timeouts:                                  %d" % timeouts)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
