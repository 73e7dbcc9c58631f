#!/usr/bin/env python3
"""Draws the program's artwork (all of it our own) and writes it as BMP/ICO
files next to this script. Pure Python, no packages beyond the standard
library. Run it again after changing a drawing; the outputs are committed.
With --check it draws into a scratch folder and fails when a committed file
differs from what the script draws (the test command runs that).

  logo.bmp        187 x 23 "Quillmark" wordmark with its quill, 32-bit,
                  premultiplied alpha (blended over the window colour)
  proxy.bmp       16 x 16 glyph of the proxy button (globe), 24-bit,
                  magenta = transparent
  row-fetch.bmp   16 x 16 row image: a page still to fetch (blue arrow)
  row-done.bmp    16 x 16 row image: a complete page (green tick)
  QMLoader.ico    application icon, 16 x 16 and 32 x 32, 32-bit with alpha
"""
import math
import os
import struct
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
OUTPUTS = ("logo.bmp", "proxy.bmp", "row-fetch.bmp", "row-done.bmp", "QMLoader.ico")
OUT = HERE  # where the files go
MAGENTA = (255, 0, 255)
NAVY = (24, 48, 100)
TEAL = (0, 122, 128)


# ---- shapes: each answers "is this point inside?" -------------------------

def seg_dist(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy
    t = 0.0 if length2 == 0 else max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / length2))
    qx, qy = ax + t * dx - px, ay + t * dy - py
    return math.hypot(qx, qy)


class Strokes:
    """Polylines drawn with a round pen of the given width."""

    def __init__(self, polylines, width):
        self.segs = []
        r = width / 2
        self.r = r
        for line in polylines:
            for (ax, ay), (bx, by) in zip(line, line[1:]):
                box = (min(ax, bx) - r, min(ay, by) - r, max(ax, bx) + r, max(ay, by) + r)
                self.segs.append((ax, ay, bx, by, box))

    def inside(self, x, y):
        for ax, ay, bx, by, (x0, y0, x1, y1) in self.segs:
            if x0 <= x <= x1 and y0 <= y <= y1 and seg_dist(x, y, ax, ay, bx, by) <= self.r:
                return True
        return False


class Ellipse:
    def __init__(self, cx, cy, rx, ry, angle=0.0):
        self.cx, self.cy, self.rx, self.ry = cx, cy, rx, ry
        self.c, self.s = math.cos(math.radians(angle)), math.sin(math.radians(angle))

    def inside(self, x, y):
        dx, dy = x - self.cx, y - self.cy
        u = dx * self.c + dy * self.s
        v = -dx * self.s + dy * self.c
        return (u / self.rx) ** 2 + (v / self.ry) ** 2 <= 1.0


class Rect:
    def __init__(self, x0, y0, x1, y1):
        self.box = (x0, y0, x1, y1)

    def inside(self, x, y):
        x0, y0, x1, y1 = self.box
        return x0 <= x <= x1 and y0 <= y <= y1


def arc(cx, cy, rx, ry, a0, a1, steps=14):
    """Points of an elliptic arc, angles in degrees (0 = right, 90 = down)."""
    return [(cx + rx * math.cos(math.radians(a0 + (a1 - a0) * i / steps)),
             cy + ry * math.sin(math.radians(a0 + (a1 - a0) * i / steps))) for i in range(steps + 1)]


# ---- the wordmark's letters: polylines, baseline at y = 18 -----------------

def letters():
    """(advance, polylines, dots) per letter of "Quillmark"; x from 0."""
    q = [arc(6, 10.5, 5.5, 7.0, 0, 360, 40), [(7.5, 14.5), (12.5, 20.5)]]
    u = [[(0, 8)] + arc(3.2, 14.6, 3.2, 3.4, 180, 0) + [(6.4, 8)], [(6.4, 8), (6.4, 18)]]
    i_ = [[(0, 8.5), (0, 18)]]
    l_ = [[(0, 3), (0, 18)]]
    m = [[(0, 8), (0, 18)], [(0, 18)] + [(0, 11.5)] + arc(2.9, 11.5, 2.9, 3.2, 180, 360) + [(5.8, 18)],
         [(5.8, 11.5)] + arc(8.7, 11.5, 2.9, 3.2, 180, 360) + [(11.6, 18)]]
    a = [arc(3.3, 14.5, 3.3, 3.6, 0, 360, 30), [(6.6, 8.5), (6.6, 18)]]
    r = [[(0, 8), (0, 18)], [(0, 12.5)] + arc(3.6, 12.5, 3.6, 4.2, 180, 290)]
    k = [[(0, 3), (0, 18)], [(6.2, 8), (0.3, 14)], [(2.4, 12), (6.6, 18)]]
    dot = [(0, 4.6)]
    return [(12.5, q, []), (6.4, u, []), (0, i_, dot), (0, l_, []), (0, l_, []),
            (11.6, m, []), (6.6, a, []), (5.0, r, []), (6.6, k, [])]


def wordmark(x0, xscale, pen, gap):
    shapes, x = [], x0
    for advance, lines, dots in letters():
        scaled = [[(x + px * xscale, py) for px, py in line] for line in lines]
        shapes.append(Strokes(scaled, pen))
        for dx, dy in dots:
            shapes.append(Ellipse(x + dx * xscale, dy, pen * 0.75, pen * 0.75))
        x += advance * xscale + gap
    return shapes, x


def quill(ox, oy, size):
    """A feather: a slanted vane with its shaft, in a size x size box."""
    k = size / 23.0
    vane = Ellipse(ox + 11.5 * k, oy + 9.5 * k, 10.0 * k, 3.8 * k, -55)
    shaft = Strokes([[(ox + 3.0 * k, oy + 22.0 * k), (ox + 16.5 * k, oy + 2.0 * k)]], max(1.0, 1.1 * k))
    return vane, shaft


# ---- rasterising -----------------------------------------------------------

def coverage(shape, x, y, n=4):
    hits = 0
    for sy in range(n):
        for sx in range(n):
            if shape.inside(x + (sx + 0.5) / n, y + (sy + 0.5) / n):
                hits += 1
    return hits / (n * n)


def paint(pixels, w, h, shape, colour, n=4, alpha=1.0):
    """Composites shape in colour over premultiplied RGBA pixels."""
    for y in range(h):
        for x in range(w):
            a = coverage(shape, x, y, n) * alpha
            if a:
                r, g, b, pa = pixels[y * w + x]
                pixels[y * w + x] = (colour[0] * a + r * (1 - a), colour[1] * a + g * (1 - a),
                                     colour[2] * a + b * (1 - a), a + pa * (1 - a))


def paint_hard(pixels, w, shape, colour, box):
    """Pixel art: a pixel takes colour when its centre is inside shape."""
    x0, y0, x1, y1 = box
    for y in range(y0, y1):
        for x in range(x0, x1):
            if shape.inside(x + 0.5, y + 0.5):
                pixels[y * w + x] = colour


# ---- file formats ----------------------------------------------------------

def bmp_rows(pixels, w, h, bpp):
    rows = []
    for y in range(h - 1, -1, -1):  # bottom-up
        row = bytearray()
        for x in range(w):
            p = pixels[y * w + x]
            if bpp == 32:
                r, g, b, a = p
                row += bytes((round(b), round(g), round(r), round(a * 255)))
            else:
                row += bytes((p[2], p[1], p[0]))
        while len(row) % 4:
            row += b"\0"
        rows.append(bytes(row))
    return b"".join(rows)


def info_header(w, h, bpp, image_size):
    return struct.pack("<IiiHHIIiiII", 40, w, h, 1, bpp, 0, image_size, 2835, 2835, 0, 0)


def write_bmp(name, pixels, w, h, bpp):
    data = bmp_rows(pixels, w, h, bpp)
    header = info_header(w, h, bpp, len(data))
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", 14 + len(header) + len(data), 0, 0, 14 + len(header)))
        f.write(header + data)


def write_ico(name, images):
    """images: (size, premultiplied RGBA pixels); stored straight (not premultiplied)."""
    blobs = []
    for size, pixels in images:
        straight = [(r / a, g / a, b / a, a) if a else (0, 0, 0, 0) for r, g, b, a in pixels]
        xor = bmp_rows(straight, size, size, 32)
        mask_row = ((size + 31) // 32) * 4
        blobs.append((size, info_header(size, size * 2, 32, len(xor)) + xor + b"\0" * (mask_row * size)))
    out = struct.pack("<HHH", 0, 1, len(blobs))
    offset = 6 + 16 * len(blobs)
    for size, blob in blobs:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(out + b"".join(blob for _, blob in blobs))


# ---- the pictures ----------------------------------------------------------

def logo():
    w, h = 187, 23
    px = [(0.0, 0.0, 0.0, 0.0)] * (w * h)
    vane, shaft = quill(0, 0, 23)
    paint(px, w, h, vane, TEAL)
    paint(px, w, h, shaft, NAVY)
    shapes, _ = wordmark(27, 1.5, 2.3, 4.2)
    for s in shapes:
        paint(px, w, h, s, NAVY)
    write_bmp("logo.bmp", px, w, h, 32)


def glyph_proxy():
    px = [MAGENTA] * 256
    paint_hard(px, 16, Ellipse(8, 8, 6.6, 6.6), NAVY, (0, 0, 16, 16))
    paint_hard(px, 16, Ellipse(8, 8, 5.6, 5.6), (110, 170, 230), (0, 0, 16, 16))
    grid = Strokes([[(2.5, 8), (13.5, 8)], [(8, 2.5), (8, 13.5)]] + [arc(8, 8, 2.8, 5.6, 0, 360, 24)], 0.9)
    paint_hard(px, 16, grid, NAVY, (0, 0, 16, 16))
    write_bmp("proxy.bmp", px, 16, 16, 24)


def row_image(name, mark, colour):
    px = [MAGENTA] * 256
    paint_hard(px, 16, Rect(2, 1, 11, 15), (96, 96, 96), (0, 0, 16, 16))
    paint_hard(px, 16, Rect(3, 2, 10, 14), (255, 255, 255), (0, 0, 16, 16))
    for y in (4, 6, 8):
        paint_hard(px, 16, Rect(4, y, 8, y + 0.9), (170, 170, 170), (0, 0, 16, 16))
    paint_hard(px, 16, mark, colour, (0, 0, 16, 16))
    write_bmp(name, px, 16, 16, 24)


def icon(size):
    px = [(0.0, 0.0, 0.0, 0.0)] * (size * size)
    k = size / 32
    frame = Strokes([[(4 * k, 4 * k), (28 * k, 4 * k), (28 * k, 28 * k), (4 * k, 28 * k), (4 * k, 4 * k)]], 6 * k)
    paint(px, size, size, frame, (238, 242, 248))
    paint(px, size, size, Rect(4 * k, 4 * k, 28 * k, 28 * k), (238, 242, 248))
    vane, shaft = quill(4 * k, 3 * k, 25 * k)
    paint(px, size, size, vane, TEAL)
    paint(px, size, size, shaft, NAVY)
    return size, px


def main():
    logo()
    glyph_proxy()
    row_image("row-fetch.bmp", Strokes([[(12.5, 6), (12.5, 13)], [(10, 10.5), (12.5, 13.2), (15, 10.5)]], 1.6),
              (30, 90, 210))
    row_image("row-done.bmp", Strokes([[(8.5, 10), (11, 13), (15, 6)]], 1.8), (20, 150, 40))
    write_ico("QMLoader.ico", [icon(16), icon(32)])


def check():
    global OUT
    with tempfile.TemporaryDirectory() as scratch:
        OUT = scratch
        main()
        stale = [name for name in OUTPUTS
                 if open(os.path.join(scratch, name), "rb").read() != open(os.path.join(HERE, name), "rb").read()]
    for name in stale:
        print(f"res/{name} is not what make-artwork.py draws: run it and commit the result")
    return 1 if stale else 0


if __name__ == "__main__":
    sys.exit(check() if sys.argv[1:] == ["--check"] else main())
