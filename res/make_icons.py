#!/usr/bin/env python3
"""Draws Klavor's icons and writes them as classic .ico files.

    python3 res/make_icons.py [OUTDIR]      (OUTDIR defaults to res/)

Standard library only, and byte-for-byte reproducible: every image is drawn
from shapes given as signed distance functions (negative inside, pixel units;
pixel (i, j) covers [i, i+1] x [j, j+1], y grows downwards), anti-aliased by
supersampling, then given a palette -- for 256-colour images, the colours it
uses (exact), for 16-colour images, the standard VGA palette (nearest).  Floats only go
through + - * / and sqrt, which IEEE 754 rounds exactly, so the output does not
depend on the platform's maths library.  Each size of the program's icon has
its own geometry, laid on the pixel grid, rather than being a scaled copy of
another size; the 16 x 16 button icons are pixel art, painted cell by cell.
"""

import os
import struct
import sys
from math import sqrt

# --------------------------------------------------------------------------
# Shapes: functions (x, y) -> signed distance.  They are all 1-Lipschitz,
# which Canvas.fill relies on to skip supersampling far from an edge.


def circle(cx, cy, r):
    def f(x, y):
        dx, dy = x - cx, y - cy
        return sqrt(dx * dx + dy * dy) - r
    return f


def rrect(x0, y0, x1, y1, r):
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hx, hy = (x1 - x0) / 2 - r, (y1 - y0) / 2 - r

    def f(x, y):
        qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
        ox, oy = max(qx, 0.0), max(qy, 0.0)
        return sqrt(ox * ox + oy * oy) + min(max(qx, qy), 0.0) - r
    return f


def grow(f, t):
    """The shape made t pixels fatter (t < 0: thinner)."""
    return lambda x, y: f(x, y) - t


# --------------------------------------------------------------------------
# Paints: an (r, g, b) tuple, or a function (x, y) -> (r, g, b).


def rgb(h):
    return (int(h[0:2], 16), int(h[2:4], 16), int(h[4:6], 16))


def _mix(c0, c1, t):
    t = min(max(t, 0.0), 1.0)
    return tuple(a + (b - a) * t for a, b in zip(c0, c1))


def gradient(x0, y0, c0, x1, y1, c1):
    """Linear gradient from c0 at (x0, y0) to c1 at (x1, y1)."""
    dx, dy = x1 - x0, y1 - y0
    n = dx * dx + dy * dy
    return lambda x, y: _mix(c0, c1, ((x - x0) * dx + (y - y0) * dy) / n)


def radial(cx, cy, r, c0, c1):
    return lambda x, y: _mix(c0, c1, sqrt((x - cx) * (x - cx) + (y - cy) * (y - cy)) / r)


# --------------------------------------------------------------------------
# Rendering.

SS = 6                                   # supersamples per axis
_OFFS = [(k + 0.5) / SS for k in range(SS)]


class Canvas:
    def __init__(self, size):
        self.n = size
        # premultiplied r, g, b (0..255) and alpha (0..1), row-major, top down
        self.px = [[0.0, 0.0, 0.0, 0.0] for _ in range(size * size)]

    def fill(self, shape, paint, smooth=True):
        """Composites paint over what is there, where shape is.  smooth=False
        gives hard edges (coverage rounded to 0 or 1)."""
        n = self.n
        for j in range(n):
            for i in range(n):
                d = shape(i + 0.5, j + 0.5)
                if d >= 0.75:
                    continue
                if d <= -0.75:
                    cov = 1.0
                else:
                    hits = 0
                    for oy in _OFFS:
                        for ox in _OFFS:
                            if shape(i + ox, j + oy) < 0:
                                hits += 1
                    cov = hits / (SS * SS)
                    if not smooth:
                        cov = 1.0 if hits * 2 >= SS * SS else 0.0
                    if cov == 0.0:
                        continue
                col = paint(i + 0.5, j + 0.5) if callable(paint) else paint
                p, k = self.px[j * n + i], 1.0 - cov
                for c in range(3):
                    p[c] = col[c] * cov + p[c] * k
                p[3] = cov + p[3] * k

    def pixels(self):
        """Rows of (r, g, b) ints, or None where the pixel is transparent
        (coverage under one half).  Edge pixels keep their own colour, not a
        blend with any background, since the icon may land on any."""
        out = []
        for p in self.px:
            if p[3] < 0.5:
                out.append(None)
            else:
                out.append(tuple(min(255, int(p[c] / p[3] + 0.5)) for c in range(3)))
        return [out[j * self.n:(j + 1) * self.n] for j in range(self.n)]


# --------------------------------------------------------------------------
# Quantisation.

VGA16 = [rgb(h) for h in (
    "000000", "800000", "008000", "808000", "000080", "800080", "008080", "c0c0c0",
    "808080", "ff0000", "00ff00", "ffff00", "0000ff", "ff00ff", "00ffff", "ffffff")]


def _dist(a, b):
    dr, dg, db = a[0] - b[0], a[1] - b[1], a[2] - b[2]
    return 3 * dr * dr + 4 * dg * dg + 2 * db * db


def nearest(c, palette):
    best, bi = None, 0
    for i, p in enumerate(palette):
        d = _dist(c, p)
        if best is None or d < best:
            best, bi = d, i
    return bi


def quantise(rows, bpp):
    """Returns (palette, rows of indices or None).  Index 0 is black: the XOR
    colour that transparent pixels must have."""
    if bpp == 4:
        palette = VGA16
    else:
        used = {c for row in rows for c in row if c is not None and c != (0, 0, 0)}
        if len(used) > 255:
            # Every design so far fits (the 48-pixel key cap has 229
            # colours), so the palette is exact; a busier one needs a
            # colour reducer here.
            raise ValueError("%d colours do not fit a 256-colour palette" % (len(used) + 1))
        palette = [(0, 0, 0)] + sorted(used)
    memo = {}
    idx = []
    for row in rows:
        out = []
        for c in row:
            if c is None:
                out.append(None)
            else:
                if c not in memo:
                    memo[c] = nearest(c, palette)
                out.append(memo[c])
        idx.append(out)
    return palette, idx


# --------------------------------------------------------------------------
# ICO / DIB encoding.


def _pack_bits(values, bpp):
    out, acc, nbits = bytearray(), 0, 0
    for v in values:
        acc = (acc << bpp) | v
        nbits += bpp
        if nbits == 8:
            out.append(acc)
            acc, nbits = 0, 0
    if nbits:
        out.append(acc << (8 - nbits))
    while len(out) % 4:
        out.append(0)
    return bytes(out)


def dib(palette, idx, bpp):
    """BITMAPINFOHEADER (height doubled), colour table, XOR bits, AND mask;
    rows bottom-up, each padded to 4 bytes; mask bit 1 = transparent."""
    h, w = len(idx), len(idx[0])
    table = list(palette) + [(0, 0, 0)] * ((1 << bpp) - len(palette))
    xor = b"".join(_pack_bits([0 if v is None else v for v in row], bpp) for row in reversed(idx))
    mask = b"".join(_pack_bits([1 if v is None else 0 for v in row], 1) for row in reversed(idx))
    head = struct.pack("<IiiHHIIiiII", 40, w, 2 * h, 1, bpp, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return head + b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in table) + xor + mask


def ico(images):
    """images: list of (size, bpp, dib bytes)."""
    head = struct.pack("<HHH", 0, 1, len(images))
    off = 6 + 16 * len(images)
    entries, blobs = b"", b""
    for size, bpp, data in images:
        entries += struct.pack("<BBBBHHII", size, size, 16 if bpp == 4 else 0, 0, 1, bpp, len(data), off)
        blobs += data
        off += len(data)
    return head + entries + blobs


def image(draw, size, bpp):
    cv = Canvas(size)
    draw(cv, size, bpp)
    palette, idx = quantise(cv.pixels(), bpp)
    return size, bpp, dib(palette, idx, bpp)


# --------------------------------------------------------------------------
# The designs.


# Key cap layout per size: outline, side walls and top face as rounded
# rectangles (x0, y0, x1, y1, corner radius), the dots' row and columns, and
# their radius (256-colour images) -- each chosen on that size's pixel grid.
_KEY = {
    48: dict(body=(2, 3, 46, 46, 10), side=(3, 4, 45, 45, 9), face=(6, 4, 42, 37, 7),
             dot_y=21, dot_x=(13, 24, 35), dot_r=4.2),
    32: dict(body=(1, 2, 31, 31, 7), side=(2, 3, 30, 30, 6), face=(4, 3, 28, 24, 5),
             dot_y=14, dot_x=(9, 16, 23), dot_r=2.3),
    16: dict(body=(0, 1, 16, 16, 4), side=(1, 2, 15, 15, 3), face=(2, 2, 14, 12, 2.5),
             dot_y=7, dot_x=(4, 8, 12), dot_r=1),
}


def draw_app(cv, n, bpp):
    """A light key cap seen slightly from above, with three press-count dots
    on its face, two of them lit: 'this key, pressed twice'."""
    k = _KEY[n]
    body, side, face, y = rrect(*k["body"]), rrect(*k["side"]), rrect(*k["face"]), k["dot_y"]
    top, bottom = k["face"][1], k["face"][3]
    if bpp == 8:
        cv.fill(body, rgb("1c2636"))
        cv.fill(side, gradient(0, k["side"][1], rgb("98a6ba"), 0, k["side"][3], rgb("4c5a70")))
        if n > 16:   # a face with a thin rim; at 16 pixels the rim would eat it
            cv.fill(face, rgb("7f8ca0"))
            face = grow(face, -1)
        cv.fill(face, gradient(0, top, rgb("ffffff"), 0, bottom, rgb("d5dce6" if n > 16 else "c9d1dd")))
        for i, x in enumerate(k["dot_x"]):
            lit = i < 2
            if n == 16:  # 2 x 2 pixels, lit from the top left
                c0, c1 = ("5aa8ff", "0c4bb0") if lit else ("aab4c3", "d8dee7")
                cv.fill(rrect(x - 1, y - 1, x + 1, y + 1, 0.4), gradient(x - 1, y - 1, rgb(c0), x + 1, y + 1, rgb(c1)))
                continue
            r = k["dot_r"]
            cv.fill(circle(x, y, r + (0.8 if n == 48 else 0.7)), rgb("0b3f8c" if lit else "a3aec0"))
            if lit:      # a glossy bead
                paint = radial(x - r * 0.4, y - r * 0.5, r * 1.6, rgb("7cc0ff"), rgb("1560d0"))
            else:        # a shallow dimple
                paint = radial(x, y + r * 0.5, r * 1.6, rgb("f6f8fb"), rgb("c6cdd8"))
            cv.fill(circle(x, y, r), paint)
    else:
        black, navy, silver, gray, blue, white = (VGA16[i] for i in (0, 4, 7, 8, 12, 15))
        cv.fill(body, black, smooth=False)
        cv.fill(side, gray, smooth=False)
        if n > 16:
            cv.fill(face, silver, smooth=False)
            face = grow(face, -1)
        cv.fill(face, white, smooth=False)
        for i, x in enumerate(k["dot_x"]):
            lit = i < 2
            if n == 16:
                cv.fill(rrect(x - 1, y - 1, x + 1, y + 1, 0), blue if lit else silver, smooth=False)
                continue
            # a 6-pixel disc: dark rim below right, a glint above left
            cv.fill(circle(x, y, 3), navy if lit else gray, smooth=False)
            cv.fill(circle(x - 0.5, y - 0.5, 2.4), blue if lit else silver, smooth=False)
            if lit:
                cv.fill(rrect(x - 2, y - 2, x - 1, y - 1, 0), white, smooth=False)


# The small button icons are pixel art: at 16 x 16 in 16 colours, placing
# each pixel by hand beats any rasterised curve.  Letters: K black, d grey,
# s silver, W white, G/g light/dark green, R/r light/dark red, '.' clear.
_ART = {"K": 0, "r": 1, "g": 2, "s": 7, "d": 8, "R": 9, "G": 10, "W": 15}

# A loudspeaker, columns 0-9, and a plus or a minus sign, columns 10-15.
_SPEAKER = [
    "..........", "........KK", ".......KsK", "......KssK",
    "KKKKKKsssK", "KWWWKssssK", "KsssKssssK", "KsssKssssK",
    "KsssKssssK", "KdddKddddK", "KKKKKKdddK", "......KddK",
    ".......KdK", "........KK", "..........", "..........",
]
_PLUS = ["......"] * 5 + ["..Gg..", "..Gg..", "GGGGGG", "ggGggg", "..Gg..", "..Gg.."] + ["......"] * 5
_MINUS = ["......"] * 7 + ["RRRRRR", "rrrrrr"] + ["......"] * 7

# Off hook, tilted: earpiece top left, mouthpiece bottom right.  Only the half
# on and above the anti-diagonal (x + y <= 15) is given; the rest is its
# mirror image, so the two ends match exactly.
_GREEN_HALF = [
    "................",
    "..KKKK..........",
    ".KGGGGKK........",
    "KGGGGGGGK.......",
    "KGGGGGGGK.......",
    "KgGGGKKK........",
    "KgGGK...........",
    "KgGGK...........",
    "KgGGGK..........",
    ".KgGGK..........",
    ".KggGGK.........",
    "..KggGGK........",
    "...KggG.........",
]

# On hook: lying flat, ends down.
_RED = [
    "................",
    "................",
    "................",
    "................",
    "....KKKKKKKK....",
    "..KKRRRRRRRRKK..",
    ".KRRWWRRRRRRRRK.",
    "KRRRRRRRRRRRRRRK",
    "KRRRRrKKKKrRRRRK",
    "KRRRRK....KRRRRK",
    "KRRRRK....KRRRRK",
    "KrrrrK....KrrrrK",
    ".KKKK......KKKK.",
]


def _mirror_diagonal(half):
    grid = [["."] * 16 for _ in range(16)]
    for y, row in enumerate(half):
        for x, c in enumerate(row):
            if x + y <= 15:
                grid[y][x] = grid[15 - x][15 - y] = c
    return ["".join(r) for r in grid]


def _paint_art(cv, rows):
    for y, row in enumerate(rows):
        for x, c in enumerate(row):
            if c != ".":
                cv.fill(rrect(x, y, x + 1, y + 1, 0), VGA16[_ART[c]], smooth=False)


def draw_volume_up(cv, n, bpp):
    _paint_art(cv, [a + b for a, b in zip(_SPEAKER, _PLUS)])


def draw_volume_down(cv, n, bpp):
    _paint_art(cv, [a + b for a, b in zip(_SPEAKER, _MINUS)])


def draw_green(cv, n, bpp):
    _paint_art(cv, _mirror_diagonal(_GREEN_HALF))
    cv.fill(rrect(3, 3, 4, 4, 0), VGA16[15], smooth=False)    # glint on the earpiece only


def draw_red(cv, n, bpp):
    _paint_art(cv, _RED)


ICONS = [
    ("klavor.ico", draw_app, [(32, 4), (16, 4), (32, 8), (48, 8), (16, 8)]),
    ("volume_up.ico", draw_volume_up, [(16, 4)]),
    ("volume_down.ico", draw_volume_down, [(16, 4)]),
    ("green.ico", draw_green, [(16, 4)]),
    ("red.ico", draw_red, [(16, 4)]),
]


def main(argv):
    out = argv[1] if len(argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    for name, draw, formats in ICONS:
        data = ico([image(draw, size, bpp) for size, bpp in formats])
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
