#!/bin/sh
# zip_add.sh - times "vantrel-zip add" against Info-ZIP zip in the same run.
#
#   bench/zip_add.sh [PATH-TO-vantrel-zip]
#
# 1. Packing /usr/include at level 6 with recursion: vantrel-zip add -r -6
#    against zip -r -6 -q, both run from / on usr/include, into fresh archives.
# 2. Updating one changed file in a 10,000-entry archive, both ways a user
#    would ask for it: naming the one file, and naming the whole tree (every
#    file's date is compared, only the changed one is compressed again; the
#    other entries are copied as their compressed bytes).
# Each figure is the best of five runs (wall-clock seconds).
set -eu

TOOL=${1:-$(dirname "$0")/../build-writer/zip/vantrel-zip}
TOOL=$(cd "$(dirname "$TOOL")" && pwd)/$(basename "$TOOL")
[ -x "$TOOL" ] || { echo "vantrel-zip not found: $TOOL" >&2; exit 2; }
command -v zip >/dev/null || { echo "Info-ZIP zip is needed as the peer" >&2; exit 2; }

WORK=$(mktemp -d "${TMPDIR:-/tmp}/zip_add_bench.XXXXXX")
trap 'rm -rf "$WORK"' EXIT INT TERM

# best COMMAND...: runs the command five times (with a setup
# step "$PREP" before each) and keeps the fastest wall-clock time.
best() {
  b=""
  for _ in 1 2 3 4 5; do
    eval "$PREP"
    s=$(date +%s.%N)
    "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
    e=$(date +%s.%N)
    t=$(echo "$e - $s" | bc)
    if [ -z "$b" ] || [ "$(echo "$t < $b" | bc)" = 1 ]; then b=$t; fi
  done
  echo "$b"
}

ratio() { echo "scale=2; $1 / $2" | bc; }

# ------------------------------------------------------------ 1. /usr/include
cd /
PREP='rm -f "$WORK/v.zip" "$WORK/z.zip"'
tv=$(best "$TOOL" add -r -6 "$WORK/v.zip" usr/include)
tz=$(best zip -r -6 -q "$WORK/z.zip" usr/include)
eval "$PREP"
"$TOOL" add -r -6 "$WORK/v.zip" usr/include >/dev/null 2>&1 || true
zip -r -6 -q "$WORK/z.zip" usr/include
files=$(find usr/include -type f | wc -l)
printf 'pack /usr/include (%s files), level 6\n' "$files"
printf '  vantrel-zip add -r -6 : %6.2f s  %s bytes\n' "$tv" "$(stat -c %s "$WORK/v.zip")"
printf '  zip -r -6 -q          : %6.2f s  %s bytes\n' "$tz" "$(stat -c %s "$WORK/z.zip")"
printf '  time ratio vantrel/zip: %s\n' "$(ratio "$tv" "$tz")"

# ------------------------------------------------------------ 2. update one file
mkdir -p "$WORK/tree"
cd "$WORK"
i=0
while [ $i -lt 100 ]; do
  mkdir -p "tree/d$i"
  j=0
  while [ $j -lt 100 ]; do
    # Small text files of different lengths (about 0.5 to 4 KB each).
    head -c $(( 500 + (i * 37 + j * 53) % 3500 )) /usr/include/stdio.h > "tree/d$i/f$j.txt"
    j=$((j + 1))
  done
  i=$((i + 1))
done
touch -d '2024-01-01 12:00' tree/d*/f*.txt
zip -r -6 -q base.zip tree
entries=$(unzip -Z1 base.zip | grep -vc '/$')

changed=tree/d50/f50.txt
change() { echo "changed $(date +%s%N)" >> "$changed"; touch -d '2024-06-01 12:00' "$changed"; }

PREP='cp base.zip v.zip; touch -d "2024-01-01 12:00" '"$changed"'; change'
tv1=$(best "$TOOL" add -u v.zip "$changed")
PREP='cp base.zip z.zip; touch -d "2024-01-01 12:00" '"$changed"'; change'
tz1=$(best zip -u -q z.zip "$changed")
PREP='cp base.zip v.zip; touch -d "2024-01-01 12:00" '"$changed"'; change'
tv2=$(best "$TOOL" add -r -u v.zip tree)
PREP='cp base.zip z.zip; touch -d "2024-01-01 12:00" '"$changed"'; change'
tz2=$(best zip -r -u -q z.zip tree)
unzip -tqq v.zip >/dev/null || { echo "updated archive fails unzip -t" >&2; exit 1; }

printf 'update 1 changed file in a %s-entry archive (%s bytes)\n' "$entries" "$(stat -c %s base.zip)"
printf '  naming the file : vantrel-zip add -u %6.3f s   zip -u %6.3f s   ratio %s\n' \
  "$tv1" "$tz1" "$(ratio "$tv1" "$tz1")"
printf '  naming the tree : vantrel-zip add -r -u %6.3f s   zip -r -u %6.3f s   ratio %s\n' \
  "$tv2" "$tz2" "$(ratio "$tv2" "$tz2")"
