#!/usr/bin/env python3
"""Writes the seed corpus of the payload fuzzer into fuzz/corpus.

Two kinds of input (see payload_input.h): 'A' followed by payload archive
content, which the harness packs into a frame of raw blocks, and whole payload
blocks ("QZY", one zstd frame, trailer) whose frames the zstd command-line
tool compresses with the shape the packer writes: no content size, no
checksum. Most use a 2^17-byte window (descriptor 0x38): with the packer's
2^27 (0x88) the decoder takes 128 MiB per input, which under AddressSanitizer
slows the fuzzer a hundredfold; seeds named *-packer-window keep 0x88.

File names state the expected outcome (checked by payload_corpus_replay):
walk-* reach the end marker, refuse-<reason>-* are refused with the
launcher's message for that reason.

Usage: fuzz/make_seeds.py [OUTPUT_DIR]   (default: the corpus folder beside it)
"""
import os
import struct
import subprocess
import sys

WINDOW = 131072


def name(text):
    """A name field: UTF-16LE units and the terminating zero unit."""
    return text.encode("utf-16-le") + b"\0\0"


def entry(path, data):
    return name(path) + struct.pack("<Q", len(data)) + data


def archive(*entries):
    return b"".join(entries) + b"\0\0"


def compress(content, window_log=17):
    """One zstd frame shaped as the packer shapes it (header descriptor 0x00)."""
    frame = subprocess.run(
        ["zstd", "-q", "-19", "--no-check", "--no-content-size", "--zstd=wlog=%d" % window_log, "-c"],
        input=content, stdout=subprocess.PIPE, check=True).stdout
    assert frame[4] == 0 and frame[5] == (window_log - 10) << 3, frame[:6].hex()
    return frame


def block(frame):
    """Magic, frame, trailer mark and trailer length (5 + N)."""
    return b"QZY" + frame + b"\0\0" + struct.pack("<Q", 5 + len(frame))


def raw_frame(content, window_descriptor=0x38):
    """A frame of raw blocks, written by hand."""
    out = bytearray(b"\x28\xb5\x2f\xfd\x00" + bytes([window_descriptor]))
    offset = 0
    while True:
        piece = content[offset:offset + WINDOW]
        offset += len(piece)
        last = offset >= len(content)
        out += struct.pack("<I", (len(piece) << 3) | int(last))[:3] + piece
        if last:
            return bytes(out)


def rle_frame(parts):
    """A frame from (raw bytes) and (byte value, count) parts: RLE blocks expand
    a few input bytes into whole windows of output."""
    out = bytearray(b"\x28\xb5\x2f\xfd\x00\x38")
    for i, part in enumerate(parts):
        last = int(i == len(parts) - 1)
        if isinstance(part, bytes):
            out += struct.pack("<I", (len(part) << 3) | last)[:3] + part
        else:
            value, count = part
            out += struct.pack("<I", (count << 3) | (1 << 1) | last)[:3] + bytes([value])
    return bytes(out)


def text(size, seed="payload"):
    """Compressible text of the given size."""
    line = ("%s line: the reader hands out bytes in pieces of any size\n" % seed).encode()
    return (line * (size // len(line) + 1))[:size]


def seeds():
    app = entry("app.dll", b"MZ" + bytes(62) + b"hello")
    # ---- archive content, packed by the harness -----------------------------
    yield "walk-archive-empty", b"A" + archive()
    yield "walk-archive-one-entry", b"A" + archive(app)
    yield "walk-archive-zero-size-entry", b"A" + archive(app, entry("empty.txt", b""), entry("b.txt", b"b"))
    yield "walk-archive-nested-names", b"A" + archive(
        app, entry("lib\\core\\module.pyd", b"x" * 40), entry("data\\a\\b\\c\\leaf.txt", b"leaf"),
        entry("caf\u00e9\\\u65e5\u672c.txt", b"utf16"))
    yield "walk-archive-name-1023-units", b"A" + archive(entry("n" * 1023, b""))
    yield "refuse-long-name-archive-name-1024-units", b"A" + ("n" * 1024).encode("utf-16-le") + b"\0\0"
    yield "refuse-unsafe-name-archive-parent-component", b"A" + archive(app, entry("..\\evil.dll", b"x"))
    yield "refuse-unsafe-name-archive-forward-slash-parent", b"A" + archive(entry("a/../../b", b""))
    yield "refuse-unsafe-name-archive-device", b"A" + archive(entry("sub\\com1.log", b""))
    yield "refuse-unsafe-name-archive-superscript-port", b"A" + archive(entry("lpt\u00b3.txt", b""))
    yield "refuse-unsafe-name-archive-colon", b"A" + archive(entry("a.txt:stream", b""))
    yield "refuse-unsafe-name-archive-empty-component", b"A" + archive(entry("a\\\\b", b""))
    yield "refuse-decode-archive-no-end-marker", b"A" + app
    yield "refuse-decode-archive-size-beyond-frame", b"A" + name("big.bin") + struct.pack("<Q", 1000) + b"short"
    yield "refuse-decode-archive-half-code-unit", b"A" + b"a\0b"
    yield "refuse-decode-archive-size-cut-short", b"A" + name("a") + b"\x05\0\0"

    # ---- whole payload blocks ------------------------------------------------
    yield "walk-block-empty-archive", block(compress(archive()))
    small = archive(app, entry("lib\\helper.dll", text(3000, "helper")), entry("empty.txt", b""),
                    entry("data\\icon.ico", bytes(range(256)) * 4))
    yield "walk-block-small-application", block(compress(small))
    yield "walk-block-small-application-packer-window", block(compress(small, window_log=27))
    # Two windows and more: one entry of 300,000 bytes.
    yield "walk-block-two-windows", block(compress(archive(app, entry("big.dat", text(300000, "big")))))
    # The second name's first code unit straddles the first window boundary:
    # its low byte is the window's last byte.
    head = name("a.bin") + struct.pack("<Q", 0)
    first_size = WINDOW - 1 - len(head)
    straddle = archive(entry("a.bin", text(first_size, "a")), entry("b.bin", b"b"))
    assert straddle.index(name("b.bin")) == WINDOW - 1
    yield "walk-block-unit-straddles-window", block(compress(straddle))
    # The size field of the second entry straddles the boundary.
    size_straddle = archive(entry("a.bin", text(WINDOW - 4 - len(head) - len(name("c")), "s")),
                            entry("c", b"cc"))
    size_at = size_straddle.index(name("c"), WINDOW - 100) + len(name("c"))
    assert size_at < WINDOW < size_at + 8
    yield "walk-block-size-straddles-window", block(compress(size_straddle))
    # Hand-made frame: a raw header, RLE blocks filling whole windows exactly,
    # then the end marker in a raw block of its own.
    rle_head = name("zeros.bin") + struct.pack("<Q", 2 * WINDOW)
    yield "walk-block-rle-windows", block(rle_frame([rle_head, (0, WINDOW), (0, WINDOW), b"\0\0"]))
    # A zero-length raw block in the middle produces nothing; the reader calls again.
    yield "walk-block-empty-raw-block", block(rle_frame([name("e") + struct.pack("<Q", 1), b"", b"x\0\0"]))
    # No trailer: the frame's last block (RLE: the data's zeros and the end
    # marker) runs past the window. The decoder keeps the frame's last byte
    # until it has handed out all its output, so the reader's input is not
    # used up and the next call delivers the rest.
    held = rle_frame([name("z") + struct.pack("<Q", WINDOW - 2), (0, WINDOW)])
    yield "walk-block-no-trailer-last-byte-held", b"QZY" + held
    # No trailer, and the frame cut right after a block that fills the window:
    # the read that drains it finds the input used up and fails.
    cut = rle_frame([name("z") + struct.pack("<Q", 2 * WINDOW), (0, WINDOW - 12), b""])[:-3]
    yield "refuse-decode-block-no-trailer-cut-after-full-window", b"QZY" + cut
    # The same, with one more block of the entry's data before the cut: the
    # decoder has taken it in with the window-filling call and holds its 1000
    # bytes, but a later read starts with its window-filled flag clear, finds
    # the input used up and fails without asking for them. The launcher's
    # reads (at most 32768 bytes) never span a full window, so only a block cut
    # inside its frame and lacking its trailer shows this.
    held_cut = rle_frame([name("z") + struct.pack("<Q", WINDOW - 12 + 1000), (0, WINDOW - 12), (0, 1000), b""])[:-3]
    yield "refuse-decode-block-no-trailer-output-held-after-full-window", b"QZY" + held_cut
    # A skippable frame first: the decoder passes over it.
    skippable = b"\x50\x2a\x4d\x18" + struct.pack("<I", 4) + b"skip"
    yield "walk-block-skippable-frame-first", block(skippable + compress(archive(app)))
    yield "refuse-header-block-bad-magic", b"QZX" + compress(archive())[0:] + b"\0\0" + bytes(8)
    yield "refuse-header-block-two-bytes", b"QZ"
    yield "refuse-decode-block-trailer-only", b"QZY" + b"\0\0" + struct.pack("<Q", 5)
    yield "refuse-decode-block-window-2-28", block(raw_frame(archive(app), window_descriptor=0x90))
    truncated = compress(small)
    yield "refuse-decode-block-truncated-frame", block(truncated[:len(truncated) // 2])
    yield "refuse-decode-block-no-end-marker", block(compress(app))
    yield "refuse-decode-block-no-end-marker-packer-window", block(compress(app, window_log=27))


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
    os.makedirs(out, exist_ok=True)
    total = 0
    for seed_name, data in seeds():
        with open(os.path.join(out, seed_name), "wb") as f:
            f.write(data)
        total += len(data)
    print("%s: %d bytes" % (out, total))


if __name__ == "__main__":
    main()
