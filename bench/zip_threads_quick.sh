#!/bin/sh
# zip_threads_quick.sh - 1 against 2 threads, packing and extracting, without
# the peer: a few seconds on an idle machine.
#
#   bench/zip_threads_quick.sh [PATH-TO-vantrel-zip] [TREE] [RUNS]
#
# Packs TREE (default /usr/include) with vantrel-zip add -r -6 --threads 1
# and 2, checks that the archives are the same bytes, then extracts the
# archive with --threads 1 and 2 and checks the trees are the same. Prints
# the best wall time of RUNS runs (default 5, alternating 1 and 2 threads so
# that a passing load hits both alike), the processor time (user + system)
# of that run, and the ratio of the walls. Work files go to $TMPDIR (use
# /dev/shm to leave the disk out).
set -eu

TOOL=${1:-$(dirname "$0")/../build/vantrel-zip}
TOOL=$(cd "$(dirname "$TOOL")" && pwd)/$(basename "$TOOL")
TREE=${2:-/usr/include}
RUNS=${3:-5}
[ -x "$TOOL" ] || { echo "vantrel-zip not found: $TOOL" >&2; exit 2; }

WORK=$(mktemp -d "${TMPDIR:-/tmp}/zip_threads_quick.XXXXXX")
trap 'rm -rf "$WORK"' EXIT INT TERM

# run NAME PREP COMMAND...: runs COMMAND after PREP, keeping the best wall
# time of NAME (and that run's processor time) in $WORK/NAME.
run() {
  name=$1 prep=$2
  shift 2
  eval "$prep"
  /usr/bin/time -f "%e %U %S" -o "$WORK/time.txt" "$@" >/dev/null 2>&1 ||
    { echo "failed: $*" >&2; exit 1; }
  read -r w u s < "$WORK/time.txt"
  if [ ! -s "$WORK/$name" ] || [ "$(echo "$w < $(cut -d' ' -f1 "$WORK/$name")" | bc)" = 1 ]; then
    echo "$w $(echo "$u + $s" | bc)" > "$WORK/$name"
  fi
}
show() {  # show LABEL NAME [BASE]
  read -r w c < "$WORK/$2"
  if [ $# -gt 2 ]; then
    read -r bw _ < "$WORK/$3"
    printf '  %-28s wall %7.3f s  cpu %7.3f s  (%s x 1 thread)\n' "$1" "$w" "$c" "$(echo "scale=2; $w / $bw" | bc)"
  else
    printf '  %-28s wall %7.3f s  cpu %7.3f s\n' "$1" "$w" "$c"
  fi
}

cd "$(dirname "$TREE")"
base=$(basename "$TREE")
echo "$TREE: $(find "$base" -type f | wc -l) files, $(du -sb "$base" | cut -f1) bytes;" \
  "$(nproc) processors, load $(cut -d' ' -f1 /proc/loadavg); best of $RUNS"

for _ in $(seq "$RUNS"); do
  for t in 1 2; do
    run "pack$t" "rm -f \"\$WORK/$t.zip\"" "$TOOL" add -r -6 --threads "$t" "$WORK/$t.zip" "$base"
  done
done
cmp -s "$WORK/1.zip" "$WORK/2.zip" || { echo "2 threads wrote other bytes than 1" >&2; exit 1; }
echo "pack (add -r -6), archives identical ($(stat -c %s "$WORK/1.zip") bytes)"
show "--threads 1" pack1
show "--threads 2" pack2 pack1

for _ in $(seq "$RUNS"); do
  for t in 1 2; do
    run "extract$t" "rm -rf \"\$WORK/x$t\"" "$TOOL" extract --threads "$t" -d "$WORK/x$t" "$WORK/1.zip"
  done
done
diff -r "$WORK/x1" "$WORK/x2" >/dev/null || { echo "2 threads extracted another tree" >&2; exit 1; }
echo "extract that archive, trees identical"
show "--threads 1" extract1
show "--threads 2" extract2 extract1
