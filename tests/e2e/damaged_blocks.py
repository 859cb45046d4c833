#!/usr/bin/env python3
"""Damaged payload blocks, each linked into a launcher of its own.

Usage: damaged_blocks.py OUT_DIR PROBE_APP_DLL ONEFILE_PACK ONEFILE_BUILD KIT_DIR

A small application folder (probe_app.dll, compressible text, incompressible
bytes, an empty file, a file two folders down) is packed by onefile-pack into
a real block: some twenty compressed zstd blocks, one ending at each file, the
random bytes held as raw literals. From it come, with a fixed seed:
  - single-bit flips: every byte of the magic and of the zstd frame header,
    one byte of every zstd block header, bytes of the trailer, and one
    position in each of evenly spaced slices of the frame's block contents;
  - truncations: the first few lengths, at (or one past) each block header,
    evenly spaced lengths across the frame, the frame without its trailer,
    and cuts inside the trailer;
  - special cases: wrong magics, window descriptors 0x89 and 0x8A, a zstd
    block that claims more bytes than the frame holds, an archive without its
    end marker, an entry whose size exceeds the data, an archive with no entry;
  - the same archive in raw zstd blocks (where damage always decodes) with a
    flip in each entry's name, name terminator and size field.
Each block is linked with onefile-build --payload-block into OUT_DIR/<name>.exe
(two links at a time). OUT_DIR/manifest.tsv lists one case a line:
  <name> TAB <expected> TAB <what was done>
with expected one of (damaged_payload_test.cpp holds the meaning):
  header     "couldn't find attached data header", nothing made
  decode     "couldn't decode attached data"; an extraction folder may stay
  runs       the application runs and its exit code comes back; nothing stays
  no_library the child finds no application library; nothing stays
  any        damage inside the frame: any clear failure, or a run
OUT_DIR/original.block (the undamaged block) and OUT_DIR/original.exe are the
control case and the reference the test decodes damaged blocks against.
"""
import concurrent.futures
import os
import random
import shutil
import struct
import subprocess
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_blocks  # noqa: E402  (the raw-frame writer of the hand-made blocks)

SEED = 20240612
FLIP_SLICES = 140
TRUNCATION_SLICES = 30
ZSTD_MAGIC = b"\x28\xb5\x2f\xfd"


def pseudo_random(size, seed):
    rng = random.Random(seed)
    return bytes(rng.getrandbits(8) for _ in range(size))


def stage_app_folder(folder, probe_dll):
    """The files, in the order onefile-pack writes them (library first, then by name)."""
    files = [
        ("probe_app.dll", open(probe_dll, "rb").read()),
        ("data\\deep\\table.csv", "".join(f"{i},{i * i % 977},{i % 13}\r\n" for i in range(2000)).encode()),
        ("data\\empty.bin", b""),
        ("notes.txt", "".join(f"line {i} of the damaged payload test\r\n" for i in range(800)).encode()),
        ("random.bin", pseudo_random(50000, SEED)),
    ]
    shutil.rmtree(folder, ignore_errors=True)
    for name, data in files:
        path = os.path.join(folder, *name.split("\\"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    return files


class Layout:
    """Where the parts of a block lie: magic, frame header, zstd blocks, trailer."""

    def __init__(self, block):
        if block[:3] != b"QZY" or block[3:7] != ZSTD_MAGIC:
            raise SystemExit("damaged_blocks.py: onefile-pack wrote an unexpected block")
        descriptor = block[7]
        content_size_flag, single_segment = descriptor >> 6, (descriptor >> 5) & 1
        self.checksum = (descriptor >> 2) & 1
        header = 5 + (0 if single_segment else 1) + [0, 1, 2, 4][descriptor & 3]
        header += [1 if single_segment else 0, 2, 4, 8][content_size_flag]
        self.frame_start = 3
        self.frame_header = (3, 3 + header)
        self.blocks = []  # (header offset, content offset, content end, type)
        at = 3 + header
        while True:
            value = int.from_bytes(block[at:at + 3], "little")
            last, kind, size = value & 1, (value >> 1) & 3, value >> 3
            stored = 1 if kind == 1 else size
            self.blocks.append((at, at + 3, at + 3 + stored, kind))
            at += 3 + stored
            if last:
                break
        self.frame_end = at + 4 * self.checksum
        self.size = len(block)
        if self.size != self.frame_end + 10:
            raise SystemExit("damaged_blocks.py: the trailer is not where the frame ends")

    def region(self, offset):
        if offset < 3:
            return "magic"
        if offset < self.frame_header[1]:
            return "frame header"
        for index, (header, content, end, kind) in enumerate(self.blocks):
            if header <= offset < content:
                return f"header of zstd block {index}"
            if content <= offset < end:
                return f"{['raw', 'rle', 'compressed', 'reserved'][kind]} zstd block {index}"
        if offset < self.frame_end:
            return "frame checksum"
        return "trailer"


def flip(block, offset, bit):
    damaged = bytearray(block)
    damaged[offset] ^= 1 << bit
    return bytes(damaged)


def expected_for_offset(layout, offset):
    if offset < 3:
        return "header"
    if offset >= layout.frame_end:
        return "runs"  # the launcher stops at the end marker and never reads the trailer
    return "any"


def expected_for_length(layout, length):
    if length < 3:
        return "header"
    if length < layout.frame_end:
        return "decode"  # the end marker is the frame's last content
    return "runs"


def make_cases(block, files):
    layout = Layout(block)
    rng = random.Random(SEED)
    cases = []

    def add(kind, data, expected, what):
        cases.append((f"d{len(cases):03d}_{kind}", data, expected, what))

    def add_flip(offset, bit):
        add("flip", flip(block, offset, bit), expected_for_offset(layout, offset),
            f"bit {bit} of byte {offset} flipped ({layout.region(offset)})")

    # Every structural byte once (the frame header twice).
    for offset in range(0, 3):
        add_flip(offset, rng.randrange(8))
    for offset in range(*layout.frame_header):
        for bit in rng.sample(range(8), 2):
            add_flip(offset, bit)
    for index, (header, _, _, _) in enumerate(layout.blocks):
        add_flip(header + index % 3, rng.randrange(8))
    for offset in rng.sample(range(layout.frame_end, layout.size), 4):
        add_flip(offset, rng.randrange(8))
    # Block contents, one flip in each of evenly spaced slices.
    contents = [o for _, start, end, _ in layout.blocks for o in (start, end)]
    body = [o for start, end in zip(contents[::2], contents[1::2]) for o in range(start, end)]
    for index in range(FLIP_SLICES):
        piece = body[index * len(body) // FLIP_SLICES:(index + 1) * len(body) // FLIP_SLICES]
        add_flip(rng.choice(piece), rng.randrange(8))

    def add_cut(length):
        add("cut", block[:length], expected_for_length(layout, length),
            f"cut to {length} of {layout.size} bytes ({layout.region(length) if length < layout.size else 'end'})")

    lengths = {0, 1, 2, 3, 4, 6, 7, layout.frame_header[1], layout.frame_end, layout.frame_end + 1,
               layout.frame_end + 2, layout.size - 1}
    for index, (header, _, _, _) in enumerate(layout.blocks):
        lengths.add(header + index % 2)
    span = layout.frame_end - layout.frame_header[1]
    for index in range(TRUNCATION_SLICES):
        lengths.add(layout.frame_header[1] + index * span // TRUNCATION_SLICES + rng.randrange(1, 64))
    for length in sorted(x for x in lengths if x < layout.size):
        add_cut(length)

    for magic in (b"QZX", b"qzy", b"\0\0\0", b"YZQ"):
        add("magic", magic + block[3:], "header", f"magic {magic!r}")
    for window in (0x89, 0x8A):
        add("window", block[:8] + bytes([window]) + block[9:], "decode",
            f"window descriptor 0x{window:02X}, above the decoder's limit")
    last_header = layout.blocks[-1][0]
    value = int.from_bytes(block[last_header:last_header + 3], "little")
    oversized = (value & 7) | ((1 << 17) - 1) << 3  # compressed or raw size 131,071
    add("blocksize", block[:last_header] + oversized.to_bytes(3, "little") + block[last_header + 3:],
        "decode", "last zstd block claims 131,071 bytes, more than the frame holds")

    # Hand-made archives of the same files in raw zstd blocks.
    entries = [(name, data) for name, data in files]
    add("noend", make_blocks.block(make_blocks.raw_frame(make_blocks.archive(entries, end_marker=False))),
        "decode", "archive without its end marker")
    name, data = entries[-1]
    oversize = make_blocks.archive(entries[:-1], end_marker=False)
    oversize += name.encode("utf-16-le") + b"\0\0" + struct.pack("<Q", len(data) + 1) + data + b"\0\0"
    add("size", make_blocks.block(make_blocks.raw_frame(oversize)), "decode",
        f"last entry's size field {len(data) + 1}, one byte more than its data and the end marker")
    big = make_blocks.archive(entries[:-1], end_marker=False)
    big += name.encode("utf-16-le") + b"\0\0" + struct.pack("<Q", 1 << 40) + data + b"\0\0"
    add("size", make_blocks.block(make_blocks.raw_frame(big)), "decode", "last entry's size field 2^40")
    add("empty", make_blocks.block(make_blocks.raw_frame(b"\0\0")), "no_library", "archive of the end marker alone")

    # The same archive in raw zstd blocks, where a flip always decodes: every
    # entry's name, terminator and size field damaged in turn.
    raw = make_blocks.block(make_blocks.raw_frame(make_blocks.archive(entries)))

    def block_offset(archive_offset):
        return 3 + 6 + 3 * (archive_offset // make_blocks.MAX_BLOCK + 1) + archive_offset

    at = 0
    for name, data in entries:
        terminator = at + 2 * len(name)
        size_field = terminator + 2
        parts = ((terminator - 2, 4, "last name unit"), (terminator, 0, "name terminator"),
                 (size_field, 0, "size field's low byte"), (size_field + 7, 7, "size field's top byte"))
        for offset, bit, part in parts:
            add("raw", flip(raw, block_offset(offset), bit), "any",
                f"{name}: bit {bit} of its {part} flipped (archive in raw zstd blocks)")
        at = size_field + 8 + len(data)
    return cases


def link(build, kit, block_path, exe_path):
    result = subprocess.run([build, "--kit", kit, "--payload-block", block_path, "--output", exe_path],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    return result.returncode, result.stdout


def main():
    out_dir, probe_dll, pack, build, kit = sys.argv[1:6]
    os.makedirs(out_dir, exist_ok=True)
    for entry in os.listdir(out_dir):
        if entry.endswith((".exe", ".block")) or entry == "manifest.tsv":
            os.remove(os.path.join(out_dir, entry))
    app_dir = os.path.join(out_dir, "app")
    files = stage_app_folder(app_dir, probe_dll)
    original = os.path.join(out_dir, "original.block")
    subprocess.run([pack, "--app-dir", app_dir, "--app-library", "probe_app.dll", "--output", original], check=True)
    with open(original, "rb") as f:
        block = f.read()
    cases = make_cases(block, files)

    jobs = [("original", original)]
    for name, data, _, _ in cases:
        path = os.path.join(out_dir, name + ".block")
        with open(path, "wb") as f:
            f.write(data)
        jobs.append((name, path))
    with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        futures = {pool.submit(link, build, kit, path, os.path.join(out_dir, name + ".exe")): name
                   for name, path in jobs}
        for future in concurrent.futures.as_completed(futures):
            code, output = future.result()
            if code != 0:
                raise SystemExit(f"damaged_blocks.py: linking {futures[future]} failed:\n{output}")

    with open(os.path.join(out_dir, "manifest.tsv"), "w", encoding="utf-8", newline="\n") as f:
        for name, _, expected, what in cases:
            f.write(f"{name}\t{expected}\t{what}\n")
    kinds = {}
    for _, _, expected, _ in cases:
        kinds[expected] = kinds.get(expected, 0) + 1
    print(f"damaged_blocks.py: {len(cases)} damaged blocks linked from a {len(block)}-byte block "
          f"({len(Layout(block).blocks)} zstd blocks); expected: "
          + ", ".join(f"{k} {v}" for k, v in sorted(kinds.items())))


if __name__ == "__main__":
    main()
