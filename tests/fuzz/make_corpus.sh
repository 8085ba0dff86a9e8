#!/usr/bin/env bash
# Regenerates the seed corpora under tests/fuzz/corpus from inputs this project
# makes itself: the legacy test encoders (tests/zip/legacy_encoders.*), the
# engine's own writer (build/vantrel-zip), Python's zlib and zipfile, Info-ZIP
# zip and 7-Zip. It overwrites only the files it makes: the crash regressions
# the fuzzers found (crash-*), the inputs they found from these seeds that
# reach further (found-*, kept by libFuzzer's -merge=1) and hand-made inputs
# stay. Usage: tests/fuzz/make_corpus.sh (after
# scripts/build). The output is deterministic except for the archives' dates.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
corpus="$root/tests/fuzz/corpus"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for t in explode unreduce unshrink inflate inflate64 deflate_roundtrip zipreader ppmd; do mkdir -p "$corpus/$t"; done

# Legacy decoder seeds and archives of every legacy method.
c++ -std=c++20 -O2 -I"$root" -o "$work/legacy_seeds" "$root/tests/fuzz/tools/legacy_seeds.cpp" \
  "$root/tests/zip/legacy_encoders.cpp" "$root/zip/crypto/zipcrypt.cpp" "$root/zip/codec/crc32.cpp" -lz
"$work/legacy_seeds" "$corpus"

# Deflate streams of every block kind, archives from Python's zipfile, and
# inputs for the compressor round trip.
python3 - "$corpus" "$work" <<'PY'
import io, os, random, sys, zipfile, zlib
corpus, work = sys.argv[1], sys.argv[2]
rng = random.Random(7)
words = b"alpha beta gamma delta epsilon zeta eta theta iota kappa lambda mu \n".split(b" ")
text = b" ".join(rng.choice(words) for _ in range(900))
binary = bytes(rng.randrange(256) if i % 7 else i % 256 for i in range(3000))
runs = b"\0" * 2000 + b"ab" * 300 + bytes(range(256)) * 2
def put(path, data):
    with open(os.path.join(corpus, path), "wb") as f: f.write(data)
def raw(data, level, strategy=zlib.Z_DEFAULT_STRATEGY):
    c = zlib.compressobj(level, zlib.DEFLATED, -15, 9, strategy)
    return c.compress(data) + c.flush()
# inflate: byte 0 picks the input block size.
for i, (data, level, strategy) in enumerate([
        (text, 6, zlib.Z_DEFAULT_STRATEGY), (binary, 9, zlib.Z_DEFAULT_STRATEGY),
        (runs, 1, zlib.Z_RLE), (text, 6, zlib.Z_FIXED), (binary, 6, zlib.Z_HUFFMAN_ONLY),
        (text[:700], 0, zlib.Z_DEFAULT_STRATEGY), (b"", 6, zlib.Z_DEFAULT_STRATEGY)]):
    put(f"inflate/zlib-{i}", bytes([i]) + raw(data, level, strategy))
# Several blocks: a full flush ends one block and starts the next.
c = zlib.compressobj(6, zlib.DEFLATED, -15)
put("inflate/zlib-flushes", b"\x05" + c.compress(text[:900]) + c.flush(zlib.Z_FULL_FLUSH)
    + c.compress(binary[:500]) + c.flush(zlib.Z_SYNC_FLUSH) + c.compress(runs) + c.flush())
# deflate_roundtrip: byte 0 the level, byte 1 the read sizes, then the data.
put("deflate_roundtrip/text", b"\x01\xc8" + text[:2500])
put("deflate_roundtrip/binary", b"\x08\x10" + binary)
put("deflate_roundtrip/runs", b"\x05\x80" + runs)
# A long zero run, then data: the window slides while reads arrive in chunks.
put("deflate_roundtrip/zeros-slide-chunked", b"\x03\xff" + b"\0" * 70000 + binary[:2000])
# zipreader: archives by Python's zipfile.
def archive(name, entries, comment=b"", **kw):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", **kw) as z:
        z.comment = comment
        for n, data, method in entries:
            info = zipfile.ZipInfo(n, (2001, 2, 3, 4, 5, 6))
            info.compress_type = method
            info.comment = b"entry comment" if n.endswith("/") else b""
            z.writestr(info, data)
    put("zipreader/" + name, buf.getvalue())
    return buf.getvalue()
D, S = zipfile.ZIP_DEFLATED, zipfile.ZIP_STORED
archive("py-mixed.zip", [("dir/", b"", S), ("dir/a.txt", text[:800], D), ("b.bin", binary[:600], S),
                         ("empty.txt", b"", D)], comment=b"archive comment")
archive("py-bzip2-lzma.zip", [("c.txt", text[:500], zipfile.ZIP_BZIP2), ("d.txt", text[:500], zipfile.ZIP_LZMA)])
z64 = io.BytesIO()
with zipfile.ZipFile(z64, "w") as z:
    with z.open("big.txt", "w", force_zip64=True) as f: f.write(text[:400])
put("zipreader/py-zip64.zip", z64.getvalue())
# Written to a stream that cannot seek: data descriptors after every entry.
class NoSeek(io.RawIOBase):
    def __init__(self): self.data = bytearray()
    def writable(self): return True
    def write(self, b): self.data += b; return len(b)
s = NoSeek()
with zipfile.ZipFile(s, "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("s1.txt", text[:300]); z.writestr("s2.txt", runs[:400])
put("zipreader/py-descriptors.zip", bytes(s.data))
# Damaged copies: a cut directory, a flipped data byte, junk in front, an end
# record in the comment.
good = archive("py-small.zip", [("x.txt", text[:200], D), ("y.txt", b"y" * 50, S)])
put("zipreader/py-truncated.zip", good[:len(good) * 2 // 3])
put("zipreader/py-truncated-odd.zip", good[:len(good) // 2 | 1])
bad = bytearray(good); bad[40] ^= 0x55; put("zipreader/py-bad-data.zip", bytes(bad))
put("zipreader/py-junk-in-front.zip", b"MZ" + b"\0" * 60 + good)
archive("py-fake-end-in-comment.zip", [("h.txt", b"hello\n", S)], comment=b"PK\x05\x06" + b"\0" * 18)
open(os.path.join(work, "text.txt"), "wb").write(text)
open(os.path.join(work, "binary.bin"), "wb").write(binary)
open(os.path.join(work, "runs.dat"), "wb").write(runs)
PY

# Archives by Info-ZIP zip (stored, deflated, encrypted with "pw") and 7-Zip
# (deflate, deflate64, bzip2, encrypted), and by the engine's own writer.
cd "$work"
mkdir -p sub && cp runs.dat sub/
zip -q -X -0 "$corpus/zipreader/zip-stored.zip" text.txt sub/runs.dat
zip -q -X -9 -z "$corpus/zipreader/zip-deflated-comment.zip" text.txt binary.bin <<<"a comment"
zip -q -X -P pw "$corpus/zipreader/zip-encrypted.zip" text.txt runs.dat
7zz a -bso0 -tzip -mm=Deflate "$corpus/zipreader/7z-deflate.zip" text.txt binary.bin
7zz a -bso0 -tzip -mm=Deflate64 "$corpus/zipreader/7z-deflate64.zip" text.txt
7zz a -bso0 -tzip -mm=BZip2 "$corpus/zipreader/7z-bzip2.zip" runs.dat
7zz a -bso0 -tzip -ppw "$corpus/zipreader/7z-encrypted.zip" text.txt
"$root/build/vantrel-zip" add -6 "$corpus/zipreader/vantrel-6.zip" text.txt binary.bin sub/runs.dat >/dev/null
# inflate64: the raw streams of 7-Zip's Deflate64 entries, one with repeats
# beyond 32 KB; byte 0 picks the input block size.
python3 -c 'import random; r = random.Random(9); a = bytes(r.randrange(256) for _ in range(3000)); open("far.bin", "wb").write(a + b"\0" * 40000 + a)'
for f in text.txt binary.bin runs.dat far.bin; do
  7zz a -bso0 -tzip -mm=Deflate64 "$work/d64-$f.zip" "$f"
  python3 - "$work/d64-$f.zip" "$corpus/inflate64/7z-$f" <<'PY'
import struct, sys
b = open(sys.argv[1], "rb").read()
csize, n, x = struct.unpack_from("<I", b, 18)[0], *struct.unpack_from("<HH", b, 26)
open(sys.argv[2], "wb").write(bytes([len(sys.argv[2]) % 8]) + b[30 + n + x:30 + n + x + csize])
PY
done
"$root/build/vantrel-zip" add -0 "$corpus/zipreader/vantrel-0.zip" runs.dat >/dev/null
# ppmd: 7-Zip's PPMd entries at orders 2 to 16 with both restoration methods
# (restart below level 7, cut-off from 7), two of them large enough to fill
# a 1 MB model again and again. Byte 0 picks the input block size (bit 3:
# keep the header's memory size), bytes 1-3 the declared size.
python3 -c 'import random; r = random.Random(11); w = b"the a model order of context symbol escape frequency range coder \n".split(b" ")
open("words.txt", "wb").write(b" ".join(r.choice(w) + (b"%d" % r.randrange(100) if r.random() < 0.2 else b"") for _ in range(40000))[:200000])'
head -c 3000 text.txt > small.txt
for case_args in "small.txt 2 5 0" "small.txt 6 9 3" "binary.bin 16 9 9" "runs.dat 4 5 12" "words.txt 16 9 5" "words.txt 8 5 6"; do
  set -- $case_args
  rm -f "$work/p.zip"
  7zz a -bso0 -tzip -mm=PPMd -mo="$2" -mmem=1m -mx="$3" "$work/p.zip" "$1"
  python3 - "$work/p.zip" "$corpus/ppmd/7z-$1-o$2-x$3" "$4" <<'PY'
import struct, sys
b = open(sys.argv[1], "rb").read()
csize, usize, n, x = *struct.unpack_from("<II", b, 18), *struct.unpack_from("<HH", b, 26)
open(sys.argv[2], "wb").write(bytes([int(sys.argv[3])]) + usize.to_bytes(3, "little") + b[30 + n + x:30 + n + x + csize])
PY
done
ls "$corpus"/* | wc -l
