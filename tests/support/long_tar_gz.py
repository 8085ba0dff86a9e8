"""Writes a tar.gz that takes long to list: "first.txt", "big.bin" of
SIZE bytes of zeros, then "later/last.txt". The zeros are one compressed
block repeated (gzip streams may follow one another), so an archive that
expands to gigabytes is made in a moment, while listing it means inflating
all of it.

usage: long_tar_gz.py OUT.tar.gz SIZE_MIB
"""
import gzip
import io
import sys
import tarfile

CHUNK = 64 << 20


def header(name, size):
    info = tarfile.TarInfo(name)
    info.size = size
    info.mtime = 1700000000
    info.mode = 0o644
    return info.tobuf(format=tarfile.GNU_FORMAT)


def padded(data):
    return data + b"\0" * (-len(data) % 512)


def main():
    out, mib = sys.argv[1], int(sys.argv[2])
    size = mib << 20
    head = header("first.txt", 6) + padded(b"first\n") + header("big.bin", size)
    tail = header("later/last.txt", 5) + padded(b"last\n") + b"\0" * 1024
    zeros = gzip.compress(b"\0" * CHUNK, compresslevel=9)
    with open(out, "wb") as f:
        f.write(gzip.compress(head))
        for _ in range(size // CHUNK):
            f.write(zeros)
        if size % CHUNK:
            f.write(gzip.compress(b"\0" * (size % CHUNK), compresslevel=9))
        f.write(gzip.compress(tail))


main()
