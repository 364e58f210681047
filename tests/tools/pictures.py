"""Pictures for the band picture tests, written byte by byte so every depth and layout a PNG or
BMP can have is at hand: PNG of every colour type and bit depth (with transparency chunks and
Adam7 interlacing), BMP of 1 to 32 bits, RLE4 and RLE8, bit fields, top-down rows.

A picture is a function (x, y) -> (r, g, b, a) over a width and height."""
import struct
import zlib


def disc(width, height, colour=(255, 255, 255), radius=0.4):
    """A disc of colour on a transparent ground, centred, radius a share of the shorter side."""
    cx, cy, r = (width - 1) / 2, (height - 1) / 2, radius * min(width, height)

    def pixel(x, y):
        inside = (x - cx) ** 2 + (y - cy) ** 2 <= r * r
        return (*colour, 255) if inside else (0, 0, 0, 0)
    return pixel


def ramp(width, height):
    """Grey rising from left to right, opaque; a line of pure red, green and blue at the top."""
    def pixel(x, y):
        if y == 0:
            return ((255, 0, 0, 255), (0, 255, 0, 255), (0, 0, 255, 255))[x % 3]
        v = x * 255 // max(1, width - 1)
        return (v, v, v, 255)
    return pixel


def luminance_index(rgba, invert=False):
    """The ramp index the band picture should hold for one pixel."""
    r, g, b, a = rgba
    y = (299 * r + 587 * g + 114 * b + 500) // 1000
    if invert:
        y = 255 - y
    return (y * a + 127) // 255


# --- PNG ------------------------------------------------------------------------------------

def _chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def _pack_bits(values, depth):
    out = bytearray()
    acc, n = 0, 0
    for v in values:
        acc = acc << depth | v
        n += depth
        while n >= 8:
            n -= 8
            out.append(acc >> n & 0xFF)
    if n:
        out.append(acc << (8 - n) & 0xFF)
    return bytes(out)


def png(width, height, pixel, colour_type=6, depth=8, interlace=False, palette=None, trns=None, extra_chunks=()):
    """A PNG. colour_type 0 grey, 2 RGB, 3 palette (palette: list of (r, g, b); pixel then
    returns an index), 4 grey + alpha, 6 RGBA. For grey and RGB types pixel returns the sample
    values directly (already scaled to depth); trns is raw tRNS chunk data."""
    channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[colour_type]

    def row_bytes(xs, y):
        samples = []
        for x in xs:
            v = pixel(x, y)
            samples.extend(v if isinstance(v, (tuple, list)) else (v,))
        if depth < 8:
            return _pack_bits(samples, depth)
        if depth == 8:
            return bytes(samples)
        return b"".join(struct.pack(">H", s) for s in samples)

    raw = bytearray()
    if not interlace:
        for y in range(height):
            raw += b"\0" + row_bytes(range(width), y)
    else:
        passes = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]
        for x0, y0, dx, dy in passes:
            xs = list(range(x0, width, dx))
            if not xs:
                continue
            for y in range(y0, height, dy):
                raw += b"\0" + row_bytes(xs, y)
    assert channels
    data = b"\x89PNG\r\n\x1a\n" + _chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, depth, colour_type, 0, 0,
                                                               1 if interlace else 0))
    if palette is not None:
        data += _chunk(b"PLTE", b"".join(bytes(c) for c in palette))
    if trns is not None:
        data += _chunk(b"tRNS", trns)
    for kind, body in extra_chunks:
        data += _chunk(kind, body)
    return data + _chunk(b"IDAT", zlib.compress(bytes(raw))) + _chunk(b"IEND", b"")


def png_claiming(width, height):
    """A PNG whose header claims width x height and whose pixel data is one short row."""
    return (b"\x89PNG\r\n\x1a\n" + _chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)) +
            _chunk(b"IDAT", zlib.compress(b"\0" * 64)) + _chunk(b"IEND", b""))


# --- BMP ------------------------------------------------------------------------------------

def bmp(width, height, pixel, bits=24, top_down=False, palette=None, colours_used=None, header=40,
        compression=0, masks=None, rle=None):
    """A BMP. For bits <= 8, pixel returns an index into palette (list of (r, g, b)); else
    (r, g, b, a). masks (r, g, b, a) select bit fields (compression 3). rle: pre-encoded pixel
    data for compression 1 or 2."""
    if bits <= 8:
        palette = palette or [(i * 255 // ((1 << bits) - 1),) * 3 for i in range(1 << bits)]
    stride = (width * bits + 31) // 32 * 4
    rows = []
    for y in range(height if rle is None else 0):
        if bits <= 8:
            line = _pack_bits([pixel(x, y) for x in range(width)], bits)
        else:
            out = bytearray()
            for x in range(width):
                r, g, b, a = pixel(x, y)
                if masks:
                    value = 0
                    for channel, mask in zip((r, g, b, a), masks):
                        if mask:
                            shift = (mask & -mask).bit_length() - 1
                            top = mask >> shift
                            value |= (channel * top + 127) // 255 << shift
                    out += value.to_bytes(bits // 8, "little")
                elif bits == 16:
                    out += struct.pack("<H", (r >> 3) << 10 | (g >> 3) << 5 | (b >> 3))
                elif bits == 24:
                    out += bytes((b, g, r))
                else:
                    out += bytes((b, g, r, a))
            line = bytes(out)
        rows.append(line + b"\0" * (stride - len(line)))
    pixels = rle if rle is not None else b"".join(rows if top_down else rows[::-1])
    table = b"" if bits > 8 else b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    mask_bytes = b""
    info = struct.pack("<IiiHHIIiiII", header, width, -height if top_down else height, 1, bits, compression,
                       len(pixels), 2835, 2835, len(palette) if colours_used is None and bits <= 8 else
                       (colours_used or 0), 0)
    if header >= 52:
        m = masks or (0, 0, 0, 0)
        info += struct.pack("<IIII", *m)[: 16 if header >= 56 else 12]
        info += b"\0" * (header - len(info))
    elif masks:
        mask_bytes = struct.pack("<III", *masks[:3]) + (struct.pack("<I", masks[3]) if compression == 6 else b"")
    offset = 14 + len(info) + len(mask_bytes) + len(table)
    return b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset) + info + mask_bytes + table + pixels


def rle8(width, height, pixel):
    """RLE8 data: each row as runs of equal indices, bottom row first, with its end marks."""
    out = bytearray()
    for y in range(height - 1, -1, -1):
        x = 0
        while x < width:
            v = pixel(x, y)
            n = 1
            while x + n < width and n < 255 and pixel(x + n, y) == v:
                n += 1
            out += bytes((n, v))
            x += n
        out += b"\0\0"
    return bytes(out[:-2]) + b"\0\1"


def rle4(width, height, pixel):
    """RLE4 data: runs of one index (a pair repeated), bottom row first."""
    out = bytearray()
    for y in range(height - 1, -1, -1):
        x = 0
        while x < width:
            v = pixel(x, y)
            n = 1
            while x + n < width and n < 255 and pixel(x + n, y) == v:
                n += 1
            out += bytes((n, v << 4 | v))
            x += n
        out += b"\0\0"
    return bytes(out[:-2]) + b"\0\1"


def read_band(data):
    """(width, height, rows of indices from the top, colour table as (r, g, b)) of an 8-bit BMP
    with a 40-byte header, bottom-up, as qelpack picture writes it."""
    assert data[:2] == b"BM"
    offset = struct.unpack_from("<I", data, 10)[0]
    size, width, height, planes, bits, compression = struct.unpack_from("<IiiHHI", data, 14)
    assert (size, planes, bits, compression) == (40, 1, 8, 0), (size, planes, bits, compression)
    table = [(data[54 + i * 4 + 2], data[54 + i * 4 + 1], data[54 + i * 4]) for i in range(256)]
    stride = (width + 3) & ~3
    rows = [list(data[offset + (height - 1 - y) * stride: offset + (height - 1 - y) * stride + width])
            for y in range(height)]
    return width, height, rows, table


def bmp_core(width, height, pixel):
    """A 24-bit BMP with the 12-byte core header of OS/2 1.x, which Windows still reads."""
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in range(height):
        line = b"".join(bytes((b, g, r)) for r, g, b, _ in (pixel(x, y) for x in range(width)))
        rows.append(line + b"\0" * (stride - len(line)))
    pixels = b"".join(rows[::-1])
    info = struct.pack("<IHHHH", 12, width, height, 1, 24)
    offset = 14 + len(info)
    return b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset) + info + pixels
