#!/usr/bin/env python3
"""Turn a PNG into one embedded image record of the program.

    pack-image.py INPUT.png OUTPUT.img WIDTH HEIGHT

The record is: u32 width, u32 height, u32 bytes per pixel (4), all
little-endian, then the RGBA pixels top row first with straight alpha, then
one NUL byte.  The build links the records in with .incbin.

Only what rsvg-convert writes is accepted: 8-bit RGBA, not interlaced.  The
size is checked against the one the caller expects, because the program
draws each picture with its size as a compile-time constant and a mismatch
would show as a sheared image rather than as an error.

Standard library only (zlib does the inflating), so the build needs nothing
beyond python3.
"""

import os
import struct
import sys
import zlib

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
COLOR_TYPE_RGBA = 6
BPP = 4


class PackError(Exception):
    pass


def read_chunks(data):
    """Yield (type, payload) for every chunk, checking each CRC."""
    if data[:8] != PNG_SIGNATURE:
        raise PackError("not a PNG file")
    pos = 8
    while pos < len(data):
        if pos + 8 > len(data):
            raise PackError("truncated chunk header")
        length, ctype = struct.unpack(">I4s", data[pos:pos + 8])
        payload = data[pos + 8:pos + 8 + length]
        crc_at = pos + 8 + length
        if crc_at + 4 > len(data):
            raise PackError("truncated %s chunk" % ctype.decode("latin-1"))
        (crc,) = struct.unpack(">I", data[crc_at:crc_at + 4])
        if zlib.crc32(ctype + payload) & 0xFFFFFFFF != crc:
            raise PackError("bad CRC in %s chunk" % ctype.decode("latin-1"))
        yield ctype, payload
        if ctype == b"IEND":
            return
        pos = crc_at + 4
    raise PackError("no IEND chunk")


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    if pb <= pc:
        return b
    return c


def unfilter(raw, width, height):
    """Undo the per-row PNG filters; return the plain RGBA rows as bytes."""
    stride = width * BPP
    if len(raw) != height * (stride + 1):
        raise PackError("image data holds %d bytes, %d expected"
                        % (len(raw), height * (stride + 1)))
    out = bytearray(height * stride)
    prev = bytearray(stride)  # the row above the first one counts as zeros
    for y in range(height):
        at = y * (stride + 1)
        ftype = raw[at]
        row = bytearray(raw[at + 1:at + 1 + stride])
        if ftype == 0:
            pass
        elif ftype == 1:  # Sub
            for i in range(BPP, stride):
                row[i] = (row[i] + row[i - BPP]) & 0xFF
        elif ftype == 2:  # Up
            for i in range(stride):
                row[i] = (row[i] + prev[i]) & 0xFF
        elif ftype == 3:  # Average
            for i in range(stride):
                left = row[i - BPP] if i >= BPP else 0
                row[i] = (row[i] + ((left + prev[i]) >> 1)) & 0xFF
        elif ftype == 4:  # Paeth
            for i in range(stride):
                if i >= BPP:
                    row[i] = (row[i] + paeth(row[i - BPP], prev[i], prev[i - BPP])) & 0xFF
                else:
                    row[i] = (row[i] + prev[i]) & 0xFF
        else:
            raise PackError("unknown filter type %d in row %d" % (ftype, y))
        out[y * stride:(y + 1) * stride] = row
        prev = row
    return bytes(out)


def decode_png(data):
    """Return (width, height, rgba bytes) of an 8-bit RGBA non-interlaced PNG."""
    header = None
    idat = []
    for ctype, payload in read_chunks(data):
        if ctype == b"IHDR":
            header = struct.unpack(">IIBBBBB", payload)
        elif ctype == b"IDAT":
            idat.append(payload)
    if header is None:
        raise PackError("no IHDR chunk")
    width, height, depth, color, compression, filtering, interlace = header
    if depth != 8 or color != COLOR_TYPE_RGBA:
        raise PackError("bit depth %d, colour type %d: only 8-bit RGBA (type 6) is supported"
                        % (depth, color))
    if compression != 0 or filtering != 0:
        raise PackError("unknown compression or filter method")
    if interlace != 0:
        raise PackError("interlaced PNG is not supported")
    if not idat:
        raise PackError("no IDAT chunk")
    try:
        raw = zlib.decompress(b"".join(idat))
    except zlib.error as err:
        raise PackError("bad image data: %s" % err)
    return width, height, unfilter(raw, width, height)


def make_record(width, height, rgba):
    """The record bytes for pixels already in top-first RGBA order."""
    assert len(rgba) == width * height * BPP
    return struct.pack("<III", width, height, BPP) + rgba + b"\0"


def main(argv):
    if len(argv) != 5:
        sys.stderr.write("usage: %s INPUT.png OUTPUT.img WIDTH HEIGHT\n" % argv[0])
        return 2
    src, dst = argv[1], argv[2]
    want_w, want_h = int(argv[3]), int(argv[4])
    try:
        with open(src, "rb") as f:
            width, height, rgba = decode_png(f.read())
        if (width, height) != (want_w, want_h):
            raise PackError("image is %dx%d, %dx%d expected" % (width, height, want_w, want_h))
    except (OSError, PackError) as err:
        sys.stderr.write("pack-image: %s: %s\n" % (src, err))
        return 1
    tmp = dst + ".tmp"
    with open(tmp, "wb") as f:
        f.write(make_record(width, height, rgba))
    # Rename so that an interrupted build never leaves a short record behind
    # with a fresh timestamp.
    os.replace(tmp, dst)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
