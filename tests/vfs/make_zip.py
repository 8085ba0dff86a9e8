#!/usr/bin/env python3
"""Writes a ZIP archive whose entry names are any bytes, for the tests.

Usage: make_zip.py OUT ENTRIES.json, where ENTRIES is a list of objects
{"name": hex bytes of the name, "data": hex bytes, "deflate": bool}. Names ending
in "/" are directory entries. Optional: "gap" (hex bytes written before the
entry's local header), "descriptor" (sizes and CRC in a data descriptor after
the data, not in the local header) and "rank" (central records are written
by rank, then in order). Python's zipfile takes names as text only, so
the records are written here directly, as the format describes them.
"""
import json
import struct
import sys
import zlib

DOS_TIME = (7 << 11) | (8 << 5) | 5           # 07:08:10
DOS_DATE = ((2024 - 1980) << 9) | (5 << 5) | 6  # 2024-05-06


def main():
    out, entries_file = sys.argv[1], sys.argv[2]
    with open(entries_file) as f:
        entries = json.load(f)
    body = bytearray()
    records = []
    for index, e in enumerate(entries):
        name = bytes.fromhex(e["name"])
        data = bytes.fromhex(e.get("data", ""))
        crc = zlib.crc32(data)
        method = 8 if e.get("deflate") else 0
        packed = data
        if method == 8:
            c = zlib.compressobj(6, zlib.DEFLATED, -15)
            packed = c.compress(data) + c.flush()
        is_dir = name.endswith(b"/")
        attr = ((0o40755 << 16) | 0x10) if is_dir else (0o100644 << 16)
        body += bytes.fromhex(e.get("gap", ""))
        offset = len(body)
        flags = 8 if e.get("descriptor") else 0
        if flags:
            body += struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, flags, method, DOS_TIME, DOS_DATE,
                                0, 0, 0, len(name), 0) + name + packed
            body += struct.pack("<IIII", 0x08074B50, crc, len(packed), len(data))
        else:
            body += struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, method, DOS_TIME, DOS_DATE,
                                crc, len(packed), len(data), len(name), 0) + name + packed
        record = struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, (3 << 8) | 20, 20, flags, method,
                             DOS_TIME, DOS_DATE, crc, len(packed), len(data), len(name),
                             0, 0, 0, 0, attr, offset) + name
        records.append((e.get("rank", index), index, record))
    central = bytearray()
    for _, _, record in sorted(records):
        central += record
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(entries), len(entries), len(central),
                      len(body), 0)
    with open(out, "wb") as f:
        f.write(bytes(body + central + end))


main()
