#!/usr/bin/env python3
"""Draws the project's default icon: a white parcel on a teal rounded square,
as six 8-bit RGBA PNG images (16, 32, 48, 64, 128 and 256 pixels) in one .ico.

Shapes are signed distance fields sampled once per pixel, so every size is
drawn from the same geometry with smooth edges. The output depends only on
this file and zlib, so a build draws the same bytes every time.

Usage: draw_icon.py OUTPUT.ico
"""
import math
import struct
import sys
import zlib

SIZES = (16, 32, 48, 64, 128, 256)

TOP_COLOUR = (0x3A, 0xAF, 0xA9)
BOTTOM_COLOUR = (0x1F, 0x6F, 0x6B)
FACE_TOP = (0xFF, 0xFF, 0xFF)
FACE_LEFT = (0xE2, 0xF2, 0xF1)
FACE_RIGHT = (0xBE, 0xE0, 0xDE)

# The parcel: a hexagon split into three faces at its centre.
CUBE_TOP = (0.50, 0.17)
CUBE_UPPER_RIGHT = (0.80, 0.34)
CUBE_LOWER_RIGHT = (0.80, 0.68)
CUBE_BOTTOM = (0.50, 0.85)
CUBE_LOWER_LEFT = (0.20, 0.68)
CUBE_UPPER_LEFT = (0.20, 0.34)
CUBE_CENTRE = (0.50, 0.51)
HEXAGON = (CUBE_TOP, CUBE_UPPER_RIGHT, CUBE_LOWER_RIGHT, CUBE_BOTTOM, CUBE_LOWER_LEFT, CUBE_UPPER_LEFT)


def rounded_square_distance(x, y, margin, radius):
    half = 0.5 - margin - radius
    qx = abs(x - 0.5) - half
    qy = abs(y - 0.5) - half
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - radius


def convex_polygon_distance(x, y, points):
    """Largest signed distance to the edge lines (clockwise in image space)."""
    distance = -math.inf
    for i, (ax, ay) in enumerate(points):
        bx, by = points[(i + 1) % len(points)]
        ex, ey = bx - ax, by - ay
        length = math.hypot(ex, ey)
        # Outward normal of a clockwise polygon with y pointing down.
        distance = max(distance, ((x - ax) * ey - (y - ay) * ex) / length)
    return distance


def coverage(distance, size):
    return min(max(0.5 - distance * size, 0.0), 1.0)


def side_of(point, a, b):
    return (b[0] - a[0]) * (point[1] - a[1]) - (b[1] - a[1]) * (point[0] - a[0])


def face_colour(x, y):
    p = (x, y)
    above_left = side_of(p, CUBE_UPPER_LEFT, CUBE_CENTRE) < 0
    above_right = side_of(p, CUBE_CENTRE, CUBE_UPPER_RIGHT) < 0
    if above_left and above_right:
        return FACE_TOP
    return FACE_LEFT if x < CUBE_CENTRE[0] else FACE_RIGHT


def over(top, top_alpha, bottom, bottom_alpha):
    alpha = top_alpha + bottom_alpha * (1.0 - top_alpha)
    if alpha == 0.0:
        return (0.0, 0.0, 0.0), 0.0
    colour = tuple((t * top_alpha + b * bottom_alpha * (1.0 - top_alpha)) / alpha for t, b in zip(top, bottom))
    return colour, alpha


def pixel(x, y, size):
    t = y
    background = tuple(a + (b - a) * t for a, b in zip(TOP_COLOUR, BOTTOM_COLOUR))
    background_alpha = coverage(rounded_square_distance(x, y, 1.0 / 32.0, 0.19), size)
    cube_alpha = coverage(convex_polygon_distance(x, y, HEXAGON), size)
    colour, alpha = over(face_colour(x, y), cube_alpha, background, background_alpha)
    return tuple(int(round(c)) for c in colour) + (int(round(alpha * 255.0)),)


def draw(size):
    rows = []
    for row in range(size):
        line = bytearray([0])  # filter type: none
        for column in range(size):
            line.extend(pixel((column + 0.5) / size, (row + 0.5) / size, size))
        rows.append(bytes(line))
    return b"".join(rows)


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def png(size):
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA, not interlaced
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", header) +
            png_chunk(b"IDAT", zlib.compress(draw(size), 9)) + png_chunk(b"IEND", b""))


def icon(images):
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        side = 0 if size >= 256 else size
        out += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, data in images)


def main():
    if len(sys.argv) != 2:
        sys.stderr.write("usage: draw_icon.py OUTPUT.ico\n")
        return 2
    data = icon([(size, png(size)) for size in SIZES])
    with open(sys.argv[1], "wb") as out:
        out.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
