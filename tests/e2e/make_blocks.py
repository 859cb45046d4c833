#!/usr/bin/env python3
"""Writes hand-made payload blocks for the launchers that test bad payloads.

Usage: make_blocks.py OUT_DIR PROBE_APP_DLL NO_RUN_CODE_DLL

The layouts are those of format/payload_layout.h. The frame is built from raw
zstd blocks (RFC 8878), so no compressor is needed and every byte is under
the test's control:
  frame  = magic 28 B5 2F FD, frame header descriptor 0x00, window descriptor,
           then blocks of at most 131,072 bytes, each behind a 3-byte
           little-endian header: bit 0 last block, bits 1-2 type (0 = raw),
           bits 3.. size
  block  = "QZY" + frame + 00 00 + u64 LE (5 + frame length)

Blocks written (OUT_DIR/<name>.block):
  handmade       probe_app.dll and two files: the control case
  bad_magic      "QZX" instead of "QZY"
  truncated      the block ends inside the second entry's data, no trailer
  window_89      window descriptor 0x89 (2^27 + 2^24 bytes, above the limit)
  no_end_marker  the archive stops after its last entry
  no_run_code    first entry a DLL that does not export run_code
  not_a_dll      first entry a text file named app.dll
  name_1023      probe_app.dll, then an entry whose name has 1,023 code units,
                 the most the launcher takes (four folder levels, so that no
                 component passes 255)
  name_1024      the same with a name of 1,024 code units
"""
import os
import struct
import sys

ZSTD_MAGIC = b"\x28\xb5\x2f\xfd"
MAX_BLOCK = 131072


def entry(name, data):
    return name.encode("utf-16-le") + b"\0\0" + struct.pack("<Q", len(data)) + data


def archive(entries, end_marker=True):
    return b"".join(entry(n, d) for n, d in entries) + (b"\0\0" if end_marker else b"")


def raw_frame(content, window_descriptor=0x88):
    out = bytearray(ZSTD_MAGIC + bytes([0x00, window_descriptor]))
    pieces = [content[i:i + MAX_BLOCK] for i in range(0, len(content), MAX_BLOCK)] or [b""]
    for index, piece in enumerate(pieces):
        last = 1 if index == len(pieces) - 1 else 0
        header = last | (0 << 1) | (len(piece) << 3)
        out += header.to_bytes(3, "little") + piece
    return bytes(out)


def block(frame, magic=b"QZY"):
    return magic + frame + b"\0\0" + struct.pack("<Q", 5 + len(frame))


def pattern(size, seed):
    return bytes((i * 31 + seed * 7 + (i >> 8)) & 0xFF for i in range(size))


def long_name(units):
    """A name of exactly units code units: folders of 200 'n', then the file."""
    parts = []
    while units - 201 > 201:
        parts.append("n" * 200)
        units -= 201
    parts.append("f" * units)
    return "\\".join(parts)


def main():
    out_dir, probe_dll, no_run_code_dll = sys.argv[1:4]
    with open(probe_dll, "rb") as f:
        probe = f.read()
    with open(no_run_code_dll, "rb") as f:
        no_run_code = f.read()

    small = [("app.dll", b"not a DLL\r\n"), ("data\\first.txt", b"first entry\r\n")]
    # The second entry spans two raw blocks; the cut lands inside the second.
    cut_entries = [("first.txt", pattern(100, 1)), ("second.bin", pattern(200000, 2))]
    cut_frame = raw_frame(archive(cut_entries))
    blocks = {
        "handmade": block(raw_frame(archive([
            ("probe_app.dll", probe), ("hand\\made.txt", b"made by hand\r\n"), ("empty.bin", b"")]))),
        "bad_magic": block(raw_frame(archive(small)), magic=b"QZX"),
        "truncated": b"QZY" + cut_frame[:len(cut_frame) - 30000],
        "window_89": block(raw_frame(archive(small), window_descriptor=0x89)),
        "no_end_marker": block(raw_frame(archive(cut_entries, end_marker=False))),
        "no_run_code": block(raw_frame(archive([("no_run_code.dll", no_run_code)]))),
        "not_a_dll": block(raw_frame(archive(small))),
        "name_1023": block(raw_frame(archive([("probe_app.dll", probe), (long_name(1023), b"longest name\r\n")]))),
        "name_1024": block(raw_frame(archive([("probe_app.dll", probe), (long_name(1024), b"one unit more\r\n")]))),
    }
    os.makedirs(out_dir, exist_ok=True)
    for name, data in blocks.items():
        with open(os.path.join(out_dir, name + ".block"), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
