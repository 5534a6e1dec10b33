#!/usr/bin/env python3
"""Tests of the icons, their generator and their checker.

    python3 -m unittest discover -s res -p 'test_*.py'

The windres and C++ tests skip when the tool is not installed.
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import check_icons  # noqa: E402
import make_icons   # noqa: E402

EXPECTED = check_icons.EXPECTED


def read(path):
    with open(path, "rb") as f:
        return f.read()


def images(name):
    """Decoded images of res/NAME: [(size, bpp, rows)]."""
    data = read(os.path.join(HERE, name))
    out = []
    for i, (size, bpp) in enumerate(EXPECTED[name]):
        off = struct.unpack_from("<I", data, 6 + 16 * i + 12)[0]
        out.append((size, bpp, check_icons.decode(data, off, size, bpp)[0]))
    return out


class Generator(unittest.TestCase):
    def test_reproduces_the_checked_in_icons(self):
        with tempfile.TemporaryDirectory() as d:
            make_icons.main(["make_icons.py", d])
            for name in EXPECTED:
                self.assertEqual(read(os.path.join(d, name)), read(os.path.join(HERE, name)),
                                 name + " is stale: run python3 res/make_icons.py")

    def test_refuses_more_colours_than_a_palette_holds(self):
        rows = [[(x, y, 9) for x in range(16)] for y in range(16)] + [[(1, 2, 3)] + [None] * 15]
        with self.assertRaises(ValueError):
            make_icons.quantise(rows, 8)

    def test_app_icon_is_a_key_cap_on_a_clear_ground(self):
        for size, bpp, rows in images("klavor.ico"):
            at = "%dx%d %d bpp" % (size, size, bpp)
            self.assertEqual([rows[0][0], rows[0][-1], rows[-1][0], rows[-1][-1]], [None] * 4, at)
            self.assertIsNotNone(rows[size // 2][size // 2], at)
            lit = [p for row in rows for p in row if p and p[2] > p[0] + 80]     # the blue dots
            self.assertTrue(lit, at + ": no lit press-count dots")
            if bpp == 8:   # anti-aliased, not a 16-colour picture in a bigger table
                self.assertGreater(len({p for row in rows for p in row if p}), 16, at)

    def test_talk_icon_is_green_and_end_icon_is_red(self):
        def tint(name):
            px = [p for _, _, rows in images(name) for row in rows for p in row if p]
            return (sum(p[1] > p[0] + 64 for p in px), sum(p[0] > p[1] + 64 for p in px))
        green, red = tint("green.ico"), tint("red.ico")
        self.assertGreater(green[0], 40)
        self.assertEqual(green[1], 0)
        self.assertGreater(red[1], 40)
        self.assertEqual(red[0], 0)

    def test_volume_icons_share_the_speaker_and_differ_in_the_sign(self):
        up, down = images("volume_up.ico")[0][2], images("volume_down.ico")[0][2]
        self.assertEqual([r[:10] for r in up], [r[:10] for r in down])
        vertical = lambda rows: [y for y in range(16) if rows[y][12] is not None]
        self.assertGreaterEqual(len(vertical(up)), 5)     # the upright of the plus
        self.assertLessEqual(len(vertical(down)), 2)      # only the minus bar


class Checker(unittest.TestCase):
    def faults(self, name, mutate):
        data = bytearray(read(os.path.join(HERE, name)))
        mutate(data)
        return check_icons.check_ico(bytes(data), EXPECTED[name])

    def test_checked_in_resources_pass(self):
        self.assertEqual(check_icons.check_all(HERE), [])

    def test_reports_each_kind_of_fault(self):
        app = read(os.path.join(HERE, "klavor.ico"))
        first = struct.unpack_from("<I", app, 6 + 12)[0]
        last = 6 + 16 * 4
        red_top_row = 40 + 64 + 6 + 16 + 15 * 8          # XOR row of y = 0, stored last
        cases = [
            ("klavor.ico", lambda d: struct.pack_into("<H", d, 4, 4), "4 images, expected 5"),
            ("klavor.ico", lambda d: struct.pack_into("<B", d, 6 + 2, 0), "entry colour count is 0"),
            ("klavor.ico", lambda d: struct.pack_into("<B", d, 6 + 16 * 2 + 2, 16), "entry colour count is 16"),
            ("klavor.ico", lambda d: struct.pack_into("<H", d, 6 + 16 * 3 + 6, 4), "entry bit count is 4"),
            ("klavor.ico", lambda d: struct.pack_into("<B", d, 6 + 16, 32), "entry width is 32"),
            ("klavor.ico", lambda d: struct.pack_into("<I", d, first, 44), "header size is 44"),
            ("klavor.ico", lambda d: struct.pack_into("<i", d, first + 8, 32), "height is 32, expected 64"),
            ("klavor.ico", lambda d: struct.pack_into("<H", d, first + 14, 8), "BITMAPINFOHEADER bit count is 8"),
            ("klavor.ico", lambda d: struct.pack_into("<I", d, first + 20, 1), "biSizeImage is 1"),
            ("klavor.ico", lambda d: d.extend(b"\0" * 4), "4 bytes after the last image"),
            # the 16x16 mask of the last image cut to 15 rows
            ("klavor.ico", lambda d: (struct.pack_into("<I", d, last + 8, struct.unpack_from("<I", d, last + 8)[0] - 4),
                                      d.__delitem__(slice(len(d) - 4, None))), "bytes in resource is"),
            ("red.ico", lambda d: struct.pack_into("<B", d, red_top_row, 0x70), "not black in the XOR bits"),
            ("red.ico", lambda d: struct.pack_into("<BBB", d, 6 + 16 + 40 + 4 * 7, 1, 2, 3), "not the standard VGA"),
            ("red.ico", lambda d: d.__setitem__(slice(len(d) - 64, None), bytes(64)), "all clear or all opaque"),
        ]
        for name, mutate, words in cases:
            errs = self.faults(name, mutate)
            self.assertTrue(any(words in e for e in errs), "%s: wanted %r in %s" % (name, words, errs))

    def test_command_fails_naming_the_file(self):
        with tempfile.TemporaryDirectory() as d:
            for f in os.listdir(HERE):
                if f.endswith((".ico", ".rc", ".h")):
                    shutil.copy(os.path.join(HERE, f), d)
            os.remove(os.path.join(d, "green.ico"))
            with open(os.path.join(d, "klavor.rc")) as f:
                rc = f.read()
            with open(os.path.join(d, "klavor.rc"), "w") as f:
                f.write(rc.replace("HI_RES_AWARE CEUX { 1 }", "").replace('"red.ico"', '"green.ico"'))
            with open(os.path.join(d, "resource.h")) as f:
                h = f.read()
            with open(os.path.join(d, "resource.h"), "w") as f:
                f.write(h.replace("X(IDI_RED)", "").replace("10002", "10012"))
            run = subprocess.run([sys.executable, os.path.join(HERE, "check_icons.py"), d],
                                 capture_output=True, text=True)
        self.assertEqual(run.returncode, 1)
        lines = run.stdout.splitlines()
        for file, words in (("green.ico", "missing"), ("klavor.rc", "HI_RES_AWARE"), ("klavor.rc", "ICON lines"),
                            ("resource.h", "KLAVOR_ICON_IDS"), ("resource.h", "icon ids")):
            self.assertTrue(any(os.path.join(d, file) in l and words in l for l in lines), (file, words, lines))


class Toolchain(unittest.TestCase):
    @unittest.skipUnless(shutil.which("x86_64-w64-mingw32-windres"), "no windres")
    def test_windres_builds_the_groups_and_the_marker(self):
        with tempfile.TemporaryDirectory() as d:
            out = os.path.join(d, "k.res")
            subprocess.run(["x86_64-w64-mingw32-windres", os.path.join(HERE, "klavor.rc"), "-O", "res", "-o", out],
                           check=True)
            data = read(out)
        found, at = {}, 0

        def ident(at):   # a .res name or type: 0xFFFF then a number, or a UTF-16 string
            if data[at:at + 2] == b"\xff\xff":
                return struct.unpack_from("<H", data, at + 2)[0], at + 4
            end = at
            while data[end:end + 2] != b"\0\0":
                end += 2
            return data[at:end].decode("utf-16-le"), end + 2
        while at < len(data):
            size, head = struct.unpack_from("<II", data, at)
            kind, nxt = ident(at + 8)
            name, _ = ident(nxt)
            found[(kind, name)] = data[at + head:at + head + size]
            at += head + size + (-size % 4)
        groups = dict((name, struct.unpack_from("<H", v, 4)[0]) for (kind, name), v in found.items() if kind == 14)
        self.assertEqual(groups, {105: 5, 10001: 1, 10002: 1, 10003: 1, 10004: 1})
        self.assertEqual(found[("CEUX", "HI_RES_AWARE")], b"\x01\x00")

    @unittest.skipUnless(shutil.which("g++"), "no g++")
    def test_header_is_cxx11_and_lists_every_icon(self):
        src = ('#include "resource.h"\n#define ID(x) x,\nconstexpr int ids[] = { KLAVOR_ICON_IDS(ID) };\n'
               'static_assert(sizeof ids / sizeof *ids == 5, "five icons");\n'
               'static_assert(ids[0] == 105 && ids[1] == 10001 && ids[2] == 10002 && ids[3] == 10003 '
               '&& ids[4] == 10004, "ids in order");\n')
        run = subprocess.run(["g++", "-std=c++11", "-Wall", "-Wextra", "-pedantic", "-Werror", "-fsyntax-only",
                              "-I", HERE, "-x", "c++", "-"], input=src, capture_output=True, text=True)
        self.assertEqual(run.returncode, 0, run.stderr)


if __name__ == "__main__":
    unittest.main()
