#!/usr/bin/env python3
"""Draws corvane.png, the application icon (64x64): a database drum and a
table grid on a teal tile with a two-way arrow between them. Pure Python so
it runs anywhere; edges are smoothed by 4x4 supersampling. An optional size
draws the same picture at that size (the installed icon theme sizes)."""
import struct
import sys
import zlib

SIZE, SS = 64, 4
TEAL, DARK, WHITE, AMBER = (42, 127, 143), (24, 78, 90), (255, 255, 255), (242, 177, 52)


def rounded_rect(x, y, x0, y0, x1, y1, r):
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    return x0 <= x <= x1 and y0 <= y <= y1 and (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def in_ellipse(x, y, cx, cy, rx, ry):
    return ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1


def drum(x, y):
    """A cylinder at the upper left: body, top rim drawn darker."""
    cx, top, bottom, rx, ry = 20, 12, 34, 11, 4
    body = (cx - rx <= x <= cx + rx and top <= y <= bottom) or in_ellipse(x, y, cx, bottom, rx, ry)
    if in_ellipse(x, y, cx, top, rx, ry):
        return DARK if in_ellipse(x, y, cx, top, rx - 1.5, ry - 1.5) else WHITE
    for band in (20, 27):  # the rings of a drum
        if body and abs(y - (band + ry * (1 - ((x - cx) / rx) ** 2) ** 0.5 if abs(x - cx) < rx else band)) < 0.9:
            return DARK
    return WHITE if body else None


def grid(x, y):
    """A table at the lower right: white sheet with dark rules."""
    x0, y0, x1, y1 = 34, 32, 56, 54
    if not (x0 <= x <= x1 and y0 <= y <= y1):
        return None
    if y0 <= y <= y0 + 5:
        return DARK
    if any(abs(x - c) < 0.7 for c in (x0, 45, x1)) or any(abs(y - r) < 0.7 for r in (43, y1)):
        return DARK
    return WHITE


def arrow(x, y):
    """Two-way arrow from the drum to the table, along the diagonal."""
    u, v = (x + y) / 2 ** 0.5, (x - y) / 2 ** 0.5  # along / across the diagonal
    a0, a1 = 37, 58  # ends along u
    if not (a0 <= u <= a1):
        return None
    head = 6
    if u < a0 + head:
        return AMBER if abs(v) <= (u - a0) * 0.8 else None
    if u > a1 - head:
        return AMBER if abs(v) <= (a1 - u) * 0.8 else None
    return AMBER if abs(v) <= 1.6 else None


def colour_at(x, y):
    if not rounded_rect(x, y, 1, 1, 63, 63, 10):
        return None
    for layer in (arrow, grid, drum):
        c = layer(x, y)
        if c:
            return c
    return TEAL


def render(size):
    rows = []
    k = SIZE / size  # design units per pixel
    for py in range(size):
        row = bytearray([0])  # PNG filter: none
        for px in range(size):
            acc, n = [0, 0, 0, 0], 0
            for sy in range(SS):
                for sx in range(SS):
                    c = colour_at((px + (sx + 0.5) / SS) * k, (py + (sy + 0.5) / SS) * k)
                    n += 1
                    if c:
                        acc[0] += c[0]; acc[1] += c[1]; acc[2] += c[2]; acc[3] += 255
            cover = acc[3] // 255
            if cover:
                row += bytes((acc[0] // cover, acc[1] // cover, acc[2] // cover, acc[3] // n))
            else:
                row += bytes((0, 0, 0, 0))
        rows.append(bytes(row))
    return b"".join(rows)


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def main(out, size=SIZE):
    ihdr = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(render(size), 9))
    with open(out, "wb") as f:
        f.write(png + chunk(b"IEND", b""))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "corvane.png", int(sys.argv[2]) if len(sys.argv) > 2 else SIZE)
