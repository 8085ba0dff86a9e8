#!/bin/sh
# zip_volumes.sh - what writing an archive as three block volumes and reading
# it back costs against the same archive as one file, in the same run.
#
#   bench/zip_volumes.sh [PATH-TO-vantrel-zip] [DIRECTORY]
#
# The directory (default /usr/include) is packed at level 6 with
# "vantrel-zip add -r" into one file, and again with --split at a third of
# that archive's size (three volumes); each archive is then read back whole
# with "vantrel-zip test". A round is add + test; each figure is the best of
# five rounds, as wall-clock seconds and as CPU seconds (user + system, the
# steadier figure on a shared machine). The ratio is volumes / one file.
set -eu

TOOL=${1:-$(dirname "$0")/../build/vantrel-zip}
TOOL=$(cd "$(dirname "$TOOL")" && pwd)/$(basename "$TOOL")
SRC=${2:-/usr/include}
[ -x "$TOOL" ] || { echo "vantrel-zip not found: $TOOL" >&2; exit 2; }

WORK=$(mktemp -d "${TMPDIR:-/tmp}/zip_volumes_bench.XXXXXX")
trap 'rm -rf "$WORK"' EXIT INT TERM
cd "$(dirname "$SRC")"
NAME=$(basename "$SRC")

# round ARCHIVE [ADD-OPTIONS...]: one add and one test, timed together.
round() {
  zip=$1
  shift
  rm -f "$WORK"/one.* "$WORK"/vol.*
  /usr/bin/time -f "%e %U %S" -o "$WORK/add.txt" "$TOOL" add -r -6 "$@" "$zip" "$NAME" >/dev/null
  /usr/bin/time -f "%e %U %S" -o "$WORK/test.txt" "$TOOL" test "$zip" >/dev/null
  read -r w1 u1 s1 < "$WORK/add.txt"
  read -r w2 u2 s2 < "$WORK/test.txt"
  echo "$(echo "$w1 + $w2" | bc) $(echo "$u1 + $s1 + $u2 + $s2" | bc)"
}

# best ARCHIVE [ADD-OPTIONS...]: the fastest wall and CPU time of five rounds.
best() {
  bw=""
  bc=""
  for _ in 1 2 3 4 5; do
    r=$(round "$@")
    w=${r% *}
    c=${r#* }
    if [ -z "$bw" ] || [ "$(echo "$w < $bw" | bc)" = 1 ]; then bw=$w; fi
    if [ -z "$bc" ] || [ "$(echo "$c < $bc" | bc)" = 1 ]; then bc=$c; fi
  done
  echo "$bw $bc"
}

"$TOOL" add -r -6 "$WORK/size.zip" "$NAME" >/dev/null
size=$(stat -c %s "$WORK/size.zip")
split=$(( (size + 2) / 3 + 4096 ))
rm -f "$WORK/size.zip"

one=$(best "$WORK/one.zip")
vol=$(best "$WORK/vol.zip" --split "$split")
rm -f "$WORK"/vol.*
volumes=$("$TOOL" add -r -6 --split "$split" "$WORK/vol.zip" "$NAME" | tail -1)

printf 'add -r -6 + test of %s (%s files, archive %s bytes), best of 5\n' "$SRC" \
  "$(find "$NAME" -type f | wc -l)" "$size"
printf '  %s\n' "$volumes"
printf '  one file       wall %7.3f s  cpu %7.3f s\n' "${one% *}" "${one#* }"
printf '  three volumes  wall %7.3f s  cpu %7.3f s\n' "${vol% *}" "${vol#* }"
printf '  ratio          wall %s  cpu %s   (target: at most 1.2)\n' \
  "$(echo "scale=3; ${vol% *} / ${one% *}" | bc)" "$(echo "scale=3; ${vol#* } / ${one#* }" | bc)"
