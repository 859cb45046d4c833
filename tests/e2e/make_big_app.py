#!/usr/bin/env python3
"""Writes the data files of the big probe launcher: about 100 MB in 40 files.

Usage: make_big_app.py OUT_DIR

A launcher this size takes long enough to unpack and start that a test can
interrupt or kill it at many points on the way. Each file is half
pseudo-random bytes and half a repeated pattern, so the frame holds
compressed and raw blocks alike; the same seed always gives the same files.
"""
import os
import random
import sys

FILE_COUNT = 40
FILE_BYTES = 2_500_000


def main():
    out_dir = sys.argv[1]
    generator = random.Random(13)
    for index in range(FILE_COUNT):
        folder = os.path.join(out_dir, "data", "part%d" % (index % 4))
        os.makedirs(folder, exist_ok=True)
        half = FILE_BYTES // 2
        content = generator.randbytes(half) + (b"application data %04d " % index) * (half // 22 + 1)
        with open(os.path.join(folder, "blob%02d.bin" % index), "wb") as out:
            out.write(content[:FILE_BYTES])


if __name__ == "__main__":
    main()
