#!/bin/sh
# zip_read.sh - times vantrel-zip against Info-ZIP unzip in the same run:
#   1. listing an archive of 50,000 entries: "vantrel-zip list" vs "unzip -l";
#   2. extracting a "zip -r -6" archive of /usr/include into an empty
#      directory: "vantrel-zip extract -o" vs "unzip -q -o".
# Each figure is the best of RUNS runs (default 5). Usage:
#   bench/zip_read.sh [BUILD_DIR]     (default: build)
set -eu
BUILD=${1:-build}
TOOL=$(cd "$BUILD" && pwd)/vantrel-zip
RUNS=${RUNS:-5}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# Best wall-clock seconds of RUNS runs of a shell command.
best() {
  python3 - "$RUNS" "$1" <<'PY'
import subprocess, sys, time
runs, cmd = int(sys.argv[1]), sys.argv[2]
best = None
for _ in range(runs):
    t = time.perf_counter()
    subprocess.run(cmd, shell=True, check=True, stdout=subprocess.DEVNULL)
    d = time.perf_counter() - t
    best = d if best is None or d < best else best
print(f"{best:.4f}")
PY
}

report() {  # name ours theirs
  python3 -c "import sys; o,t=float(sys.argv[2]),float(sys.argv[3]); print(f'{sys.argv[1]:<44} vantrel {o:8.4f} s   peer {t:8.4f} s   ratio {o/t:5.2f}')" "$@"
}

# 1. A directory of 50,000 entries (names in 500 folders), made by Python's zipfile.
python3 - "$WORK/many.zip" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_STORED) as z:
    for i in range(50000):
        z.writestr(f"folder{i % 500:03d}/file{i:05d}.txt", b"x" * (i % 7))
PY
ours=$(best "'$TOOL' list '$WORK/many.zip'")
theirs=$(best "unzip -l '$WORK/many.zip'")
report "list, 50000 entries (unzip -l)" "$ours" "$theirs"

# 2. /usr/include, deflated at level 6.
(cd /usr && zip -q -r -6 "$WORK/include.zip" include)
count=$(unzip -l "$WORK/include.zip" | tail -1 | awk '{print $2}')
ours=$(best "rm -rf '$WORK/a' && mkdir '$WORK/a' && '$TOOL' extract -o -d '$WORK/a' '$WORK/include.zip'")
theirs=$(best "rm -rf '$WORK/b' && mkdir '$WORK/b' && unzip -q -o '$WORK/include.zip' -d '$WORK/b'")
diff -r "$WORK/a" "$WORK/b" >/dev/null && same=identical || same=DIFFERENT
report "extract /usr/include, $count files (unzip -q -o)" "$ours" "$theirs"
echo "extracted trees: $same"
