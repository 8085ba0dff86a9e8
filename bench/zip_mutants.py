#!/usr/bin/env python3
"""Mutant comparison of `vantrel-zip test` against unzip, 7-Zip and Python.

Makes a few archives (Python's zipfile and Info-ZIP zip, stored and deflated
entries, a comment, a directory entry), derives mutants from them (flipped
bytes, overwritten fields, inserted, deleted and truncated ranges), tests
every mutant with ours and the peers and counts:

  * how many mutants each tool calls OK (exit status 0);
  * crashes (a signal, or a sanitizer's report on stderr) and hangs (more
    than 20 s) of ours;
  * for how many ours says OK while testing fewer file entries than the
    archive it came from holds, or than a peer lists for the mutant (the goal
    is none: a partial reading must never pass as a whole one);
  * the mutants on which ours and unzip disagree;
  * with --repair: how many mutants `vantrel-zip repair` turns into an
    archive that passes `unzip -t` (and 7-Zip's and our own test), how often
    it exits 0 while leaving entries out, and how often a repaired archive
    fails a test.

usage: bench/zip_mutants.py [--count 3000] [--seed 1] [--tool build/vantrel-zip]
                            [--repair] [--keep DIR] [--every N]
Build the tool with the sanitizers for the crash count:
  cmake -S . -B build-asan -G Ninja -DVANTREL_BUILD_GUI=OFF -DVANTREL_BUILD_TESTS=OFF \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=undefined"
  ninja -C build-asan vantrel-zip
"""
import argparse
import os
import random
import re
import shutil
import sys
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
    """(exit status, stdout, stderr); -1 for a hang."""
    try:
        p = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=20)
        return (p.returncode, p.stdout.decode("utf-8", "replace"),
                p.stderr.decode("utf-8", "replace"))
    except subprocess.TimeoutExpired:
        return -1000, "", ""


def crashed(rc, err):
    return (rc < 0 and rc != -1000) or "Sanitizer" in err or "runtime error:" in err


def peer_counts(path):
    """File entries each peer lists for the archive (None: it cannot list it)."""
    counts = {}
    rc, out, _ = run(["unzip", "-Z1", path])
    counts["unzip"] = sum(1 for l in out.splitlines() if l and not l.endswith("/")) if rc in (0, 1) else None
    rc, out, _ = run(["7zz", "l", "-slt", "-ba", path])
    if rc == 0:
        counts["7zz"] = sum(1 for block in out.split("\n\n")
                            if "Path = " in block and "Folder = -" in block)
    try:
        with zipfile.ZipFile(path) as z:
            counts["python"] = sum(1 for i in z.infolist() if not i.is_dir())
    except Exception:
        counts["python"] = None
    return counts


def report(c, kinds, args, done, sources):
    """The figures so far (after `done` mutants)."""
    print("mutants:                                        %d (seed %d, %d source archives)"
          % (done, args.seed, len(sources)))
    print("vantrel-zip test says OK:                       %d" % c["ours_ok"])
    print("unzip -t says OK:                               %d" % c["unzip_ok"])
    print("crashes (signal or sanitizer report):           %d" % c["crashes"])
    print("hangs (over 20 s):                              %d" % c["hangs"])
    print("OK from ours with fewer entries than held:      %d %s" % (c["short"], kinds or ""))
    print("OK from ours with fewer entries than a peer:    %d" % c["short_peer"])
    print("OK from ours only / from unzip only:            %d / %d" % (c["ours_only"], c["unzip_only"]))
    if args.repair:
        print("repair: new archive written:                    %d of %d" % (c["repair_written"], c["repaired"]))
        print("repair: result passes unzip -t / 7zz t / ours:  %d / %d / %d"
              % (c["repair_passes_unzip"], c["repair_passes_7zz"], c["repair_passes_ours"]))
        print("repair: exit 0 with entries left out:           %d" % c["repair_zero_short"])
        print("repair: exit 2 yet a file written:              %d" % c["repair_empty_file"])
        print("repair: crashes / hangs:                        %d / %d"
              % (c["repair_crashes"], c["repair_hangs"]))
    sys.stdout.flush()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--count", type=int, default=3000)
    ap.add_argument("--seed", type=int, default=1)
    here = os.path.dirname(os.path.abspath(__file__))
    ap.add_argument("--tool", default=os.path.join(here, "..", "build", "vantrel-zip"))
    ap.add_argument("--repair", action="store_true", help="also repair every mutant and test the result")
    ap.add_argument("--keep", help="copy the mutants that show a fault into this directory (with the"
                    " repaired archive, NNNN.fixed.zip, where unzip -t refuses it)")
    ap.add_argument("--every", type=int, default=0,
                    help="also print the figures so far after every N mutants (a long run under the sanitizers)")
    args = ap.parse_args()

    work = tempfile.mkdtemp(prefix="zip-mutants-")
    try:
        sources = make_sources(work)
        originals = [(open(p, "rb").read(), file_entries(p)) for p in sources]
        rnd = random.Random(args.seed)
        c = dict(ours_ok=0, unzip_ok=0, short=0, short_peer=0, ours_only=0, unzip_only=0, hangs=0,
                 crashes=0, repaired=0, repair_written=0, repair_passes_unzip=0, repair_passes_7zz=0,
                 repair_passes_ours=0, repair_zero_short=0, repair_crashes=0, repair_hangs=0,
                 repair_empty_file=0)
        kinds = {}
        faults = []
        mutant = os.path.join(work, "m.zip")
        fixed = os.path.join(work, "fixed.zip")

        def keep(n, why):
            faults.append((n, why))
            if args.keep:
                os.makedirs(args.keep, exist_ok=True)
                shutil.copy(mutant, os.path.join(args.keep, "%s%04d.zip" % (why, n)))

        for n in range(args.count):
            if args.every and n and n % args.every == 0:
                print("--- after %d mutants" % n)
                report(c, kinds, args, n, sources)
            data, entries = originals[n % len(originals)]
            kind, bytes_ = mutate(data, rnd)
            with open(mutant, "wb") as f:
                f.write(bytes_)
            rc, out, err = run([args.tool, "test", mutant])
            urc, _, _ = run(["unzip", "-tqq", mutant])
            if rc == -1000:
                c["hangs"] += 1
                keep(n, "hang")
            if crashed(rc, err):
                c["crashes"] += 1
                keep(n, "crash")
            ok = rc == 0
            c["ours_ok"] += ok
            c["unzip_ok"] += urc == 0
            c["ours_only"] += ok and urc != 0
            c["unzip_only"] += urc == 0 and not ok
            m = re.search(r"(\d+) entries OK", out)
            tested = int(m.group(1)) if m else None
            if ok and tested is not None and tested < entries:
                c["short"] += 1
                kinds[kind] = kinds.get(kind, 0) + 1
                keep(n, "short")
            if ok and tested is not None:
                listed = [v for v in peer_counts(mutant).values() if v is not None]
                if listed and tested < max(listed):
                    c["short_peer"] += 1
                    keep(n, "shortpeer")
            if args.repair:
                if os.path.exists(fixed):
                    os.remove(fixed)
                rrc, rout, rerr = run([args.tool, "repair", mutant, fixed])
                c["repaired"] += 1
                if rrc == -1000:
                    c["repair_hangs"] += 1
                    keep(n, "repairhang")
                if crashed(rrc, rerr):
                    c["repair_crashes"] += 1
                    keep(n, "repaircrash")
                m = re.search(r"(\d+) of (\d+) entries written", rout)
                if rrc == 0 and m and int(m.group(1)) < int(m.group(2)):
                    c["repair_zero_short"] += 1
                    keep(n, "repairshort")
                if rrc == 2 and os.path.exists(fixed):
                    c["repair_empty_file"] += 1
                if os.path.exists(fixed):
                    c["repair_written"] += 1
                    passes_unzip = run(["unzip", "-tqq", fixed])[0] == 0
                    c["repair_passes_unzip"] += passes_unzip
                    if not passes_unzip:
                        keep(n, "repairunzip")
                        if args.keep:
                            shutil.copy(fixed, os.path.join(args.keep, "repairunzip%04d.fixed.zip" % n))
                    c["repair_passes_7zz"] += run(["7zz", "t", fixed])[0] == 0
                    orc, _, oerr = run([args.tool, "test", fixed])
                    c["repair_passes_ours"] += orc == 0
                    if crashed(orc, oerr):
                        c["repair_crashes"] += 1
                        keep(n, "repairtestcrash")
        report(c, kinds, args, args.count, sources)
        if faults:
            print("faults (mutant, kind):", faults[:40])
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
