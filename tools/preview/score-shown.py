#!/usr/bin/env python3
"""Tell from two screen dumps taken a moment apart whether Orb shows its score.

The score is ten digits in one row across the middle of the window, drawn
over the animated plasma. Between two dumps the plasma changes almost
everywhere while the digits stand still, and the first four digits are
always "0" (a score needs a million points to reach them). So the score is
shown when the same unchanged shape appears in each of the first four digit
cells. Static sprites cannot fake that: none of them repeats four times at
the digits' spacing.

The dumps are X window dumps ("xwd -root") of a full-screen game, read
here directly: converting them would cost more than the whole check.

Usage: score-shown.py FIRST.xwd SECOND.xwd  -> exit 0 shown, 1 not shown,
2 the dumps cannot tell (the plasma did not move between them).
Without arguments it answers the same digit for each line "FIRST SECOND"
read from its standard input, which spares a start-up per question.
"""
import struct
import sys

CELLS = 4                 # leading zero cells checked
CELL_NDC = 0.1            # width and height of a digit cell
FIRST_CELL_LEFT = -0.55   # left edge of digit 0, in window coordinates
TOLERANCE = 6             # per channel, out of 255: rounding, not change


def read_xwd(path):
    """Width, height, bytes per line, bytes per pixel and the pixel bytes."""
    with open(path, "rb") as f:
        data = f.read()
    fields = struct.unpack(">25I", data[:100])
    header_size, width, height = fields[0], fields[4], fields[5]
    bits_per_pixel, bytes_per_line, ncolors = fields[11], fields[12], fields[19]
    if bits_per_pixel != 32:
        sys.exit(f"score-shown: {path}: {bits_per_pixel} bits per pixel, expected 32")
    start = header_size + 12 * ncolors
    return width, height, bytes_per_line, data[start:]


def stills(a, b):
    """Per pixel of the digit row: whether it kept its colour."""
    width, height, line, pa = a
    _, _, _, pb = b
    left = round((FIRST_CELL_LEFT + 1) / 2 * width)
    top = round((1 - CELL_NDC / 2) / 2 * height)
    w = round(CELLS * CELL_NDC / 2 * width)
    h = max(1, round(CELL_NDC / 2 * height))
    rows = []
    for y in range(top, top + h):
        row = []
        for x in range(left, left + w):
            i = y * line + x * 4
            row.append(all(abs(pa[i + k] - pb[i + k]) <= TOLERANCE for k in range(3)))
        rows.append(row)
    return rows, w, h


def verdict(first, second):
    a, b = read_xwd(first), read_xwd(second)
    if a[:3] != b[:3]:
        return 2
    still, w, h = stills(a, b)
    moving = sum(not s for row in still for s in row) / (w * h)
    if moving < 0.3:
        return 2
    cell = w // CELLS
    common = sum(all(still[r][c * cell + x] for c in range(CELLS))
                 for r in range(h) for x in range(cell))
    return 0 if common >= 0.05 * cell * h else 1


def main():
    if len(sys.argv) == 3:
        return verdict(sys.argv[1], sys.argv[2])
    for line in sys.stdin:
        print(verdict(*line.split()), flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
