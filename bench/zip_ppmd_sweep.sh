#!/bin/sh
# zip_ppmd_sweep.sh - PPMd entries by 7-Zip at every model order and memory
# size, decoded byte for byte: the full sweep the test suite samples.
#
#   bench/zip_ppmd_sweep.sh [BUILD_DIR]   (default: build)
#   ORDERS="2 3 ... 16" MEGABYTES="1 2 4 ... 256" LEVELS="5 9" to narrow it.
#
# The data: 12 MiB of text (C headers) and 8 MiB of programs and libraries,
# two files, so that 7-Zip keeps the memory asked for (it lowers it only for
# small files) and models of 1 to 16 MB fill up again and again. For every
# order, memory size and level (5: restart when memory is full, 9: cut-off)
# 7-Zip writes the archive, the header of its first entry is printed (order,
# MB, restoration method as stored) and "vantrel-zip test" must pass: every
# byte's CRC and the sizes. Takes hours on a shared machine with the full
# lists; prints one line per archive and a summary, exits 1 on any failure.
set -eu
BUILD=${1:-build}
TOOL=$(cd "$BUILD" && pwd)/vantrel-zip
ORDERS=${ORDERS:-"2 3 4 5 6 7 8 9 10 11 12 13 14 15 16"}
MEGABYTES=${MEGABYTES:-"1 2 4 8 16 32 64 128 256"}
LEVELS=${LEVELS:-"5 9"}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/zip_ppmd_sweep.XXXXXX")
trap 'rm -rf "$WORK"' EXIT INT TERM

python3 - "$WORK" <<'PY'
import os, sys
def gather(roots, size, keep):
    out = bytearray()
    for r in roots:
        for d, _, ns in sorted(os.walk(r)):
            for n in sorted(ns):
                if len(out) >= size: return out[:size]
                f = os.path.join(d, n)
                if not keep(f) or os.path.islink(f): continue
                try:
                    with open(f, "rb") as h: out += h.read(4 << 20)
                except OSError: pass
    return out
open(os.path.join(sys.argv[1], "text.h"), "wb").write(gather(["/usr/include"], 12 << 20, lambda f: f.endswith(".h")))
open(os.path.join(sys.argv[1], "programs.bin"), "wb").write(
    gather(["/usr/bin", "/usr/lib/x86_64-linux-gnu"], 8 << 20, lambda f: os.path.isfile(f)))
PY

failed=0
total=0
for level in $LEVELS; do
  for order in $ORDERS; do
    for mb in $MEGABYTES; do
      rm -f "$WORK/a.zip"
      (cd "$WORK" && 7zz a -tzip -mm=PPMd -mo="$order" -mmem="${mb}m" -mx="$level" a.zip text.h programs.bin >/dev/null)
      stored=$(python3 -c "
import struct, sys
b = open(sys.argv[1], 'rb').read(); n, x = struct.unpack_from('<HH', b, 26)
w = b[30 + n + x] | b[31 + n + x] << 8
print(f'stored order {(w & 15) + 1}, {((w >> 4) & 255) + 1} MB, restoration {w >> 12}')" "$WORK/a.zip")
      total=$((total + 1))
      if "$TOOL" test "$WORK/a.zip" >/dev/null 2>"$WORK/err"; then
        echo "level $level order $order ${mb} MB: $stored: OK"
      else
        failed=$((failed + 1))
        echo "level $level order $order ${mb} MB: $stored: FAILED $(head -c 300 "$WORK/err")"
      fi
    done
  done
done
echo "$total archives, $failed failed"
[ "$failed" -eq 0 ]
