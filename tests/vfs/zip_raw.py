#!/usr/bin/env python3
"""Prints each entry of a ZIP archive with a digest of its stored bytes.

Usage: zip_raw.py [--local] ARCHIVE. One line per entry, in the archive's
order: hex(name) TAB method TAB sha256 of the compressed data as stored
(with --local, of the local header and the data together). Exits 1 when
Python's zipfile finds an entry whose data fail their CRC.
"""
import hashlib
import struct
import sys
import zipfile


def main():
    local = sys.argv[1] == "--local"
    path = sys.argv[-1]
    with zipfile.ZipFile(path) as z:
        bad = z.testzip()
        if bad is not None:
            print("bad entry: %r" % bad, file=sys.stderr)
            sys.exit(1)
        with open(path, "rb") as f:
            for info in z.infolist():
                f.seek(info.header_offset)
                header = f.read(30)
                name_len, extra_len = struct.unpack("<HH", header[26:30])
                f.seek(info.header_offset + 30 + name_len + extra_len)
                raw = f.read(info.compress_size)
                if local:
                    f.seek(info.header_offset)
                    raw = f.read(30 + name_len + extra_len + info.compress_size)
                name = info.orig_filename.encode("utf-8" if info.flag_bits & 0x800 else "cp437")
                print("%s\t%d\t%s" % (name.hex(), info.compress_type, hashlib.sha256(raw).hexdigest()))


main()
