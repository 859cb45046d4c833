#!/usr/bin/env python3
"""Writes the data files of the probe launcher's application folder.

Usage: make_tree.py OUT_DIR

The sizes sit at the launcher's limits: an empty file, one 32,768-byte write
chunk exactly and one byte more, one 131,072-byte reader window and one byte
more; names go two folders deep and one is not ASCII. Contents are
pseudo-random so that the packer's compressor emits raw blocks as well as
compressed ones.
"""
import os
import random
import sys

FILES = {
    "readme.txt": b"probe application data\r\n" * 3,
    "empty.bin": b"",
    "chunk_exact.bin": 32768,
    "chunk_plus_one.bin": 32769,
    "level1\\notes.txt": b"one folder down\r\n",
    "level1\\level2\\window_plus_one.bin": 131073,
    "level1\\level2\\empty_deep.bin": b"",
    "other\\level2\\text_twice.txt": b"compressible " * 5000,
    "\u00fcbung\\gr\u00fc\u00dfe \u6570\u636e.txt": "gr\u00fc\u00dfe\r\n".encode("utf-8"),
}


def main():
    out_dir = sys.argv[1]
    rng = random.Random(20240611)
    for name, content in FILES.items():
        if isinstance(content, int):
            content = bytes(rng.getrandbits(8) for _ in range(content))
        path = os.path.join(out_dir, *name.split("\\"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(content)


if __name__ == "__main__":
    main()
