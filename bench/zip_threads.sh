#!/bin/sh
# zip_threads.sh - packing and extracting a tree on 1 and 2 threads (and one
# per processor), against Info-ZIP zip/unzip and 7-Zip in the same run.
#
#   bench/zip_threads.sh [PATH-TO-vantrel-zip] [TREE]
#
# 1. Packing TREE (default /usr/include) at level 6 with recursion:
#    vantrel-zip add -r -6 --threads 1, 2 and 0 (one per processor), zip -r -6,
#    7zz a -tzip -mx=5 at -mmt=1 and -mmt=2. Our archives must be the same
#    bytes at every thread count.
# 2. Extracting our archive: vantrel-zip extract --threads 1, 2 and 0,
#    unzip -q, 7zz x at -mmt=1 and -mmt=2; our tree must equal TREE (seen
#    through its symbolic links).
# 3. With MEMORY=1 in the environment: the peak resident memory of packing
#    one 4 GiB file with --threads 2 behind a 64 MiB one (needs about 8 GiB
#    in $TMPDIR).
# Each command runs five times; the figures are the fastest wall-clock time
# and the smallest processor time (user + system, all threads) in seconds.
# On a loaded machine the wall time of a threaded run depends on what else
# runs: read the processor time beside it, and the load printed first.
set -eu

TOOL=${1:-$(dirname "$0")/../build/vantrel-zip}
TOOL=$(cd "$(dirname "$TOOL")" && pwd)/$(basename "$TOOL")
TREE=$(cd "${2:-/usr/include}" && pwd)
[ -x "$TOOL" ] || { echo "vantrel-zip not found: $TOOL" >&2; exit 2; }
for peer in zip unzip 7zz bc; do
  command -v "$peer" >/dev/null || { echo "$peer is needed" >&2; exit 2; }
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/zip_threads_bench.XXXXXX")
trap 'rm -rf "$WORK"' EXIT INT TERM

# best COMMAND...: runs the command five times, "$PREP" before each, and
# prints "WALL CPU": the fastest wall time and the smallest user + system
# time. Status 1 is vantrel-zip's and unzip's "done, with warnings".
best() {
  bw=""
  bc=""
  for _ in 1 2 3 4 5; do
    eval "$PREP"
    st=0
    /usr/bin/time -f "%e %U %S" -o "$WORK/time.txt" "$@" >/dev/null 2>&1 || st=$?
    [ "$st" -le 1 ] || { echo "failed ($st): $*" >&2; exit 1; }
    read -r w u s < "$WORK/time.txt"
    c=$(echo "$u + $s" | bc)
    if [ -z "$bw" ] || [ "$(echo "$w < $bw" | bc)" = 1 ]; then bw=$w; fi
    if [ -z "$bc" ] || [ "$(echo "$c < $bc" | bc)" = 1 ]; then bc=$c; fi
  done
  echo "$bw $bc"
}
ratio() {
  if [ "$(echo "$2 == 0" | bc)" = 1 ]; then echo "-"; else printf '%.2f' "$(echo "scale=4; $1 / $2" | bc)"; fi
}
# row LABEL "WALL CPU" [BASE-WALL LABEL2]: one line of the table, with the
# wall-time ratio to BASE-WALL when given.
row() {
  set -- "$1" $2 "${3:-}" "${4:-}"
  if [ -n "$4" ]; then
    printf '  %-40s wall %7.2f s  cpu %7.2f s  (wall %s x %s)\n' "$1" "$2" "$3" "$(ratio "$2" "$4")" "$5"
  else
    printf '  %-40s wall %7.2f s  cpu %7.2f s\n' "$1" "$2" "$3"
  fi
}
wall() { echo "$1" | cut -d' ' -f1; }

cd "$(dirname "$TREE")"
base=$(basename "$TREE")
files=$(find "$base" -type f | wc -l)
bytes=$(du -sb "$base" | cut -f1)
echo "$(nproc) processors, load $(cut -d' ' -f1-3 /proc/loadavg); best of 5 runs"
echo "pack $TREE ($files files, $bytes bytes), level 6"

PREP='rm -f "$WORK/t.zip"'
p1=$(best "$TOOL" add -r -6 --threads 1 "$WORK/t.zip" "$base")
cp "$WORK/t.zip" "$WORK/one.zip"
p2=$(best "$TOOL" add -r -6 --threads 2 "$WORK/t.zip" "$base")
cmp -s "$WORK/t.zip" "$WORK/one.zip" || { echo "2 threads wrote other bytes" >&2; exit 1; }
pa=$(best "$TOOL" add -r -6 --threads 0 "$WORK/t.zip" "$base")
cmp -s "$WORK/t.zip" "$WORK/one.zip" || { echo "one thread per processor wrote other bytes" >&2; exit 1; }
PREP='rm -f "$WORK/i.zip"'
pz=$(best zip -r -6 -q "$WORK/i.zip" "$base")
PREP='rm -f "$WORK/7.zip"'
p71=$(best 7zz a -tzip -mx=5 -mmt=1 "$WORK/7.zip" "$base")
p72=$(best 7zz a -tzip -mx=5 -mmt=2 "$WORK/7.zip" "$base")
row "vantrel-zip add -r -6 --threads 1" "$p1" "$(wall "$pz")" "zip"
row "vantrel-zip add -r -6 --threads 2" "$p2" "$(wall "$p1")" "1 thread"
row "vantrel-zip add -r -6 --threads 0" "$pa" "$(wall "$p1")" "1 thread"
row "zip -r -6" "$pz"
row "7zz a -tzip -mx=5 -mmt=1" "$p71" "$(wall "$p1")" "ours at 1"
row "7zz a -tzip -mx=5 -mmt=2" "$p72" "$(wall "$p2")" "ours at 2"
printf '  ours at 2 threads: wall %s x 7zz -mmt=2\n' "$(ratio "$(wall "$p2")" "$(wall "$p72")")"
printf '  archives: ours %s bytes at every thread count (identical), zip %s, 7zz %s\n' \
  "$(stat -c %s "$WORK/one.zip")" "$(stat -c %s "$WORK/i.zip")" "$(stat -c %s "$WORK/7.zip")"
rm -f "$WORK/t.zip" "$WORK/i.zip" "$WORK/7.zip"

echo "extract our archive"
PREP='rm -rf "$WORK/x"'
x1=$(best "$TOOL" extract --threads 1 -d "$WORK/x" "$WORK/one.zip")
x2=$(best "$TOOL" extract --threads 2 -d "$WORK/x" "$WORK/one.zip")
xa=$(best "$TOOL" extract --threads 0 -d "$WORK/x" "$WORK/one.zip")
# add -r stores what a symbolic link leads to (as zip -r does): the tree is
# compared through the links.
diff -r "$WORK/x/$base" "$base" >/dev/null 2>&1 || { echo "the extracted tree differs from $TREE" >&2; exit 1; }
xu=$(best unzip -q -o -d "$WORK/x" "$WORK/one.zip")
x71=$(best 7zz x -y -mmt=1 -o"$WORK/x" "$WORK/one.zip")
x72=$(best 7zz x -y -mmt=2 -o"$WORK/x" "$WORK/one.zip")
row "vantrel-zip extract --threads 1" "$x1" "$(wall "$xu")" "unzip"
row "vantrel-zip extract --threads 2" "$x2" "$(wall "$x1")" "1 thread"
row "vantrel-zip extract --threads 0" "$xa" "$(wall "$x1")" "1 thread"
row "unzip -q" "$xu"
row "7zz x -mmt=1" "$x71" "$(wall "$x1")" "ours at 1"
row "7zz x -mmt=2" "$x72" "$(wall "$x2")" "ours at 2"
rm -rf "$WORK/x"

[ "${MEMORY:-0}" = 1 ] || exit 0
echo "peak memory packing a 4 GiB file with --threads 2"
mkdir -p "$WORK/big"
head -c 67108864 /dev/urandom > "$WORK/big/a-first.bin"
for _ in $(seq 64); do cat "$WORK/big/a-first.bin"; done > "$WORK/big/b-4g.bin"
cd "$WORK"
/usr/bin/time -f "%e %M" -o "$WORK/time.txt" "$TOOL" add -1 --threads 2 "$WORK/big.zip" big/a-first.bin big/b-4g.bin >/dev/null
read -r w kb < "$WORK/time.txt"
printf '  vantrel-zip add -1 --threads 2: %s s, peak resident %s KiB (%s MiB)\n' "$w" "$kb" "$((kb / 1024))"
