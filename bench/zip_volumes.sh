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
# seven rounds, as wall-clock seconds and as CPU seconds (user + system, the
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

# min A B: the smaller of two figures (an empty A counts as none).
min() { if [ -z "$1" ] || [ "$(echo "$2 < $1" | bc)" = 1 ]; then echo "$2"; else echo "$1"; fi; }

"$TOOL" add -r -6 "$WORK/size.zip" "$NAME" >/dev/null
size=$(stat -c %s "$WORK/size.zip")
split=$(( (size + 2) / 3 + 4096 ))
rm -f "$WORK/size.zip"

# The two kinds of round alternate, so that the load of a shared machine
# falls on both alike; the best of seven of each counts.
ow="" oc="" vw="" vc=""
for _ in 1 2 3 4 5 6 7; do
  r=$(round "$WORK/one.zip")
  ow=$(min "$ow" "${r% *}")
  oc=$(min "$oc" "${r#* }")
  r=$(round "$WORK/vol.zip" --split "$split")
  vw=$(min "$vw" "${r% *}")
  vc=$(min "$vc" "${r#* }")
done
one="$ow $oc"
vol="$vw $vc"
rm -f "$WORK"/vol.*
volumes=$("$TOOL" add -r -6 --split "$split" "$WORK/vol.zip" "$NAME" | tail -1)

printf 'add -r -6 + test of %s (%s files, archive %s bytes), best of 7\n' "$SRC" \
  "$(find "$NAME" -type f | wc -l)" "$size"
printf '  %s\n' "$volumes"
printf '  one file       wall %7.3f s  cpu %7.3f s\n' "${one% *}" "${one#* }"
printf '  three volumes  wall %7.3f s  cpu %7.3f s\n' "${vol% *}" "${vol#* }"
printf '  ratio          wall %s  cpu %s   (target: at most 1.2)\n' \
  "$(echo "scale=3; ${vol% *} / ${one% *}" | bc)" "$(echo "scale=3; ${vol#* } / ${one#* }" | bc)"
