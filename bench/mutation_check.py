#!/usr/bin/env python3
"""Deliberate one-line breaks in the engines, and which test catches each.

Every entry of MUTANTS names a source file, a text that occurs in it exactly
once, the text that replaces it and the fault that makes. For each entry the
checker applies the break, builds the tree incrementally, runs the tests that
contain the changed code (and the end-to-end tests when the program does),
restores the file and records whether a test failed, and which.

  * A mutant whose text is not found exactly once is an error, reported and
    skipped: the table must name the line it means.
  * A mutant that does not compile counts as not caught.
  * A test that failed before any break (the baseline run) is left out.
  * Only tests whose programs contain the changed file are run: the others
    run the very binaries of the baseline and pass as they did. They are
    built and run one at a time, the previous run's catching test first,
    then those of the mutated folder, then the quickest, and the run stops
    at the first failure.

usage:
  bench/mutation_check.py --tree /work/wt-mutbase [--build build-mut]
      [--out mutants.json] [--hints earlier.json] [--only id,id] [--check]
  bench/mutation_check.py --table before.json [after.json]

The build directory is configured like scripts/build (Ninja, Release). The
source tree is restored after every mutant, also on Ctrl+C; at the end the
build is brought back to the unmodified sources.
"""
import argparse
import json
import os
import re
import signal
import subprocess
import sys
import time

# (id, file, search text, replacement, what it breaks)
MUTANTS = [
    # zip/codec: the legacy decoders.
    ("unreduce-len", "zip/codec/unreduce.cpp",
     "for (unsigned k = 0; k < len + 3 && produced < uncompressedSize; ++k)",
     "for (unsigned k = 0; k < len + 2 && produced < uncompressedSize; ++k)",
     "reduce: a match copies one byte too few"),
    ("explode-dist", "zip/codec/explode.cpp",
     "const uint64_t back = ((static_cast<uint64_t>(high) << lowBits) | low) + 1;",
     "const uint64_t back = ((static_cast<uint64_t>(high) << lowBits) | low) + 2;",
     "implode: match distance off by one"),
    ("unshrink-kwkwk", "zip/codec/unshrink.cpp",
     "if (kwkwk) stackEnd[-1] = first;",
     "if (kwkwk) stackEnd[-1] = t->suffix[prev];",
     "shrink: the code defined by its own use ends with the wrong byte"),
    # zip/crypto
    ("aes-mac", "zip/crypto/winzip_aes.cpp",
     "return CRYPTO_memcmp(mac, storedMac, kAesMacSize) == 0;",
     "return CRYPTO_memcmp(mac, storedMac, kAesMacSize) == 0 || true;",
     "AES: the authentication code is not checked"),
    # zip/: reader, extraction, writer, masks
    ("extract-crc", "zip/zip_extract.cpp",
     "|| calc == work_.CRC32;",
     "|| calc == work_.CRC32 || true;",
     "extraction: CRC mismatch not detected"),
    ("extract-password", "zip/zip_extract.cpp",
     "ok = header[kEncryptionHeaderSize - 1] == check;",
     "ok = true;",
     "extraction: a wrong password is not noticed"),
    ("outpath-dotdot", "zip/zip_outpath.cpp",
     'if (c.empty() || c == "." || c == "..") return {};',
     'if (c.empty() || c == ".") return {};',
     "extraction: '..' in an entry name escapes the destination"),
    ("overlap-one-byte", "zip/zip_integrity.h",
     "if (haveFar && r.start < far.end) {",
     "if (haveFar && r.start + 1 < far.end) {",
     "reading: entries whose data overlap by exactly one byte are not refused"),
    ("zip64-local-16", "zip/zip_format.cpp",
     "if (len >= 16) {",
     "if (len > 16) {",
     "reading: a local header's 16-byte ZIP64 block is ignored (sizes stay the marker)"),
    ("extract-freespace", "zip/zip_extract.cpp",
     "if (static_cast<uint64_t>(totalBytes_) <= space.free) return;",
     "return;",
     "extraction: no free-space check"),
    # The central header is encoded in zip_format.cpp since the ZIP64 work
    # (in zip_writer.cpp before).
    ("writer-cd-size", "zip/zip_format.cpp",
     "PutU32(h + 20, Fit32(e.CompressedSize));",
     "PutU32(h + 20, Fit32(e.CompressedSize) + 1);",
     "writer: wrong compressed size in the central directory"),
    ("copy-no-question", "fileops/fmoperation.cpp",
     "if (ConfirmOverwrite && !run.overwriteAll) {",
     "if (false && ConfirmOverwrite && !run.overwriteAll) {",
     "copy: overwrites without asking"),
    ("copy-cancel", "fileops/fmoperation.cpp",
     "if (answer == TOverwriteAnswer::Cancel) return Outcome::Stop;",
     "if (answer == TOverwriteAnswer::Cancel) {}",
     "copy: Cancel at the overwrite question overwrites"),
    ("move-removes-all", "fileops/fmoperation.cpp",
     "RemovePass(sourceDir, true)",
     "RemovePass(sourceDir, false)",
     "move: removes sources that were not copied"),
    # platform/
    ("copyfile-no-link", "platform/copyfile.cpp",
     "error = PlaceUnnamed(out.get(), dir, dest, replace);",
     "error = 0;",
     "file copy: the written data never gets its name, success reported"),
    ("wildcard-trailing-star", "platform/wildcard.h",
     "while (m < mask.size() && mask[m] == '*') ++m;",
     "while (false && m < mask.size() && mask[m] == '*') ++m;",
     "wildcards: a trailing '*' does not match the empty rest"),
    ("ini-write", "platform/ini.cpp",
     "lines[i] = newLine;",
     "lines[i] += newLine;",
     "settings: writing a key appends to its old line"),
    ("ini-parse", "platform/ini.cpp",
     "value = Trim(line.substr(eq + 1));",
     "value = line.substr(eq + 1);",
     "settings: values keep their surrounding blanks"),
    ("localtime-month", "platform/fs.cpp",
     "out.month = tmv.tm_mon + 1;",
     "out.month = tmv.tm_mon;",
     "file times: local date off by a month"),
    # panels/: the directory model
    ("sort-ext", "panels/dirmodel.cpp",
     "if (a.extKey != b.extKey) return a.extKey < b.extKey;",
     "if (a.extKey != b.extKey) return a.extKey > b.extKey;",
     "panel: extension order reversed"),
    ("sort-size", "panels/dirmodel.cpp",
     "if (a.number != b.number) return a.number > b.number;",
     "if (a.number != b.number) return a.number < b.number;",
     "panel: size/date order reversed"),
    ("sort-groups", "panels/dirmodel.cpp",
     "if (x.group != y.group) return x.group < y.group;",
     "if (x.group != y.group) return x.group > y.group;",
     "panel: files before directories"),
    ("mark-count", "panels/dirmodel.cpp",
     "markedCount_ += marked ? 1 : -1;",
     "markedCount_ += 1;",
     "panel: unmarking does not lower the mark count"),
    ("refresh-cursor", "panels/dirmodel.cpp",
     "if (cursor_ < 0 && name == cursorName) cursor_ = i;",
     "if (false && name == cursorName) cursor_ = i;",
     "panel: a refresh keeps the row, not the entry, under the cursor"),
    # app/
    ("history-dedupe", "app/settings/user_lists.cpp",
     "list.erase(std::remove(list.begin(), list.end(), item), list.end());",
     "(void)0;",
     "histories: a repeated item is listed twice"),
    ("dirhistory-back", "app/settings/user_lists.cpp",
     "return items_[--pos_];",
     "return items_[pos_ - 1];",
     "directory history: Back does not move"),
    ("findfile-recurse", "app/commands/file_search.cpp",
     "if (type == DT_DIR) subdirs.emplace_back(name);",
     "if (false) subdirs.emplace_back(name);",
     "find file: subdirectories are not searched"),
    ("newdir-focus", "app/dialogs/newdirectoryform.cpp",
     "FinishLayout(directoryNameEdit_);",
     "FinishLayout();",
     "New directory: the name field does not get the keyboard"),
]

PROGRAMS = ("vantrel", "vantrel-zip", "vnview")
# The test programs of each code folder, tried first for its mutants.
OWN_TESTS = {"zip": ("zip_tests",), "fileops": ("fileops_tests",), "platform": ("platform_tests",),
             "panels": ("panels_model_tests",), "app": ("app_tests",)}
# Tests that start one of the programs besides their own binary.
PROGRAM_USERS = {"vantrel": ("e2e_",), "vantrel-zip": ("zip_tests",),
                 "vnview": ("gui_settings_test", "gui_filecmds_misc_test")}


def log(*args):
    print(time.strftime("%H:%M:%S"), *args, flush=True)


def run(cmd, **kw):
    return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, **kw)


class Tree:
    def __init__(self, tree, build):
        self.tree = os.path.abspath(tree)
        self.build = os.path.join(self.tree, build)

    def configure(self):
        if not os.path.exists(os.path.join(self.build, "build.ninja")):
            r = run(["cmake", "-S", self.tree, "-B", self.build, "-G", "Ninja",
                     "-DCMAKE_BUILD_TYPE=Release"])
            if r.returncode != 0:
                sys.exit(r.stdout)

    def ninja(self, targets=()):
        return run(["ninja", "-C", self.build] + list(targets))

    def tests(self):
        """name -> (program path, arguments) for every ctest entry."""
        r = run(["ctest", "--test-dir", self.build, "--show-only=json-v1"])
        data = json.loads(r.stdout)
        out = {}
        for t in data["tests"]:
            cmd = t.get("command") or []
            out[t["name"]] = cmd
        return out

    def inputs(self, target):
        r = run(["ninja", "-C", self.build, "-t", "inputs", target])
        return set(r.stdout.split())

    def costs(self):
        path = os.path.join(self.build, "Testing", "Temporary", "CTestCostData.txt")
        costs = {}
        if os.path.exists(path):
            for line in open(path):
                parts = line.split()
                if len(parts) == 3:
                    costs[parts[0]] = float(parts[2])
        return costs


def target_of(tree, path):
    """The ninja target (relative to the build directory) of a test program."""
    rel = os.path.relpath(path, tree.build)
    return None if rel.startswith("..") else rel


def ctest_one(tree, name, timeout, cases=None):
    """Runs one ctest entry; a GoogleTest program stops at its first failing
    case, and with `cases` runs only those. Returns (failed, failed cases)."""
    env = dict(os.environ, GTEST_FAIL_FAST="1")
    if cases:
        env["GTEST_FILTER"] = ":".join(cases)
    r = run(["ctest", "--test-dir", tree.build, "-R", "^%s$" % re.escape(name),
             "--timeout", str(timeout), "--output-on-failure"], env=env)
    return r.returncode != 0, sorted(set(re.findall(r"\[  FAILED  \] (\S+) \(", r.stdout)))


def run_tests(tree, names, targets, timeout, hint_cases):
    """Builds and runs the tests one by one, in order, and stops at the first
    failure: a mutant caught early costs one program's link, not all of them.
    The cases that caught the mutant in an earlier run are tried alone first;
    when they pass, the whole entry runs. Returns (failed names, failed cases,
    names run, build error or None)."""
    done = []
    for name in names:
        b = tree.ninja(targets[name])
        if b.returncode != 0:
            return [], [], done, b.stdout[-2000:]
        failed, cases = False, []
        if hint_cases.get(name):
            failed, cases = ctest_one(tree, name, timeout, hint_cases[name])
        if not failed:
            failed, cases = ctest_one(tree, name, timeout)
        done.append(name)
        if failed:
            return [name], cases, done, None
    return [], [], done, None


def find_site(tree, mutant):
    mid, rel, search, _, _ = mutant
    path = os.path.join(tree.tree, rel)
    if not os.path.exists(path):
        return None, "file %s not found" % rel
    text = open(path, encoding="utf-8").read()
    n = text.count(search)
    if n != 1:
        return None, "%s: search text found %d times in %s" % (mid, n, rel)
    return text, None


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tree")
    ap.add_argument("--build", default="build-mut")
    ap.add_argument("--out", default="mutants.json")
    ap.add_argument("--hints", help="an earlier result: its catching tests run first")
    ap.add_argument("--only", help="comma-separated mutant ids")
    ap.add_argument("--check", action="store_true", help="only check that every site is found")
    ap.add_argument("--skip-baseline", action="store_true")
    ap.add_argument("--timeout", type=int, default=600)
    ap.add_argument("--table", nargs="+", help="print the table of one or two result files")
    args = ap.parse_args()

    if args.table:
        print_table(args.table)
        return

    tree = Tree(args.tree, args.build)
    mutants = [m for m in MUTANTS if not args.only or m[0] in args.only.split(",")]
    errors = [e for e in (find_site(tree, m)[1] for m in mutants) if e]
    for e in errors:
        log("SITE ERROR:", e)
    if args.check:
        sys.exit(1 if errors else 0)

    commit = run(["git", "-C", tree.tree, "rev-parse", "HEAD"]).stdout.strip()
    result = {"tree": tree.tree, "commit": commit, "started": time.strftime("%Y-%m-%d %H:%M:%S"),
              "baseline_failures": [], "mutants": {}}
    if args.out and os.path.exists(args.out):
        old = json.load(open(args.out))
        if old.get("commit") == commit:
            result = old  # resume
    hints, hint_cases = {}, {}
    if args.hints:
        for mid, r in json.load(open(args.hints))["mutants"].items():
            hints[mid] = r.get("caught_by") or []
            if hints[mid] and r.get("cases"):
                hint_cases[mid] = {hints[mid][0]: r["cases"]}

    def save():
        if args.out:
            json.dump(result, open(args.out, "w"), indent=1)

    tree.configure()
    log("building the unmodified tree", commit[:10])
    r = tree.ninja()
    if r.returncode != 0:
        sys.exit(r.stdout[-4000:])
    tests = tree.tests()
    if not args.skip_baseline and "baseline_done" not in result:
        log("baseline: every test on the unmodified tree")
        failed = []
        r = run(["ctest", "--test-dir", tree.build, "-j2", "--timeout", str(args.timeout)])
        listing = r.stdout.split("The following tests FAILED:")
        if len(listing) > 1:
            for line in listing[1].splitlines():
                m = re.match(r"\s*\d+ - (\S+) \(", line)
                if m:
                    failed.append(m.group(1))
        result["baseline_failures"] = failed
        result["baseline_done"] = True
        log("baseline failures:", failed or "none")
        save()
    excluded = set(result["baseline_failures"])
    costs = tree.costs()

    # Which sources each test program and each program is built from.
    inputs = {}
    for name, cmd in tests.items():
        t = target_of(tree, cmd[0]) if cmd else None
        if t and t not in inputs:
            inputs[t] = tree.inputs(t)
    for prog in PROGRAMS:
        if os.path.exists(os.path.join(tree.build, prog)):
            inputs[prog] = tree.inputs(prog)

    for mutant in mutants:
        mid, rel, search, replacement, what = mutant
        if mid in result["mutants"] and result["mutants"][mid].get("status") in ("caught", "not caught", "build failed"):
            continue
        text, error = find_site(tree, mutant)
        if error:
            result["mutants"][mid] = {"status": "site error", "error": error, "what": what}
            save()
            continue
        src = os.path.join(tree.tree, rel)
        # A header is not among the inputs ninja lists: everything is rebuilt
        # and every test counts as affected.
        header = rel.endswith(".h")
        affected_programs = [p for p in PROGRAMS if p in inputs and (header or src in inputs[p])]
        names = []
        targets = {}
        for name, cmd in tests.items():
            if name in excluded or not cmd:
                continue
            t = target_of(tree, cmd[0])
            hit = header or (t is not None and src in inputs.get(t, ()))
            for p in affected_programs:
                hit = hit or any(name.startswith(u) for u in PROGRAM_USERS[p])
            if hit:
                names.append(name)
                # A header rebuilds everything, once, before the first test.
                targets[name] = [] if header else ([t] if t else []) + (
                    ["vantrel"] if name.startswith("e2e_") else []) + affected_programs
        # The earlier run's catching test first, then the tests of the
        # mutated folder, then the rest, quickest first.
        first = [n for n in hints.get(mid, []) if n in names]
        own = OWN_TESTS.get(rel.split("/")[0], ())
        names = first + sorted((n for n in names if n not in first),
                               key=lambda n: (n not in own, costs.get(n, 1.0)))
        log("%s: %s (%d tests)" % (mid, what, len(names)))
        start = time.time()
        entry = {"what": what, "file": rel, "tests_affected": len(names)}
        try:
            open(src, "w", encoding="utf-8").write(text.replace(search, replacement))
            failed, cases, done, build_error = run_tests(tree, names, targets, args.timeout,
                                                         hint_cases.get(mid, {}))
            entry["tests_run"] = done
            entry["caught_by"] = failed
            entry["cases"] = cases
            if build_error is not None:
                entry["status"] = "build failed"
                entry["build_output"] = build_error
            else:
                entry["status"] = "caught" if failed else "not caught"
        finally:
            open(src, "w", encoding="utf-8").write(text)
        log("  ->", entry["status"], ",".join(entry.get("caught_by", [])),
            "(%.0f s)" % (time.time() - start))
        result["mutants"][mid] = entry
        save()

    log("restoring the build")
    tree.ninja()
    caught = sum(1 for r in result["mutants"].values() if r.get("status") == "caught")
    result["finished"] = time.strftime("%Y-%m-%d %H:%M:%S")
    save()
    log("caught %d of %d" % (caught, len(result["mutants"])))


def print_table(files):
    results = [json.load(open(f)) for f in files]
    heads = ["before", "after"][:len(results)]
    print("| mutant | break | " + " | ".join(heads) + " |")
    print("|---|---|" + "---|" * len(results))
    totals = [0] * len(results)
    for mid, rel, _, _, what in MUTANTS:
        cells = []
        for i, res in enumerate(results):
            r = res["mutants"].get(mid)
            if r is None:
                cells.append("-")
                continue
            if r.get("status") == "caught":
                totals[i] += 1
                cells.append("caught: " + ", ".join(r["caught_by"]))
            else:
                cells.append(r.get("status", "?").upper())
        print("| %s (`%s`) | %s | %s |" % (mid, rel, what, " | ".join(cells)))
    print("| **total** | %d mutants | %s |" % (
        len(MUTANTS), " | ".join("%d caught" % t for t in totals)))
    for h, res in zip(heads, results):
        print("%s: commit %s, baseline failures: %s" % (
            h, res["commit"][:10], ", ".join(res.get("baseline_failures", [])) or "none"))


if __name__ == "__main__":
    main()
