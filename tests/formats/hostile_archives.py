#!/usr/bin/env python3
"""Makes tar archives whose members try to leave the directory they are
extracted into or otherwise misbehave, and damaged ones.

    hostile_archives.py DIR [NAME...]

writes into DIR (all of them, or the ones named):
  hostile.tar    absolute and climbing names, a link to outside followed by
                 a file through it, hard links to outside, a device, a FIFO,
                 and a good file after them all
  longer.tar     a member with more data than its header says, then a good one
  truncated.tar.gz  three members, the stream cut inside the second
  bomb.tar.gz    one member of 24 MiB of zeros (a few kilobytes packed)
"""
import gzip
import io
import os
import sys
import tarfile


def add_file(tar, name, data, mode=0o644):
    info = tarfile.TarInfo(name)
    info.size = len(data)
    info.mode = mode
    info.mtime = 1620284889
    tar.addfile(info, io.BytesIO(data))


def add_special(tar, name, kind, target=""):
    info = tarfile.TarInfo(name)
    info.type = kind
    info.linkname = target
    info.mtime = 1620284889
    if kind == tarfile.CHRTYPE:
        info.devmajor, info.devminor = 1, 3
    tar.addfile(info)


def hostile(path):
    with tarfile.open(path, "w", format=tarfile.GNU_FORMAT) as tar:
        add_file(tar, "/tmp/vantrel-absolute.txt", b"absolute\n")
        add_file(tar, "../escape.txt", b"escape\n")
        add_file(tar, "a/../../climb.txt", b"climb\n")
        add_special(tar, "evil", tarfile.SYMTYPE, "/tmp")
        add_file(tar, "evil/through-link.txt", b"through the link\n")
        add_special(tar, "up", tarfile.SYMTYPE, "../../..")
        add_special(tar, "hard-outside", tarfile.LNKTYPE, "/etc/passwd")
        add_special(tar, "hard-climb", tarfile.LNKTYPE, "../outside.txt")
        add_special(tar, "device", tarfile.CHRTYPE)
        add_special(tar, "fifo", tarfile.FIFOTYPE)
        add_file(tar, "good.txt", b"good\n")


def longer(path):
    buf = io.BytesIO()
    info = tarfile.TarInfo("short.txt")
    info.size = 10
    info.mtime = 1620284889
    buf.write(info.tobuf(format=tarfile.GNU_FORMAT))
    # 1500 bytes where the header promised 10.
    data = b"0123456789" + b"x" * 1490
    buf.write(data + b"\0" * (-len(data) % 512))
    with tarfile.open(fileobj=buf, mode="w", format=tarfile.GNU_FORMAT) as tar:
        add_file(tar, "after.txt", b"after\n")
    with open(path, "wb") as f:
        f.write(buf.getvalue())


def truncated(path):
    raw = io.BytesIO()
    with tarfile.open(fileobj=raw, mode="w", format=tarfile.GNU_FORMAT) as tar:
        add_file(tar, "first.txt", b"first\n")
        # Data that do not compress, so the cut falls inside them.
        add_file(tar, "second.bin", os.urandom(400000))
        add_file(tar, "third.txt", b"third\n")
    packed = gzip.compress(raw.getvalue(), 6)
    with open(path, "wb") as f:
        f.write(packed[: len(packed) // 2])


def bomb(path):
    raw = io.BytesIO()
    with tarfile.open(fileobj=raw, mode="w", format=tarfile.GNU_FORMAT) as tar:
        add_file(tar, "zeros.bin", bytes(24 << 20))
    with open(path, "wb") as f:
        f.write(gzip.compress(raw.getvalue(), 9))


MAKERS = {
    "hostile.tar": hostile,
    "longer.tar": longer,
    "truncated.tar.gz": truncated,
    "bomb.tar.gz": bomb,
}


def main():
    out = sys.argv[1]
    for name in sys.argv[2:] or MAKERS:
        MAKERS[name](os.path.join(out, name))


if __name__ == "__main__":
    main()
