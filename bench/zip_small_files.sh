#!/bin/sh
# zip_small_files.sh - extracting many small files: "vantrel-zip extract -o"
# against Info-ZIP "unzip -q -o" in the same run.
#
#   bench/zip_small_files.sh [BUILD_DIR]     (default: build)
#
# The archive holds 10,000 files of 1 to 100 bytes in 100 directories (made by
# zip -X -r -6), dated over a year in TZ (default Europe/Berlin). Reported:
#   * system calls per file, counted by strace -c -f over one whole run
#     (start-up and reading the archive included);
#   * CPU time (user + system) of the whole extraction, the smallest of RUNS
#     runs (default 7) into a fresh empty directory, and the ratio.
set -eu
# A zone with daylight saving time makes the local-time conversion count.
TZ=${TZ:-Europe/Berlin}
export TZ
BUILD=${1:-build}
TOOL=$(cd "$BUILD" && pwd)/vantrel-zip
RUNS=${RUNS:-7}
[ -x "$TOOL" ] || { echo "vantrel-zip not found: $TOOL" >&2; exit 2; }
for t in zip unzip strace; do
  command -v "$t" >/dev/null || { echo "$t is needed" >&2; exit 2; }
done
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT INT TERM
FILES=10000

python3 - "$WORK/tree" "$FILES" <<'PY'
import os, random, sys
root, n = sys.argv[1], int(sys.argv[2])
rng = random.Random(5)
words = b"alpha beta gamma delta entry archive name size time zone ".split()
for i in range(n):
    d = os.path.join(root, f"d{i % 100:02d}")
    os.makedirs(d, exist_ok=True)
    text = b" ".join(rng.choice(words) for _ in range(30))[: rng.randint(1, 100)]
    name = os.path.join(d, f"f{i:05d}.txt")
    with open(name, "wb") as f:
        f.write(text)
    # Days of 2024 on both sides of the changes of offset, away from the
    # hours that occur twice or not at all.
    t = 1704110400 + rng.randrange(366) * 86400 + rng.randrange(8 * 3600)
    os.utime(name, (t, t))
PY
# -X: no extended time fields, so both tools set the times from the DOS date.
(cd "$WORK/tree" && zip -q -X -r -6 "$WORK/small.zip" .)

# calls PROGRAM...: total system calls of one run into a fresh directory.
calls() {
  rm -rf "$WORK/out" && mkdir "$WORK/out"
  strace -f -c -o "$WORK/strace.txt" "$@" >/dev/null 2>&1
  awk '$NF == "total" { print $(NF-2) }' "$WORK/strace.txt"
}

# cpu PROGRAM...: the smallest user + system seconds of RUNS runs.
cpu() {
  best=""
  for _ in $(seq "$RUNS"); do
    rm -rf "$WORK/out" && mkdir "$WORK/out"
    /usr/bin/time -f "%U %S" -o "$WORK/time.txt" "$@" >/dev/null 2>&1
    c=$(awk '{ printf "%.3f", $1 + $2 }' "$WORK/time.txt")
    if [ -z "$best" ] || [ "$(echo "$c < $best" | bc)" = 1 ]; then best=$c; fi
  done
  echo "$best"
}

ours="$TOOL extract -o -d $WORK/out $WORK/small.zip"
peer="unzip -q -o $WORK/small.zip -d $WORK/out"
co=$(calls $ours)
cp=$(calls $peer)
$ours >/dev/null && mv "$WORK/out" "$WORK/a"
mkdir "$WORK/out" && $peer && mv "$WORK/out" "$WORK/b"
# Same bytes and the same modification times (in the local zone).
diff -r "$WORK/a" "$WORK/b" >/dev/null && same=identical || same=DIFFERENT
(cd "$WORK/a" && find . -type f -printf '%p %T@\n' | sort) >"$WORK/ta"
(cd "$WORK/b" && find . -type f -printf '%p %T@\n' | sort) >"$WORK/tb"
cmp -s "$WORK/ta" "$WORK/tb" && times=identical || times=DIFFERENT
to=$(cpu $ours)
tp=$(cpu $peer)

printf 'extract %d files of 1-100 bytes (TZ=%s, %s)\n' "$FILES" "$TZ" \
  "$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
printf '  system calls per file   vantrel %6.2f   unzip %6.2f\n' \
  "$(echo "scale=2; $co / $FILES" | bc)" "$(echo "scale=2; $cp / $FILES" | bc)"
printf '  CPU time (best of %d)    vantrel %6.3f s  unzip %6.3f s  ratio %s\n' "$RUNS" "$to" "$tp" \
  "$(echo "scale=2; $to / $tp" | bc)"
printf '  extracted trees: %s; modification times: %s\n' "$same" "$times"
