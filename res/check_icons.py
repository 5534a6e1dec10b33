#!/usr/bin/env python3
"""Checks Klavor's icons and their place in the resources.

    python3 res/check_icons.py [RESDIR]      (RESDIR defaults to res/)

For each .ico file: the icon directory, every entry, every image's
BITMAPINFOHEADER, colour table, XOR bits and AND mask, against the formats the
program needs (EXPECTED); that transparent pixels are black in the XOR bits,
or they would invert what lies under the icon; and that the 16-colour images
use the standard VGA palette.  Then resource.h and klavor.rc: the ids, the
icon list, the file of each icon group, the HI_RES_AWARE marker.

Prints one line per fault, naming the file, and exits 1; exits 0 when all is
well.  Standard library only.
"""

import os
import re
import struct
import sys

# file -> its images, in order: (width = height, bits per pixel)
EXPECTED = {
    "klavor.ico": [(32, 4), (16, 4), (32, 8), (48, 8), (16, 8)],
    "volume_up.ico": [(16, 4)],
    "volume_down.ico": [(16, 4)],
    "green.ico": [(16, 4)],
    "red.ico": [(16, 4)],
}

# icon id name -> (value, file)
IDS = {
    "IDI_APP": (105, "klavor.ico"),
    "IDI_VOLUME_UP": (10001, "volume_up.ico"),
    "IDI_VOLUME_DOWN": (10002, "volume_down.ico"),
    "IDI_GREEN": (10003, "green.ico"),
    "IDI_RED": (10004, "red.ico"),
}

VGA16 = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]


def stride(width, bpp):
    """Bytes in one DIB row: whole 32-bit words."""
    return (width * bpp + 31) // 32 * 4


def decode(data, off, w, bpp):
    """The image at off as rows (top down) of (r, g, b), or None where the
    mask says transparent; plus the list of transparent pixels whose XOR
    colour is not black."""
    table = off + 40
    palette = [tuple(data[table + 4 * i + 2 - c] for c in range(3)) for i in range(1 << bpp)]
    xor = table + 4 * (1 << bpp)
    mask = xor + stride(w, bpp) * w
    rows, stray = [], []
    for y in range(w):
        r = w - 1 - y                                   # rows are stored bottom up
        row = []
        for x in range(w):
            bit = x * bpp
            v = data[xor + r * stride(w, bpp) + bit // 8] >> (8 - bpp - bit % 8) & ((1 << bpp) - 1)
            clear = data[mask + r * stride(w, 1) + x // 8] >> (7 - x % 8) & 1
            row.append(None if clear else palette[v])
            if clear and palette[v] != (0, 0, 0):
                stray.append((x, y))
        rows.append(row)
    return rows, stray


def check_ico(data, expected):
    """Faults of one .ico file's bytes against [(size, bpp), ...]."""
    errs = []
    if len(data) < 6:
        return ["too short for an icon directory (%d bytes)" % len(data)]
    reserved, kind, count = struct.unpack_from("<HHH", data)
    if reserved != 0 or kind != 1:
        errs.append("not an icon directory (reserved %d, type %d)" % (reserved, kind))
    if count != len(expected):
        return errs + ["%d images, expected %d" % (count, len(expected))]
    end = 6 + 16 * count
    if len(data) < end:
        return errs + ["directory cut short"]
    for i, (size, bpp) in enumerate(expected):
        at = "image %d (%dx%d, %d bpp)" % (i, size, size, bpp)
        w, h, colors, res0, planes, bits, nbytes, off = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        ncol, xor_len, and_len = 1 << bpp, stride(size, bpp) * size, stride(size, 1) * size
        want_bytes = 40 + 4 * ncol + xor_len + and_len
        for name, got, want in (("width", w, size), ("height", h, size),
                                ("colour count", colors, 16 if bpp == 4 else 0), ("reserved", res0, 0),
                                ("planes", planes, 1), ("bit count", bits, bpp),
                                ("bytes in resource", nbytes, want_bytes), ("offset", off, end)):
            if got != want:
                errs.append("%s: entry %s is %d, expected %d" % (at, name, got, want))
        if off != end or off + want_bytes > len(data):
            errs.append("%s: image data missing or out of place; stopping here" % at)
            return errs
        hsize, bw, bh, bplanes, bbits, comp, img_size, _, _, used, _ = \
            struct.unpack_from("<IiiHHIIiiII", data, off)
        for name, got, want in (("header size", hsize, 40), ("width", bw, size), ("height", bh, 2 * size),
                                ("planes", bplanes, 1), ("bit count", bbits, bpp), ("compression", comp, 0)):
            if got != want:
                errs.append("%s: BITMAPINFOHEADER %s is %d, expected %d" % (at, name, got, want))
        if img_size not in (0, xor_len + and_len):
            errs.append("%s: biSizeImage is %d, expected %d (XOR %d + mask %d)"
                        % (at, img_size, xor_len + and_len, xor_len, and_len))
        if used not in (0, ncol):
            errs.append("%s: biClrUsed is %d, expected the full table of %d" % (at, used, ncol))
        if hsize == 40 and bbits == bpp and bw == size:
            rows, stray = decode(data, off, size, bpp)
            if bpp == 4:
                table = [tuple(data[off + 40 + 4 * k + 2 - c] for c in range(3)) for k in range(16)]
                if table != VGA16:
                    errs.append("%s: colour table is not the standard VGA palette" % at)
            if stray:
                errs.append("%s: %d transparent pixels are not black in the XOR bits, first at %s"
                            % (at, len(stray), stray[0]))
            flat = [p for row in rows for p in row]
            if all(p is None for p in flat) or None not in flat:
                errs.append("%s: the mask leaves it all clear or all opaque" % at)
        end = off + want_bytes
    if len(data) != end:
        errs.append("%d bytes after the last image" % (len(data) - end))
    return errs


def check_sources(res_dir):
    """Faults of resource.h and klavor.rc: (file name, message) pairs."""
    errs = []
    with open(os.path.join(res_dir, "resource.h")) as f:
        header = f.read()
    with open(os.path.join(res_dir, "klavor.rc")) as f:
        rc = f.read()
    want_ids = dict((k, v[0]) for k, v in IDS.items())
    want_icons = sorted((k, v[1]) for k, v in IDS.items())
    defines = dict((m.group(1), int(m.group(2)))
                   for m in re.finditer(r"^#define\s+(IDI_\w+)\s+(\d+)\s*$", header, re.M))
    if defines != want_ids:
        errs.append(("resource.h", "icon ids %s, expected %s" % (sorted(defines.items()), sorted(want_ids.items()))))
    listed = re.search(r"#define\s+KLAVOR_ICON_IDS\(X\)((?:.*\\\n)*.*)", header)
    names = re.findall(r"X\((\w+)\)", listed.group(1)) if listed else []
    if sorted(names) != sorted(IDS):
        errs.append(("resource.h", "KLAVOR_ICON_IDS lists %s, expected each of %s once" % (names, sorted(IDS))))
    body = re.sub(r"//.*", "", re.sub(r"/\*.*?\*/", "", rc, flags=re.S))
    icons = sorted(re.findall(r"^\s*(\w+)\s+ICON\s+\"([^\"]+)\"", body, re.M))
    if icons != want_icons:
        errs.append(("klavor.rc", "ICON lines %s, expected %s" % (icons, want_icons)))
    if not re.search(r'^\s*#include\s+"resource.h"', body, re.M):
        errs.append(("klavor.rc", "does not include resource.h"))
    if not re.search(r"^\s*HI_RES_AWARE\s+CEUX\s*\{\s*1\s*\}", body, re.M):
        errs.append(("klavor.rc", "no HI_RES_AWARE CEUX { 1 } marker"))
    return errs


def check_all(res_dir):
    errs = []
    for name, expected in EXPECTED.items():
        path = os.path.join(res_dir, name)
        if not os.path.exists(path):
            errs.append((name, "missing"))
            continue
        with open(path, "rb") as f:
            errs += [(name, e) for e in check_ico(f.read(), expected)]
    return errs + check_sources(res_dir)


def main(argv):
    res_dir = argv[1] if len(argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    errs = check_all(res_dir)
    for name, msg in errs:
        print("check_icons: %s: %s" % (os.path.join(res_dir, name), msg))
    if errs:
        return 1
    print("check_icons: %d icon files, resource.h and klavor.rc OK" % len(EXPECTED))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
