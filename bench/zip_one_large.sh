#!/bin/sh
# zip_one_large.sh - extracting one large deflated entry with 1 against 2
# threads (with 2, the entry's CRC and its writing run on a thread beside the
# decoder).
#
#   bench/zip_one_large.sh [PATH-TO-vantrel-zip] [SIZE-MB] [RUNS]
#
# Makes a mixed file of SIZE-MB (default 1024) megabytes: text from
# /usr/include in runs, with a run of random bytes every few megabytes, so
# that it deflates to about a quarter and inflates at a speed typical of
# real data. Packs it as one entry (add -6), then extracts it with
# --threads 1 and 2, alternating, RUNS times (default 5), checks that both
# give the original file, and prints for each the run whose busiest thread
# used the least processor time: its wall, all threads' processor time, the
# busiest thread's, and the ratio of the busiest threads' times. Work files go to
# $TMPDIR (use /dev/shm to leave the disk out).
set -eu

TOOL=${1:-$(dirname "$0")/../build/vantrel-zip}
TOOL=$(cd "$(dirname "$TOOL")" && pwd)/$(basename "$TOOL")
SIZE_MB=${2:-1024}
RUNS=${3:-5}
[ -x "$TOOL" ] || { echo "vantrel-zip not found: $TOOL" >&2; exit 2; }

WORK=$(mktemp -d "${TMPDIR:-/tmp}/zip_one_large.XXXXXX")
trap 'rm -rf "$WORK"' EXIT INT TERM

# The mixed file: 7 MB of header text, then 1 MB of random bytes, repeated.
find /usr/include -type f -name '*.h' -print0 | sort -z | xargs -0 cat 2>/dev/null | head -c $((7 << 20)) > "$WORK/text"
head -c $((1 << 20)) /dev/urandom > "$WORK/noise"
mkdir "$WORK/in"
i=0
while [ $((i * 8)) -lt "$SIZE_MB" ]; do
  cat "$WORK/text" "$WORK/noise"
  i=$((i + 1))
done | head -c $((SIZE_MB << 20)) > "$WORK/in/large.bin"
rm "$WORK/text" "$WORK/noise"
(cd "$WORK/in" && "$TOOL" add -6 "$WORK/a.zip" large.bin >/dev/null)
echo "one entry of $SIZE_MB MB, $(stat -c %s "$WORK/a.zip") bytes deflated;" \
  "$(nproc) processors, load $(cut -d' ' -f1 /proc/loadavg); best of $RUNS"

# Best of the runs by the busiest thread's processor time, which stands for
# the wall time of an idle machine (see thread_cpu.py); the wall time of
# that run and the processor time of all threads go along.
for _ in $(seq "$RUNS"); do
  for t in 1 2; do
    rm -rf "$WORK/x$t"
    "$(dirname "$0")/thread_cpu.py" "$TOOL" extract --threads "$t" -d "$WORK/x$t" "$WORK/a.zip" \
      2> "$WORK/time.txt" || { echo "failed: extract --threads $t" >&2; exit 1; }
    read -r _ w _ c _ b < "$WORK/time.txt"
    echo "    run: --threads $t wall $w s  cpu $c s  busiest thread $b s" >&2
    if [ ! -s "$WORK/best$t" ] || [ "$(echo "$b < $(cut -d' ' -f3 "$WORK/best$t")" | bc)" = 1 ]; then
      echo "$w $c $b" > "$WORK/best$t"
    fi
    cmp -s "$WORK/in/large.bin" "$WORK/x$t/large.bin" ||
      { echo "--threads $t extracted other bytes" >&2; exit 1; }
  done
done
read -r w1 c1 b1 < "$WORK/best1"
read -r w2 c2 b2 < "$WORK/best2"
echo "load after the runs $(cut -d' ' -f1 /proc/loadavg)"
printf '  %-14s wall %7.3f s  cpu %7.3f s  busiest thread %7.3f s\n' "--threads 1" "$w1" "$c1" "$b1"
printf '  %-14s wall %7.3f s  cpu %7.3f s  busiest thread %7.3f s  (%s x 1 thread)\n' "--threads 2" \
  "$w2" "$c2" "$b2" "$(echo "scale=2; $b2 / $b1" | bc)"
