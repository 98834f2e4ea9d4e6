#!/usr/bin/env python3
"""The image packer, run as the build runs it: PNG in, image record out.

    pack-image-test.py PACKER [RSVG_CONVERT CONVERT]

The PNGs here are made by a small encoder of the test's own that can force
each of the five row filters, so that every decoding path is exercised with
known pixels. When rsvg-convert and ImageMagick's convert are given, a real rsvg-style PNG is
also checked against ImageMagick's own decoding.
"""

import os
import random
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib

PACKER = sys.argv[1] if len(sys.argv) > 1 else None
RSVG_CONVERT = sys.argv[2] if len(sys.argv) > 3 else None
CONVERT = sys.argv[3] if len(sys.argv) > 3 else None


def chunk(ctype, payload):
    return (struct.pack(">I", len(payload)) + ctype + payload
            + struct.pack(">I", zlib.crc32(ctype + payload) & 0xFFFFFFFF))


def filter_row(ftype, row, prev, bpp):
    """Encode one row with the given filter, straight from the PNG rules."""
    out = bytearray(len(row))
    for i in range(len(row)):
        a = row[i - bpp] if i >= bpp else 0
        b = prev[i]
        c = prev[i - bpp] if i >= bpp else 0
        if ftype == 0:
            pred = 0
        elif ftype == 1:
            pred = a
        elif ftype == 2:
            pred = b
        elif ftype == 3:
            pred = (a + b) // 2
        else:
            p = a + b - c
            pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
            pred = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
        out[i] = (row[i] - pred) % 256
    return bytes([ftype]) + bytes(out)


def make_png(width, height, pixels, filters, color=6, depth=8, interlace=0, split_idat=False):
    bpp = 4 if color == 6 else 3
    stride = width * bpp
    raw = b""
    prev = bytes(stride)
    for y in range(height):
        row = pixels[y * stride:(y + 1) * stride]
        raw += filter_row(filters[y % len(filters)], row, prev, bpp)
        prev = row
    data = zlib.compress(raw, 9)
    ihdr = struct.pack(">IIBBBBB", width, height, depth, color, 0, 0, interlace)
    idat = [data[:len(data) // 2], data[len(data) // 2:]] if split_idat else [data]
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr)
            + b"".join(chunk(b"IDAT", part) for part in idat) + chunk(b"IEND", b""))


def noise(n, seed, levels=256):
    # Few levels make the Paeth predictor's ties common.
    rnd = random.Random(seed)
    return bytes(rnd.randrange(levels) * (256 // levels) for _ in range(n))


class PackImage(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)

    def pack(self, png, width, height):
        src = os.path.join(self.dir.name, "in.png")
        dst = os.path.join(self.dir.name, "out.img")
        with open(src, "wb") as f:
            f.write(png)
        if os.path.exists(dst):
            os.remove(dst)
        run = subprocess.run([sys.executable, PACKER, src, dst, str(width), str(height)],
                             capture_output=True, text=True)
        record = None
        if os.path.exists(dst):
            with open(dst, "rb") as f:
                record = f.read()
        return run, record

    def assert_record(self, record, width, height, pixels):
        self.assertEqual(struct.unpack("<III", record[:12]), (width, height, 4))
        self.assertEqual(len(record), 12 + width * height * 4 + 1)
        self.assertEqual(record[-1], 0)
        self.assertEqual(record[12:-1], pixels)

    def test_every_row_filter_and_split_image_data_decode_to_the_same_pixels(self):
        # Random pixels at odd sizes catch stride and bpp mix-ups, rows out of
        # order and channels swapped.
        width, height = 13, 11
        for filters, split, levels in ([[0], False, 256], [[1], False, 256], [[2], False, 256],
                                       [[3], False, 256], [[4], False, 256], [[4], False, 4],
                                       [[4, 3, 2, 1, 0, 2, 4], True, 256]):
            pixels = noise(width * height * 4, 1, levels)
            with self.subTest(filters=filters, split=split, levels=levels):
                png = make_png(width, height, pixels, filters, split_idat=split)
                run, record = self.pack(png, width, height)
                self.assertEqual(run.returncode, 0, run.stderr)
                self.assert_record(record, width, height, pixels)

    def test_unsupported_or_damaged_files_are_refused(self):
        good = make_png(4, 4, noise(64, 4), [0])
        cases = {
            "rgb": make_png(4, 4, noise(48, 5), [0], color=2),
            "interlaced": make_png(4, 4, noise(64, 6), [0], interlace=1),
            "16-bit": make_png(4, 4, noise(64, 7), [0], depth=16),
            "bad crc": good[:-20] + bytes([good[-20] ^ 1]) + good[-19:],
            "truncated": good[:len(good) // 2],
            "not png": b"GIF89a" + good[6:],
        }
        cases["other size"] = make_png(6, 4, noise(96, 3), [0])
        for name, png in cases.items():
            with self.subTest(name):
                run, record = self.pack(png, 4, 4)
                self.assertEqual(run.returncode, 1, run.stderr)
                self.assertTrue(run.stderr.startswith("pack-image: "), run.stderr)
                self.assertIsNone(record)
        self.assertIn("6x4, 4x4 expected", run.stderr)

    @unittest.skipUnless(CONVERT, "no rsvg-convert and ImageMagick given")
    def test_agrees_with_imagemagick_on_an_rsvg_picture(self):
        png = os.path.join(self.dir.name, "ref.png")
        # An anti-aliased, partly transparent picture as a real rasterizer
        # writes it, with whatever filters its encoder picks per row.
        svg = os.path.join(self.dir.name, "ref.svg")
        with open(svg, "w") as f:
            f.write('<svg xmlns="http://www.w3.org/2000/svg" width="97" height="61">'
                    '<circle cx="40" cy="30" r="25" fill="#ff8020" fill-opacity="0.6"/>'
                    '<path d="M 5 55 L 90 5" stroke="#2040ff" stroke-width="7"/></svg>')
        subprocess.run([RSVG_CONVERT, "--format=png", "--output=" + png, svg], check=True)
        want = subprocess.run([CONVERT, png, "-depth", "8", "rgba:-"],
                              capture_output=True, check=True).stdout
        with open(png, "rb") as f:
            run, record = self.pack(f.read(), 97, 61)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assert_record(record, 97, 61, want)


if __name__ == "__main__":
    if PACKER is None:
        sys.exit(__doc__)
    unittest.main(argv=[sys.argv[0], "-v"])
