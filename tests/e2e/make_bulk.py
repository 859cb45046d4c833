#!/usr/bin/env python3
"""Adds COUNT files of one MiB of pseudo-random bytes under OUT_DIR/bulk,
so that unpacking takes long enough for a test to end a run part-way.

Usage: make_bulk.py OUT_DIR COUNT
"""
import os
import random
import sys


def main():
    out_dir, count = sys.argv[1], int(sys.argv[2])
    bulk = os.path.join(out_dir, "bulk")
    os.makedirs(bulk, exist_ok=True)
    generator = random.Random(14)
    for index in range(count):
        with open(os.path.join(bulk, "part%02d.bin" % index), "wb") as out:
            out.write(generator.randbytes(1 << 20))


if __name__ == "__main__":
    main()
