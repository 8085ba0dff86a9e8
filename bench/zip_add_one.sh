#!/bin/sh
# zip_add_one.sh - adding one new file to an archive of 50,000 entries:
# "vantrel-zip add" against Info-ZIP "zip -q" in the same run, with $TMPDIR on
# another volume than the archive (default /dev/shm, a tmpfs).
#
#   bench/zip_add_one.sh [BUILD_DIR]     (default: build)
#
# Reported: CPU time (user + system, the smallest of RUNS runs, default 7)
# and wall time, each with the ratio; and what vantrel-zip's run wrote,
# counted by strace: bytes written, copy_file_range calls and renames (one
# rename and about one archive's worth of bytes when the temporary archive is
# made beside the archive).
set -eu
BUILD=${1:-build}
TOOL=$(cd "$BUILD" && pwd)/vantrel-zip
RUNS=${RUNS:-7}
OTHER=${OTHER:-/dev/shm}
[ -x "$TOOL" ] || { echo "vantrel-zip not found: $TOOL" >&2; exit 2; }
for t in zip unzip strace python3; do
  command -v "$t" >/dev/null || { echo "$t is needed" >&2; exit 2; }
done
WORK=$(mktemp -d "${BENCH_DIR:-/var/tmp}/zip_add_one.XXXXXX")
TMPD=$(mktemp -d "$OTHER/zip_add_one_tmp.XXXXXX")
trap 'rm -rf "$WORK" "$TMPD"' EXIT INT TERM
[ "$(stat -c %d "$WORK")" != "$(stat -c %d "$TMPD")" ] ||
  echo "warning: $OTHER is on the archive's volume" >&2

# 50,000 deflated entries of 50 to 400 bytes in 500 folders.
python3 - "$WORK/base.zip" <<'PY'
import random, sys, zipfile
rng = random.Random(3)
words = "alpha beta gamma delta entry archive name size time zone record".split()
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    for i in range(50000):
        text = " ".join(rng.choice(words) for _ in range(rng.randint(8, 60)))
        z.writestr(f"folder{i % 500:03d}/file{i:05d}.txt", text)
PY
head -c 20000 /usr/include/stdio.h >"$WORK/new.txt"
cd "$WORK"

# best PROGRAM...: "wall cpu", the smallest of RUNS runs each, on a fresh copy.
best() {
  bw=""
  bc=""
  for _ in $(seq "$RUNS"); do
    cp base.zip a.zip
    TMPDIR=$TMPD /usr/bin/time -f "%e %U %S" -o time.txt "$@" >/dev/null 2>&1
    read -r w u s <time.txt
    c=$(echo "$u + $s" | bc)
    if [ -z "$bw" ] || [ "$(echo "$w < $bw" | bc)" = 1 ]; then bw=$w; fi
    if [ -z "$bc" ] || [ "$(echo "$c < $bc" | bc)" = 1 ]; then bc=$c; fi
  done
  echo "$bw $bc"
}

ours=$(best "$TOOL" add -6 a.zip new.txt)
unzip -tqq a.zip >/dev/null || { echo "the updated archive fails unzip -t" >&2; exit 1; }
[ "$(unzip -Z1 a.zip | wc -l)" = 50001 ] || { echo "entry missing" >&2; exit 1; }
peer=$(best zip -q -6 a.zip new.txt)

cp base.zip a.zip
TMPDIR=$TMPD strace -f -e trace=write,pwrite64,copy_file_range,rename,renameat,renameat2 \
  -o strace.txt "$TOOL" add -6 a.zip new.txt >/dev/null 2>&1
written=$(awk '/^[0-9]+ +(write|pwrite64)\(/ { n += $NF } END { print n + 0 }' strace.txt)
copies=$(grep -c 'copy_file_range(' strace.txt || true)
renames=$(grep -c 'rename' strace.txt || true)

printf 'add one file to a %s-entry archive (%s bytes), TMPDIR=%s (%s)\n' 50000 \
  "$(stat -c %s base.zip)" "$OTHER" \
  "$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
printf '  CPU time  vantrel %6.3f s  zip %6.3f s  ratio %s\n' "${ours#* }" "${peer#* }" \
  "$(echo "scale=2; ${ours#* } / ${peer#* }" | bc)"
printf '  wall time vantrel %6.3f s  zip %6.3f s  ratio %s\n' "${ours% *}" "${peer% *}" \
  "$(echo "scale=2; ${ours% *} / ${peer% *}" | bc)"
printf '  vantrel-zip wrote %s bytes, %s copy_file_range calls, %s renames\n' \
  "$written" "$copies" "$renames"
