#!/bin/sh
# zip_split_deflate.sh - packing one large file with and without
# --split-deflate, at 1 and 2 threads (or THREADS).
#
#   bench/zip_split_deflate.sh [PATH-TO-vantrel-zip] [SIZE-MB] [RUNS] [THREADS]
#
# Makes the mixed file of zip_one_large.sh (SIZE-MB, default 1024: header
# text with a megabyte of random bytes every 8), packs it with add -6 at
# --threads 1 and THREADS (default 2), each with and without --split-deflate,
# alternating, RUNS times (default 3), and prints for each the run whose
# busiest thread used the least processor time (thread_cpu.py: it stands for
# the wall time of an idle machine): wall, processor time of all threads,
# the busiest thread's, and that against --threads 1 without split; then the
# archives' sizes. Checks that the split archives are the same at both
# thread counts, and tests the last with unzip -t, 7zz t, Python's zipfile
# and bsdtar (extracted and compared); then the peak resident memory of a
# split run at THREADS. Work files go to $TMPDIR (use /dev/shm to leave the
# disk out).
set -eu

TOOL=${1:-$(dirname "$0")/../build/vantrel-zip}
TOOL=$(cd "$(dirname "$TOOL")" && pwd)/$(basename "$TOOL")
SIZE_MB=${2:-1024}
RUNS=${3:-3}
THREADS=${4:-2}
HERE=$(cd "$(dirname "$0")" && pwd)
[ -x "$TOOL" ] || { echo "vantrel-zip not found: $TOOL" >&2; exit 2; }

WORK=$(mktemp -d "${TMPDIR:-/tmp}/zip_split_deflate.XXXXXX")
trap 'rm -rf "$WORK"' EXIT INT TERM

find /usr/include -type f -name '*.h' -print0 | sort -z | xargs -0 cat 2>/dev/null | head -c $((7 << 20)) > "$WORK/text"
head -c $((1 << 20)) /dev/urandom > "$WORK/noise"
mkdir "$WORK/in"
i=0
while [ $((i * 8)) -lt "$SIZE_MB" ]; do
  cat "$WORK/text" "$WORK/noise"
  i=$((i + 1))
done | head -c $((SIZE_MB << 20)) > "$WORK/in/large.bin"
rm "$WORK/text" "$WORK/noise"
echo "one file of $SIZE_MB MB; $(nproc) processors, load $(cut -d' ' -f1 /proc/loadavg); best of $RUNS"

# Name, threads, options of each configuration.
CONFIGS="t1:1: tN:$THREADS: t1split:1:--split-deflate tNsplit:$THREADS:--split-deflate"
for _ in $(seq "$RUNS"); do
  for c in $CONFIGS; do
    name=${c%%:*} rest=${c#*:}
    t=${rest%%:*} opt=${rest#*:}
    rm -f "$WORK/$name.zip"
    # shellcheck disable=SC2086
    (cd "$WORK/in" && "$HERE/thread_cpu.py" "$TOOL" add -6 --threads "$t" $opt "$WORK/$name.zip" large.bin) \
      2> "$WORK/time.txt" || { echo "failed: add --threads $t $opt" >&2; exit 1; }
    read -r _ w _ cpu _ b < "$WORK/time.txt"
    echo "    run: --threads $t $opt wall $w s  cpu $cpu s  busiest thread $b s" >&2
    if [ ! -s "$WORK/best.$name" ] || [ "$(echo "$b < $(cut -d' ' -f3 "$WORK/best.$name")" | bc)" = 1 ]; then
      echo "$w $cpu $b" > "$WORK/best.$name"
    fi
  done
done
echo "load after the runs $(cut -d' ' -f1 /proc/loadavg)"
read -r _ _ base < "$WORK/best.t1"
for c in $CONFIGS; do
  name=${c%%:*} rest=${c#*:}
  t=${rest%%:*} opt=${rest#*:}
  read -r w cpu b < "$WORK/best.$name"
  printf '  --threads %-2s %-16s wall %7.3f s  cpu %7.3f s  busiest thread %7.3f s  (%s x 1 thread)  %s bytes\n' \
    "$t" "$opt" "$w" "$cpu" "$b" "$(echo "scale=2; $b / $base" | bc)" "$(stat -c %s "$WORK/$name.zip")"
done
plain=$(stat -c %s "$WORK/tN.zip")
split=$(stat -c %s "$WORK/tNsplit.zip")
echo "  split is $(echo "scale=4; ($split - $plain) * 100 / $plain" | bc) % larger"

cmp -s "$WORK/t1split.zip" "$WORK/tNsplit.zip" || { echo "split archives differ between thread counts" >&2; exit 1; }
unzip -tq "$WORK/tNsplit.zip" >/dev/null && echo "  unzip -t: ok"
if command -v 7zz >/dev/null; then 7zz t "$WORK/tNsplit.zip" >/dev/null && echo "  7zz t: ok"; fi
python3 -c 'import sys,zipfile; z=zipfile.ZipFile(sys.argv[1]); sys.exit(1 if z.testzip() else 0)' \
  "$WORK/tNsplit.zip" && echo "  Python zipfile: ok"
if command -v bsdtar >/dev/null; then
  mkdir "$WORK/x" && bsdtar -xf "$WORK/tNsplit.zip" -C "$WORK/x" && cmp -s "$WORK/x/large.bin" "$WORK/in/large.bin" &&
    echo "  bsdtar: extracted, same bytes"
  rm -rf "$WORK/x"
fi
rm -f "$WORK/tNsplit.zip"
/usr/bin/time -f "%M" -o "$WORK/rss" sh -c "cd '$WORK/in' && '$TOOL' add -6 --threads $THREADS --split-deflate '$WORK/tNsplit.zip' large.bin >/dev/null"
echo "  peak resident, --threads $THREADS --split-deflate: $(($(cat "$WORK/rss") / 1024)) MB"
