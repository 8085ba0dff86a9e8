#!/bin/sh
# zip_ppmd.sh - PPMd (method 98) decoding speed against 7-Zip, in the same run.
#
#   bench/zip_ppmd.sh [BUILD_DIR]      (default: build; RUNS=5 by default)
#
# 50 MiB of text (C headers from /usr/include, whole files in name order) is
# packed by 7-Zip as a ZIP with PPMd at its default level (model order 8,
# 16 MB, restart when memory is full) and at level 9 (order 12, 256 MB,
# cut-off); "vantrel-zip test" of each archive is timed against "7zz t" of the
# same archive. Both check the CRC of every byte and write nothing.
# Figures are CPU seconds (user + system of the child, best of RUNS, the two
# programs alternating), the steadier measure on a shared machine. The ratio
# is 7-Zip's time over ours: above 1 means we are faster.
set -eu
BUILD=${1:-build}
TOOL=$(cd "$BUILD" && pwd)/vantrel-zip
RUNS=${RUNS:-5}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/zip_ppmd_bench.XXXXXX")
trap 'rm -rf "$WORK"' EXIT INT TERM
for t in 7zz python3; do
  command -v $t >/dev/null || { echo "$t is needed" >&2; exit 2; }
done

python3 - "$WORK/text" <<'PY'
import os, sys
size, out = 50 << 20, bytearray()
names = sorted(os.path.join(d, n) for d, _, ns in os.walk("/usr/include") for n in ns if n.endswith(".h"))
for f in names:
    if len(out) >= size: break
    try:
        with open(f, "rb") as h: out += h.read()
    except OSError: pass
if len(out) < size: sys.exit("not enough text under /usr/include")
open(sys.argv[1], "wb").write(out[:size])
PY

(cd "$WORK" && 7zz a -tzip -mm=PPMd default.zip text >/dev/null && 7zz a -tzip -mm=PPMd -mx=9 level9.zip text >/dev/null)
for z in default level9; do
  "$TOOL" test "$WORK/$z.zip" >/dev/null || { echo "$z.zip does not test OK" >&2; exit 1; }
done

# pair NAME OURS THEIRS: best CPU time of each command, alternating.
pair() { python3 "$(dirname "$0")/cpu_pair.py" "$RUNS" "$@" 7zz; }

echo "CPU: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
header() { python3 -c "
import struct, sys
b = open(sys.argv[1], 'rb').read(); n, x = struct.unpack_from('<HH', b, 26)
w = b[30 + n + x] | b[31 + n + x] << 8
print(f'order {(w & 15) + 1}, {((w >> 4) & 255) + 1} MB, restoration {w >> 12}')" "$1"; }
echo "default level: $(header "$WORK/default.zip"), $(stat -c %s "$WORK/default.zip") bytes"
echo "level 9:       $(header "$WORK/level9.zip"), $(stat -c %s "$WORK/level9.zip") bytes"
pair "50 MiB text, default level (7zz t)" "'$TOOL' test '$WORK/default.zip'" "7zz t '$WORK/default.zip'"
pair "50 MiB text, level 9 (7zz t)" "'$TOOL' test '$WORK/level9.zip'" "7zz t '$WORK/level9.zip'"
