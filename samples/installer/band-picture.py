#!/usr/bin/env python3
"""The example's band picture at 150 % and 200 %: nsis/band150.bmp (144 x 144) and
nsis/band200.bmp (192 x 192), drawn from the design of nsis/band.bmp (96 x 96, the 100 %
picture) rather than scaled from its pixels.

The design is a disc of radius 47.5 (in 100 % pixels) of rings whose brightness falls towards the
edge: at distance r from the centre the palette index is

    (197.04 - 2.9103 r) + (57.409 - 0.84653 r) cos(2 pi r / 16.58)

and 0 outside the disc. Each size evaluates it at its pixel centres, r measured in 100 % pixels;
the files keep band.bmp's 256-entry colour table (entry 255 is the accent the waves use), so
the skin recolours all three alike. Before writing, the script checks that the design gives
band.bmp itself again (every index within 1).

    python3 samples/installer/band-picture.py [NSIS_DIR]
"""
import math
import os
import struct
import sys

DESIGN_SIZE = 96
RADIUS = 47.5
PERIOD = 16.58
MEAN = (197.04, -2.9103)
SWING = (57.409, -0.84653)


def index_at(r):
    if r >= RADIUS:
        return 0
    value = MEAN[0] + MEAN[1] * r + (SWING[0] + SWING[1] * r) * math.cos(2 * math.pi * r / PERIOD)
    return max(0, min(255, round(value)))


def indices(size):
    """Rows of palette indices, top row first."""
    scale = DESIGN_SIZE / size
    centre = size / 2
    return [bytes(index_at(math.hypot(x + 0.5 - centre, y + 0.5 - centre) * scale) for x in range(size))
            for y in range(size)]


def read_bmp(path):
    with open(path, "rb") as f:
        data = f.read()
    offset, = struct.unpack_from("<I", data, 10)
    width, height = struct.unpack_from("<ii", data, 18)
    bits, = struct.unpack_from("<H", data, 28)
    if data[:2] != b"BM" or bits != 8 or width != DESIGN_SIZE or abs(height) != DESIGN_SIZE:
        sys.exit("band-picture: %s is not the 96 x 96 8-bit picture" % path)
    header_size, = struct.unpack_from("<I", data, 14)
    palette = data[14 + header_size:14 + header_size + 1024]
    stride = (width + 3) & ~3
    rows = [data[offset + y * stride:offset + y * stride + width] for y in range(abs(height))]
    if height > 0:
        rows.reverse()  # bottom-up file
    return palette, rows


def write_bmp(path, palette, rows):
    size = len(rows)
    stride = (size + 3) & ~3
    pixels = b"".join(row + b"\0" * (stride - size) for row in reversed(rows))  # bottom-up
    offset = 14 + 40 + 1024
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, size, size, 1, 8, 0, len(pixels), 2835, 2835, 256, 0)
    with open(path + ".part", "wb") as f:
        f.write(header + info + palette + pixels)
    os.replace(path + ".part", path)


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "..", "nsis")
    palette, original = read_bmp(os.path.join(folder, "band.bmp"))
    drawn = indices(DESIGN_SIZE)
    worst = max(abs(a - b) for row_a, row_b in zip(original, drawn) for a, b in zip(row_a, row_b))
    if worst > 1:
        sys.exit("band-picture: the design no longer gives band.bmp (an index differs by %d)" % worst)
    for percent in (150, 200):
        size = DESIGN_SIZE * percent // 100
        path = os.path.join(folder, "band%d.bmp" % percent)
        write_bmp(path, palette, indices(size))
        print(path)


if __name__ == "__main__":
    main()
