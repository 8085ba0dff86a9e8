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

TOOL=${1:-$(dirname "$0")/../build/vantrel-zip}
TOOL=$(cd "$(dirname "$TOOL")" && pwd)/$(basename "$TOOL")
[ -x "$TOOL" ] || { echo "vantrel-zip not found: $TOOL" >&2; exit 2; }
command -v zip >/dev/null || { echo "Info-ZIP zip is needed as the peer" >&2; exit 2; }

WORK=$(mktemp -d "${TMPDIR:-/tmp}/zip_add_bench.XXXXXX")
trap 'rm -rf "$WORK"' EXIT INT TERM

# best COMMAND...: runs the command five times (with a setup step "$PREP"
# before each) and prints the fastest wall-clock time and the smallest CPU
# time (user + system) in seconds. On a loaded machine the CPU time is the
# steadier figure.
best() {
  bw=""
  bc=""
  for _ in 1 2 3 4 5; do
    eval "$PREP"
    # Status 1 is vantrel-zip's "done, with files left out".
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

wall() { echo "${1% *}"; }
cpu() { echo "${1#* }"; }

# row LABEL VANTREL-FIGURES ZIP-FIGURES
row() {
  printf '  %-28s wall %7.3f s  cpu %7.3f s | zip wall %7.3f s  cpu %7.3f s | ratio wall %s cpu %s\n' \
    "$1" "$(wall "$2")" "$(cpu "$2")" "$(wall "$3")" "$(cpu "$3")" \
    "$(ratio "$(wall "$2")" "$(wall "$3")")" "$(ratio "$(cpu "$2")" "$(cpu "$3")")"
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
row "vantrel-zip add -r -6" "$tv" "$tz"
printf '  archive sizes: vantrel-zip %s bytes, zip %s bytes\n' \
  "$(stat -c %s "$WORK/v.zip")" "$(stat -c %s "$WORK/z.zip")"

# ------------------------------------------------------------ 2. update one file
mkdir -p "$WORK/tree"
cd "$WORK"
# 100 directories of 100 small text files (about 0.5 to 4 KB each), written
# by one awk process.
awk -v RS='\001' 'NR == 1 { text = $0 }
  END {
    for (i = 0; i < 100; i++) {
      system("mkdir -p tree/d" i)
      for (j = 0; j < 100; j++) {
        f = "tree/d" i "/f" j ".txt"
        printf "%s", substr(text, 1, 500 + (i * 37 + j * 53) % 3500) > f
        close(f)
      }
    }
  }' /usr/include/stdio.h
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
row "naming the file (add -u)" "$tv1" "$tz1"
row "naming the tree (add -r -u)" "$tv2" "$tz2"
