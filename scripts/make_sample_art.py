#!/usr/bin/env python3
"""Draws the sample game's images (samples/mygame/sprites/*.png).

    python3 scripts/make_sample_art.py [output directory]

Every image is drawn from shapes in unit coordinates, so the "@200" twin of
the ship is a true double-resolution drawing rather than an enlargement.
Edges are smoothed by 4 x 4 supersampling. The PNG files hold their pixels
in stored (uncompressed) deflate blocks: the bytes depend on nothing but
this script, whatever zlib build runs it, so a rerun reproduces the
committed files exactly. Only the standard library is used.
"""

import math
import os
import struct
import sys
import zlib

SOURCE = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
DEFAULT_OUTPUT = os.path.join(SOURCE, "samples", "mygame", "sprites")

SUPERSAMPLE = 4


# ---------------------------------------------------------------------------
# PNG writing

def _chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def _stored_zlib(data):
    """A zlib stream of stored deflate blocks (at most 65535 bytes each)."""
    out = bytearray(b"\x78\x01")
    pos = 0
    while True:
        block = data[pos:pos + 65535]
        pos += len(block)
        final = 1 if pos >= len(data) else 0
        out += struct.pack("<BHH", final, len(block), len(block) ^ 0xFFFF) + block
        if final:
            break
    out += struct.pack(">I", zlib.adler32(data) & 0xFFFFFFFF)
    return bytes(out)


def png_bytes(width, height, rgba):
    """8-bit RGBA PNG; rgba holds rows from the top, 4 bytes per pixel."""
    raw = bytearray()
    stride = width * 4
    for y in range(height):
        raw.append(0)  # filter type: none
        raw += rgba[y * stride:(y + 1) * stride]
    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + _chunk(b"IHDR", header)
            + _chunk(b"IDAT", _stored_zlib(bytes(raw))) + _chunk(b"IEND", b""))


# ---------------------------------------------------------------------------
# Drawing: a picture is a list of (shape, colour) layers, later layers on top.
# Shapes answer whether a point (unit coordinates, y down) is inside.

def polygon(*points):
    def inside(x, y):
        hit = False
        n = len(points)
        for i in range(n):
            x1, y1 = points[i]
            x2, y2 = points[(i + 1) % n]
            if (y1 > y) != (y2 > y) and x < x1 + (y - y1) * (x2 - x1) / (y2 - y1):
                hit = not hit
        return hit
    return inside


def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def rect(x1, y1, x2, y2):
    return lambda x, y: x1 <= x < x2 and y1 <= y < y2


def render(size, layers):
    """Rasterises layers into a size x size RGBA buffer (straight alpha)."""
    w, h = size
    out = bytearray(w * h * 4)
    n = SUPERSAMPLE
    for py in range(h):
        for px in range(w):
            r = g = b = a = 0.0
            for sy in range(n):
                for sx in range(n):
                    x = (px + (sx + 0.5) / n) / w
                    y = (py + (sy + 0.5) / n) / h
                    colour = None
                    for shape, c in layers:
                        if shape(x, y):
                            colour = c
                    if colour:
                        r += colour[0] * colour[3]
                        g += colour[1] * colour[3]
                        b += colour[2] * colour[3]
                        a += colour[3]
            i = (py * w + px) * 4
            if a > 0:
                out[i:i + 4] = bytes((round(r / a), round(g / a), round(b / a), round(a / (n * n))))
    return out


def ship_layers():
    """A small ship pointing right (angle 0), with transparent surroundings."""
    hull = (205, 214, 232, 255)
    wing = (86, 118, 204, 255)
    trim = (255, 212, 84, 255)
    glass = (120, 222, 255, 255)
    flame = (255, 150, 40, 255)
    return [
        (polygon((0.13, 0.40), (0.00, 0.50), (0.13, 0.60)), flame),
        (polygon((0.60, 0.40), (0.26, 0.02), (0.10, 0.02), (0.22, 0.40)), wing),
        (polygon((0.60, 0.60), (0.26, 0.98), (0.10, 0.98), (0.22, 0.60)), wing),
        (polygon((0.96, 0.50), (0.26, 0.20), (0.12, 0.50), (0.26, 0.80)), hull),
        (rect(0.30, 0.47, 0.80, 0.53), trim),
        (circle(0.62, 0.50, 0.10), glass),
    ]


def star_pixels(size):
    """A soft white-gold glow with four spikes; alpha fades to the edge."""
    out = bytearray(size * size * 4)
    for py in range(size):
        for px in range(size):
            dx = (px + 0.5) / size - 0.5
            dy = (py + 0.5) / size - 0.5
            d = math.hypot(dx, dy) * 2
            glow = max(0.0, 1.0 - d) ** 2
            spike = max(0.0, 1.0 - d) * max(0.0, 1.0 - min(abs(dx), abs(dy)) * size / 1.5)
            a = min(1.0, glow + spike)
            i = (py * size + px) * 4
            out[i:i + 4] = bytes((255, 244, round(200 + 55 * glow), round(255 * a)))
    return out


def tile_layers():
    """An opaque deck plate: a bevelled panel with two rivets."""
    edge = (46, 52, 78, 255)
    light = (92, 102, 140, 255)
    plate = (64, 72, 104, 255)
    rivet = (150, 160, 196, 255)
    return [
        (rect(0.0, 0.0, 1.0, 1.0), edge),
        (rect(0.06, 0.06, 0.94, 0.94), light),
        (rect(0.12, 0.12, 0.94, 0.94), plate),
        (circle(0.25, 0.25, 0.06), rivet),
        (circle(0.75, 0.75, 0.06), rivet),
    ]


def images():
    """File name -> (width, height, RGBA bytes)."""
    return {
        "ship.png": (32, 32, render((32, 32), ship_layers())),
        "ship@200.png": (64, 64, render((64, 64), ship_layers())),
        "star.png": (16, 16, star_pixels(16)),
        "tile.png": (32, 32, render((32, 32), tile_layers())),
    }


def main(argv):
    out_dir = os.path.abspath(argv[1]) if len(argv) > 1 else DEFAULT_OUTPUT
    os.makedirs(out_dir, exist_ok=True)
    for name, (w, h, rgba) in sorted(images().items()):
        path = os.path.join(out_dir, name)
        with open(path, "wb") as f:
            f.write(png_bytes(w, h, rgba))
        print("wrote %s (%d x %d)" % (path, w, h))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
