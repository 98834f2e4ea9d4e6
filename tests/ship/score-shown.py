#!/usr/bin/env python3
"""The preview's score check on screen dumps made here: a moving background
with or without the same still glyph in the first four digit cells, and
sprites that stand still without repeating."""
import os
import random
import struct
import subprocess
import sys
import tempfile

CHECK = os.path.join(os.path.dirname(__file__), "..", "..", "tools", "preview", "score-shown.py")
W, H = 960, 540


def write_xwd(path, pixels):
    """A 32-bit TrueColor X window dump, as "xwd -root" writes one."""
    name = b"orb\0"
    header_size = 100 + len(name)
    fields = [header_size, 7, 2, 24, W, H, 0, 1, 32, 1, 32, 32, W * 4, 4,
              0xFF0000, 0xFF00, 0xFF, 8, 256, 0, W, H, 0, 0, 0]
    with open(path, "wb") as f:
        f.write(struct.pack(">25I", *fields) + name + bytes(pixels))


def frame(seed, glyph=False, sprites=()):
    rnd = random.Random(seed)
    px = bytearray(rnd.randbytes(W * H * 4))  # the plasma: everything moves
    cell_w, cell_h = W // 20, H // 20
    left, top = round(0.45 / 2 * W), round(0.95 / 2 * H)

    def paint(x0, y0, w, h, colour):
        for y in range(y0, y0 + h):
            for x in range(x0, x0 + w):
                i = (y * W + x) * 4
                px[i:i + 4] = bytes(colour)

    if glyph:  # a "0": a ring, the same in each of the ten cells
        for c in range(10):
            x0 = left + c * cell_w
            paint(x0 + 4, top + 2, cell_w - 8, 4, (250, 240, 200, 0))
            paint(x0 + 4, top + cell_h - 6, cell_w - 8, 4, (250, 240, 200, 0))
            paint(x0 + 4, top + 2, 4, cell_h - 4, (250, 240, 200, 0))
            paint(x0 + cell_w - 8, top + 2, 4, cell_h - 4, (250, 240, 200, 0))
    for (x, y) in sprites:
        paint(x, y, 40, 40, (200, 120, 160, 0))
    return px


def verdict(a, b):
    with tempfile.TemporaryDirectory() as d:
        pa, pb = os.path.join(d, "a.xwd"), os.path.join(d, "b.xwd")
        write_xwd(pa, a)
        write_xwd(pb, b)
        return subprocess.run([sys.executable, CHECK, pa, pb]).returncode


def main():
    # babies and the adult standing still in and around the digit row
    sprites = [(left_x, 250) for left_x in (230, 300, 470)] + [(600, 100)]
    cases = [
        ("score over the moving plasma", frame(1, True), frame(2, True), 0),
        ("play: still sprites in the digit row", frame(1, sprites=sprites), frame(2, sprites=sprites), 1),
        ("play: nothing still", frame(3), frame(4), 1),
        ("the same frame twice cannot tell", frame(5, True), frame(5, True), 2),
    ]
    failed = 0
    for name, a, b, want in cases:
        got = verdict(a, b)
        print(f"{'ok' if got == want else 'FAIL'}: {name}: {got} (want {want})")
        failed += got != want
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
