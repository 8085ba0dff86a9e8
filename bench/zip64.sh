#!/bin/sh
# zip64.sh - archives past the classic limits, vantrel-zip against Info-ZIP
# zip and unzip in the same run.
#
#   bench/zip64.sh [PATH-TO-vantrel-zip]      (default: build/vantrel-zip)
#
# 1. "add -0" of a 6 GiB sparse file (ZIP64 sizes) against "zip -0", and its
#    extraction against "unzip": the archives are 6 GiB each, the disk must
#    have about 20 GiB free (checked first).
# 2. Listing an archive of 300,000 entries (a ZIP64 end record, made by
#    Python's zipfile) against "unzip -l", with the peak resident memory of
#    both (and of "7zz l") and ours per entry beyond the names and beyond
#    what listing a 1-entry archive takes.
# Each figure is the best of RUNS runs (default 3): wall-clock seconds and
# CPU seconds (user + system); on a loaded machine the CPU time is the
# steadier figure. SIZE_MIB changes the size of the sparse file (0 skips
# the sparse-file measurement).
set -eu

TOOL=${1:-$(dirname "$0")/../build/vantrel-zip}
TOOL=$(cd "$(dirname "$TOOL")" && pwd)/$(basename "$TOOL")
[ -x "$TOOL" ] || { echo "vantrel-zip not found: $TOOL" >&2; exit 2; }
for p in zip unzip python3 bc; do
  command -v $p >/dev/null || { echo "$p is needed" >&2; exit 2; }
done
RUNS=${RUNS:-3}
SIZE_MIB=${SIZE_MIB:-6144}

WORK=$(mktemp -d "${TMPDIR:-/tmp}/zip64_bench.XXXXXX")
trap 'rm -rf "$WORK"' EXIT INT TERM

free_gib=$(df -P -BG "$WORK" | awk 'NR == 2 { sub("G", "", $4); print $4 }')
need_gib=$((SIZE_MIB * 3 / 1024 + 2))
if [ "$free_gib" -lt $need_gib ]; then
  echo "need $need_gib GiB free in $WORK, have $free_gib" >&2
  exit 2
fi

# best COMMAND...: the fastest wall-clock time, the smallest CPU time and
# the smallest peak resident set (KiB) of RUNS runs, with "$PREP" before
# each run.
best() {
  bw="" bc="" bm=""
  i=0
  while [ $i -lt "$RUNS" ]; do
    i=$((i + 1))
    eval "$PREP"
    /usr/bin/time -f "%e %U %S %M" -o "$WORK/time.txt" "$@" >/dev/null 2>&1 ||
      { echo "failed: $*" >&2; exit 1; }
    read -r w u s m < "$WORK/time.txt"
    c=$(echo "$u + $s" | bc)
    if [ -z "$bw" ] || [ "$(echo "$w < $bw" | bc)" = 1 ]; then bw=$w; fi
    if [ -z "$bc" ] || [ "$(echo "$c < $bc" | bc)" = 1 ]; then bc=$c; fi
    if [ -z "$bm" ] || [ "$m" -lt "$bm" ]; then bm=$m; fi
  done
  echo "$bw $bc $bm"
}

field() { echo "$1" | cut -d' ' -f"$2"; }
ratio() { echo "scale=2; $1 / $2" | bc; }

# row LABEL VANTREL-FIGURES PEER-FIGURES
row() {
  printf '  %-34s wall %7.2f s  cpu %6.2f s | peer wall %7.2f s  cpu %6.2f s | ratio wall %s cpu %s\n' \
    "$1" "$(field "$2" 1)" "$(field "$2" 2)" "$(field "$3" 1)" "$(field "$3" 2)" \
    "$(ratio "$(field "$2" 1)" "$(field "$3" 1)")" "$(ratio "$(field "$2" 2)" "$(field "$3" 2)")"
}

echo "CPU: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2-), $(nproc) cores"

# ------------------------------------------------------------ 1. sparse file
cd "$WORK"
if [ "$SIZE_MIB" -gt 0 ]; then
  truncate -s "${SIZE_MIB}M" big.bin
  printf 'end' | dd of=big.bin bs=1 seek=$((SIZE_MIB * 1048576 - 3)) conv=notrunc 2>/dev/null
  PREP='rm -f v.zip z.zip'
  tv=$(best "$TOOL" add -0 v.zip big.bin)
  tz=$(best zip -q -0 z.zip big.bin)
  row "add -0, ${SIZE_MIB} MiB sparse (zip -0)" "$tv" "$tz"
  "$TOOL" add -0 v.zip big.bin >/dev/null
  if unzip -tqq v.zip >/dev/null; then echo "  our archive passes unzip -t"; else echo "  unzip -t FAILS"; fi
  rm -f z.zip
  mkdir -p a b
  PREP='rm -f a/big.bin'
  tv=$(best "$TOOL" extract -o -d a v.zip)
  PREP='rm -f b/big.bin'
  tz=$(best unzip -q -o v.zip -d b)
  row "extract ${SIZE_MIB} MiB (unzip)" "$tv" "$tz"
  if cmp -s big.bin a/big.bin && cmp -s big.bin b/big.bin; then
    echo "  extracted files identical"
  else
    echo "  extracted files DIFFER"
  fi
  rm -rf a b v.zip big.bin
fi

# ------------------------------------------------------------ 2. listing
python3 - many.zip <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_STORED) as z:
    for i in range(300000):
        z.writestr(f"folder{i % 1000:03d}/file{i:06d}.txt", b"x" * (i % 7))
PY
names=$(python3 -c "import sys, zipfile; print(sum(len(i.filename) for i in zipfile.ZipFile(sys.argv[1]).infolist()))" many.zip)
python3 -c "import zipfile; zipfile.ZipFile('one.zip', 'w').writestr('a', b'a')"
PREP=':'
base=$(best "$TOOL" list one.zip)
tv=$(best "$TOOL" list many.zip)
tz=$(best unzip -l many.zip)
t7=""
command -v 7zz >/dev/null && t7=$(best 7zz l many.zip)
row "list 300,000 entries (unzip -l)" "$tv" "$tz"
printf '  peak RSS: vantrel %d KiB (%d KiB for a 1-entry archive), unzip -l %d KiB%s\n' \
  "$(field "$tv" 3)" "$(field "$base" 3)" "$(field "$tz" 3)" \
  "${t7:+, 7zz l $(field "$t7" 3) KiB}"
printf '  vantrel: %d bytes per entry beyond the %d bytes of names and the 1-entry figure\n' \
  "$(( (($(field "$tv" 3) - $(field "$base" 3)) * 1024 - names) / 300000 ))" "$names"
