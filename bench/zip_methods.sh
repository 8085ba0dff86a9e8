#!/bin/sh
# zip_methods.sh - decoding speed of the library-backed methods and of AES,
# against the libraries' own command-line tools and 7-Zip, in the same run.
#
#   bench/zip_methods.sh [BUILD_DIR]      (default: build; RUNS=5 by default)
#
# 1. bzip2, LZMA, XZ and Zstandard: 64 MiB of mixed data (headers, program
#    files, random runs) is compressed once by bzip2 -9, xz -6, xz
#    --format=lzma -6 and zstd -3; each stream becomes the single entry of an
#    archive (method 12, 14, 95, 93). "vantrel-zip test" of the archive is
#    timed against "bzip2 -dc", "xz -dc", "xz -dc --format=lzma" and
#    "zstd -dc" of the same stream into /dev/null.
# 2. AES-256 with deflate: an archive of about 200 MB made by
#    "7zz a -tzip -mem=AES256 -mm=Deflate"; "vantrel-zip test -P" against
#    "7zz t -p".
# Figures are CPU seconds (user + system of the child, best of RUNS, the two
# programs alternating), the steadier measure on a shared machine. The ratio
# is the peer's time over ours: above 1 means we are faster.
set -eu
BUILD=${1:-build}
TOOL=$(cd "$BUILD" && pwd)/vantrel-zip
RUNS=${RUNS:-5}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/zip_methods_bench.XXXXXX")
trap 'rm -rf "$WORK"' EXIT INT TERM
for t in bzip2 xz zstd 7zz python3; do
  command -v $t >/dev/null || { echo "$t is needed as a peer" >&2; exit 2; }
done

# pair NAME OURS THEIRS: best CPU time of each command, alternating.
pair() { python3 "$(dirname "$0")/cpu_pair.py" "$RUNS" "$@"; }

# 64 MiB of mixed data.
python3 - "$WORK/data" <<'PY'
import os, random, sys
random.seed(1)
out, size = bytearray(), 64 << 20
roots = ["/usr/include", "/usr/bin", "/usr/share/doc"]
files = []
for r in roots:
    for d, _, names in os.walk(r):
        files += [os.path.join(d, n) for n in sorted(names)]
random.shuffle(files)
for f in files:
    if len(out) >= size: break
    try:
        with open(f, "rb") as h: out += h.read(1 << 20)
    except OSError: pass
    if random.random() < 0.05: out += random.randbytes(random.randint(1000, 100000))
open(sys.argv[1], "wb").write(out[:size])
PY

# wrap STREAM METHOD FLAGS ARCHIVE [LZMA]: a one-entry archive around a stream.
wrap() {
  python3 - "$WORK/data" "$@" <<'PY'
import struct, sys, zlib
data_path, stream_path, method, flags, archive = sys.argv[1:6]
lzma_alone = len(sys.argv) > 6
data = open(data_path, "rb").read()
body = open(stream_path, "rb").read()
if lzma_alone:  # .lzma: properties (5), size (8), raw stream
    body = bytes([9, 20, 5, 0]) + body[:5] + body[13:]
crc, name = zlib.crc32(data), b"data"
local = struct.pack("<IHHHIIIIHH", 0x04034B50, 63, int(flags), int(method), 0x58210000, crc,
                    len(body), len(data), len(name), 0) + name
central = struct.pack("<IHHHHIIIIHHHHHII", 0x02014B50, 63, 63, int(flags), int(method), 0x58210000,
                      crc, len(body), len(data), len(name), 0, 0, 0, 0, 0, 0) + name
end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 1, 1, len(central), len(local) + len(body), 0)
open(archive, "wb").write(local + body + central + end)
PY
}

bzip2 -9 -c "$WORK/data" > "$WORK/s.bz2"
xz -6 -c "$WORK/data" > "$WORK/s.xz"
xz --format=lzma -6 -c < "$WORK/data" > "$WORK/s.lzma"
zstd -q -3 -c "$WORK/data" > "$WORK/s.zst"
wrap "$WORK/s.bz2" 12 0 "$WORK/bz2.zip"
wrap "$WORK/s.xz" 95 0 "$WORK/xz.zip"
wrap "$WORK/s.lzma" 14 2 "$WORK/lzma.zip" lzma
wrap "$WORK/s.zst" 93 0 "$WORK/zst.zip"
for z in bz2 xz lzma zst; do "$TOOL" test "$WORK/$z.zip" >/dev/null || { echo "$z.zip does not test OK" >&2; exit 1; }; done

echo "CPU: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
pair "bzip2 (bzip2 -dc)" "'$TOOL' test '$WORK/bz2.zip'" "bzip2 -dc '$WORK/s.bz2'"
pair "LZMA (xz -dc --format=lzma)" "'$TOOL' test '$WORK/lzma.zip'" "xz -dc --format=lzma '$WORK/s.lzma'"
pair "XZ (xz -dc)" "'$TOOL' test '$WORK/xz.zip'" "xz -dc '$WORK/s.xz'"
pair "Zstandard (zstd -dc)" "'$TOOL' test '$WORK/zst.zip'" "zstd -q -dc '$WORK/s.zst'"

# About 200 MB of AES-256 + deflate: the mixed data seven times over, each
# copy's bytes mapped differently so that deflate cannot reuse whole copies.
python3 - "$WORK/data" "$WORK/big" <<'PY'
import sys
d = open(sys.argv[1], "rb").read()
with open(sys.argv[2], "wb") as f:
    for i in range(7):
        f.write(d.translate(bytes((b * 5 + i * 37) & 0xFF for b in range(256))) if i else d)
PY
(cd "$WORK" && 7zz a -tzip -mem=AES256 -mm=Deflate -mx=5 -pbench aes.zip big >/dev/null)
echo "AES archive: $(stat -c %s "$WORK/aes.zip") bytes"
"$TOOL" test -P bench "$WORK/aes.zip" >/dev/null || { echo "aes.zip does not test OK" >&2; exit 1; }
pair "AES-256 + deflate (7zz t)" "'$TOOL' test -P bench '$WORK/aes.zip'" "7zz t -pbench '$WORK/aes.zip'"
