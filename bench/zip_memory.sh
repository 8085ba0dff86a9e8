#!/bin/sh
# zip_memory.sh - peak resident memory of listing a large archive: vantrel-zip
# list against "unzip -l" and "7zz l" in the same run.
#
#   bench/zip_memory.sh [PATH-TO-vantrel-zip [PATH-TO-bench_zip_window_list]]
#   (defaults: build/vantrel-zip, build/bench/bench_zip_window_list)
#
# For 50,000 and 300,000 entries (archives made by Python's zipfile, names
# like "folder123/file000123.txt", every 100th one 100-300 bytes long) it prints the smallest peak RSS
# (KiB, /usr/bin/time %M) of RUNS runs (default 3) of each tool, and ours
# per entry beyond the name bytes and beyond listing a 1-entry archive:
#   ((RSS(N) - RSS(1)) * 1024 - name bytes) / N
# "list" opens the archive the way the ZIP window does (the directory read
# in archive order, no sorted view) and then prints it in 64 KB pieces. The
# window itself (offscreen: the directory, its sorted rows and the first
# screen painted) is measured the same way when its bench program is built.
set -eu

TOOL=${1:-$(dirname "$0")/../build/vantrel-zip}
TOOL=$(cd "$(dirname "$TOOL")" && pwd)/$(basename "$TOOL")
[ -x "$TOOL" ] || { echo "vantrel-zip not found: $TOOL" >&2; exit 2; }
WINDOW=${2:-$(dirname "$TOOL")/bench/bench_zip_window_list}
[ -x "$WINDOW" ] && WINDOW=$(cd "$(dirname "$WINDOW")" && pwd)/$(basename "$WINDOW") || WINDOW=""
for p in unzip python3; do
  command -v $p >/dev/null || { echo "$p is needed" >&2; exit 2; }
done
RUNS=${RUNS:-3}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/zip_memory.XXXXXX")
trap 'rm -rf "$WORK"' EXIT INT TERM
cd "$WORK"

# rss COMMAND...: the smallest peak resident set (KiB) of RUNS runs.
rss() {
  best=""
  i=0
  while [ $i -lt "$RUNS" ]; do
    i=$((i + 1))
    /usr/bin/time -f "%M" -o time.txt "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
    m=$(cat time.txt)
    if [ -z "$best" ] || [ "$m" -lt "$best" ]; then best=$m; fi
  done
  echo "$best"
}

echo "CPU: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2-), $(nproc) cores"
python3 -c "import zipfile; zipfile.ZipFile('one.zip', 'w').writestr('a', b'a')"
base=$(rss "$TOOL" list one.zip)
echo "  1-entry archive: vantrel-zip list $base KiB"
[ -n "$WINDOW" ] && wbase=$(rss "$WINDOW" 1 "$WORK/one.zip") && echo "  1-entry archive: ZIP window $wbase KiB"
for n in 50000 300000; do
  # Prints the name bytes (as stored) of the archive it makes.
  names=$(python3 - "$n" many.zip <<'PY'
import sys, zipfile
n, total = int(sys.argv[1]), 0
with zipfile.ZipFile(sys.argv[2], "w", zipfile.ZIP_STORED) as z:
    for i in range(n):
        name = f"folder{i % 1000:03d}/file{i:06d}.txt"
        if i % 100 == 1:
            name = f"deep{i % 7}/" + "x" * (100 + i % 200) + f"{i}.bin"
        z.writestr(name, b"x" * (i % 7))
        total += len(name)
print(total)
PY
)
  ours=$(rss "$TOOL" list many.zip)
  un=$(rss unzip -l many.zip)
  s7="-"
  command -v 7zz >/dev/null && s7=$(rss 7zz l many.zip)
  printf '  %6d entries (%d name bytes): vantrel-zip list %d KiB, unzip -l %d KiB, 7zz l %s KiB\n' \
    "$n" "$names" "$ours" "$un" "$s7"
  printf '  %6d entries: vantrel %d bytes per entry beyond the names and the 1-entry figure\n' \
    "$n" "$(( ((ours - base) * 1024 - names) / n ))"
  if [ -n "$WINDOW" ]; then
    win=$(rss "$WINDOW" 1 "$WORK/many.zip")
    printf '  %6d entries: ZIP window %d KiB, %d bytes per entry beyond the names and the 1-entry figure\n' \
      "$n" "$win" "$(( ((win - wbase) * 1024 - names) / n ))"
  fi
done
