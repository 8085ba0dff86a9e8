#!/bin/sh
# vfs_archives.sh - archives as panel places, against their peers in the same
# run:
#   1. a 300,000-entry archive: the first listing of its root (the archive
#      read once) and entering one of its directories, against the same tree
#      as a directory on tmpfs (its root listed, one directory, and all of
#      its directories);
#   2. deleting one entry of a 1 GB archive of 10,000 entries, against cp of
#      the archive and zip -d;
#   3. adding a 1 MB file to it, against cp and zip;
#   4. copying 1,000 entries out, against vantrel-zip extract of the same
#      entries.
#
#   bench/vfs_archives.sh [BUILD_DIR]      (default: build)
#
# Wall times and processor times (user + system), the smallest of RUNS runs
# (default 3) on a fresh copy each; ratios of both (the processor times say
# more on a machine others load).
set -eu
BUILD=$(cd "${1:-build}" && pwd)
PROG=$BUILD/bench/bench_vfs_sources
TOOL=$BUILD/vantrel-zip
RUNS=${RUNS:-3}
for t in zip python3 bc /usr/bin/time; do command -v "$t" >/dev/null || { echo "$t is needed" >&2; exit 2; }; done
[ -x "$PROG" ] && [ -x "$TOOL" ] || { echo "build bench_vfs_sources and vantrel-zip first" >&2; exit 2; }
WORK=$(mktemp -d "${BENCH_DIR:-/var/tmp}/vfs_archives.XXXXXX")
SHM=$(mktemp -d /dev/shm/vfs_archives.XXXXXX)
trap 'rm -rf "$WORK" "$SHM"' EXIT INT TERM
cd "$WORK"

now() { date +%s.%N; }
ratio() { echo "scale=2; $1 / $2" | bc; }
# keep_best WALL CPU: the smallest of each so far, in $bw and $bc.
keep_best() {
  if [ -z "$bw" ] || [ "$(echo "$1 < $bw" | bc)" = 1 ]; then bw=$1; fi
  if [ -z "$bc" ] || [ "$(echo "$2 < $bc" | bc)" = 1 ]; then bc=$2; fi
}
# best COMMAND...: "wall cpu", the smallest of RUNS runs, each on a fresh
# copy of base.zip as a.zip (and no copy.zip: cp makes a new file).
best() {
  bw=""; bc=""
  for _ in $(seq "$RUNS"); do
    rm -f copy.zip
    cp base.zip a.zip
    sync
    /usr/bin/time -f "%e %U %S" -o time.txt "$@" >/dev/null 2>&1
    read -r w u s <time.txt
    keep_best "$w" "$(echo "$u + $s" | bc)"
  done
  echo "$bw $bc"
}
# best_inner COMMAND...: the same with the program's own "seconds" and
# "cpu" lines.
best_inner() {
  bw=""; bc=""
  for _ in $(seq "$RUNS"); do
    cp base.zip a.zip
    sync
    out=$("$@")
    keep_best "$(echo "$out" | awk '/^seconds/ { print $2 }')" "$(echo "$out" | awk '/^cpu/ { print $2 }')"
  done
  echo "$bw $bc"
}
# compare WHAT OURS PEER-NAME PEER ...: one line of figures and ratios.
compare() {
  what=$1; set -- $2 "$3" $4
  printf '  %s: vantrel %.3f s (cpu %.3f), %s %.3f s (cpu %.3f): ratio %s (cpu %s)\n' \
    "$what" "$1" "$2" "$3" "$4" "$5" "$(ratio "$1" "$4")" "$(ratio "$2" "$5")"
}

echo "== 300,000 entries in 300 directories (stored, small)"
python3 - big.zip "$SHM/tree" <<'PY'
import os, sys, zipfile
out, tree = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(out, "w", zipfile.ZIP_STORED) as z:
    for d in range(300):
        os.makedirs(f"{tree}/dir{d:03d}")
        for f in range(1000):
            name = f"dir{d:03d}/file{f:04d}.txt"
            data = f"{d} {f}\n".encode()
            z.writestr(name, data)
            with open(f"{tree}/{name}", "wb") as h:
                h.write(data)
PY
"$PROG" list big.zip "$SHM/tree" "$RUNS" >list.txt
val() { awk -v k="$1" '$1 == k { print $2 }' list.txt; }
printf '  root (%s entries): archive read and listed %.4f s (cpu %.4f); tmpfs root %.4f s (ratio %s); all tmpfs directories %.4f s (ratio %s)\n' \
  "$(val root_entries)" "$(val zip_root)" "$(val zip_root_cpu)" "$(val dir_root)" "$(ratio "$(val zip_root)" "$(val dir_root)")" \
  "$(val dir_walk)" "$(ratio "$(val zip_root)" "$(val dir_walk)")"
printf '  entering a directory (%s entries): archive %.6f s, tmpfs %.6f s (ratio %s)\n' \
  "$(val sub_entries)" "$(val zip_sub)" "$(val dir_sub)" "$(ratio "$(val zip_sub)" "$(val dir_sub)")"
rm -f big.zip

echo "== 1 GB archive of 10,000 entries (stored, incompressible)"
python3 - base.zip <<'PY'
import os, sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_STORED) as z:
    for i in range(10000):
        z.writestr(f"d{i % 10}/f{i:05d}.bin", os.urandom(100 * 1024))
PY
head -c 1048576 /dev/urandom >new.bin
# The data each entry had before, to check nothing was recompressed.
ours=$(best_inner "$PROG" delete a.zip d5/f00105.bin)
python3 - base.zip a.zip <<'PY'
import sys, zipfile
a, b = zipfile.ZipFile(sys.argv[1]), zipfile.ZipFile(sys.argv[2])
old = {i.filename: (i.CRC, i.compress_size, i.compress_type) for i in a.infolist()}
new = {i.filename: (i.CRC, i.compress_size, i.compress_type) for i in b.infolist()}
assert len(new) == len(old) - 1 and all(old[n] == v for n, v in new.items()), "entries changed"
assert b.testzip() is None
PY
cpt=$(best cp base.zip copy.zip)
zipd=$(best zip -qd a.zip d5/f00105.bin)
compare "delete one entry" "$ours" cp "$cpt"
compare "delete one entry" "$ours" "zip -d" "$zipd"
ours=$(best_inner "$PROG" add a.zip "$WORK/new.bin" new/new.bin)
python3 - base.zip a.zip <<'PY'
import sys, zipfile
a, b = zipfile.ZipFile(sys.argv[1]), zipfile.ZipFile(sys.argv[2])
old = {i.filename: (i.CRC, i.compress_size, i.compress_type) for i in a.infolist()}
new = {i.filename: (i.CRC, i.compress_size, i.compress_type) for i in b.infolist()}
assert len(new) == len(old) + 1 and all(new[n] == v for n, v in old.items()), "entries changed"
assert b.testzip() is None
PY
zipa=$(best zip -q -0 a.zip new.bin)
compare "add a 1 MB file" "$ours" cp "$cpt"
compare "add a 1 MB file" "$ours" zip "$zipa"

echo "== copying 1,000 entries out of it"
b1=""; b2=""
for _ in $(seq "$RUNS"); do
  rm -rf out1 out2 && mkdir out1 out2
  t=$("$PROG" copyout base.zip d7 1000 "$WORK/out1" | awk '/^seconds/ { print $2 }')
  if [ -z "$b1" ] || [ "$(echo "$t < $b1" | bc)" = 1 ]; then b1=$t; fi
  sync
  t0=$(now)
  "$TOOL" extract -d out2 -o base.zip 'd7/*' >/dev/null 2>&1
  t=$(echo "$(now) - $t0" | bc)
  if [ -z "$b2" ] || [ "$(echo "$t < $b2" | bc)" = 1 ]; then b2=$t; fi
done
n1=$(find out1 -type f | wc -l)
n2=$(find out2 -type f | wc -l)
printf '  vantrel copy %.3f s (%s files), vantrel-zip extract %.3f s (%s files): speed ratio %s\n' \
  "$b1" "$n1" "$b2" "$n2" "$(ratio "$b2" "$b1")"
