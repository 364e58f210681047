// BMP files of every depth and layout Windows writes, decoded to RGBA. Every offset and size in
// the file is checked against the file's length before it is used, so a damaged or lying file
// is refused instead of read past its end.
#include <cstring>

#include "tools/qelpack/picture_image.h"

namespace {

constexpr uint32_t kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3, kJpeg = 4, kPng = 5, kAlphaBitFields = 6;

uint32_t U16(const std::string& b, size_t at)
{
    return static_cast<uint8_t>(b[at]) | static_cast<uint32_t>(static_cast<uint8_t>(b[at + 1])) << 8;
}

uint32_t U32(const std::string& b, size_t at) { return U16(b, at) | U16(b, at + 2) << 16; }

// One channel of a bit-field pixel: where the mask starts and how many bits it has.
struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    int bits = 0;

    // False for a mask whose bits are not one run.
    bool Set(uint32_t m)
    {
        mask = m;
        shift = 0;
        bits = 0;
        if (m == 0) return true;
        while ((m & 1) == 0) {
            m >>= 1;
            ++shift;
        }
        while (m & 1) {
            m >>= 1;
            ++bits;
        }
        return m == 0;
    }

    // The channel scaled to 0..255.
    uint8_t Of(uint32_t pixel) const
    {
        if (bits == 0) return 0;
        uint64_t value = (pixel & mask) >> shift;
        uint64_t top = (1ull << bits) - 1;
        return static_cast<uint8_t>((value * 255 + top / 2) / top);
    }
};

struct Layout {
    int64_t width = 0;
    int64_t height = 0;  // negative: rows from the top
    uint32_t bits = 0;
    uint32_t compression = kRgb;
    uint32_t pixelsAt = 0;
    std::vector<uint8_t> palette;  // red, green, blue per entry
    Channel red, green, blue, alpha;
};

bool Fail(std::string* why, const std::string& text)
{
    *why = text;
    return false;
}

// Reads the two headers, the masks and the colour table.
bool ReadLayout(const std::string& b, Layout* l, std::string* why)
{
    const uint64_t size = b.size();
    if (size < 26 || b[0] != 'B' || b[1] != 'M') return Fail(why, "not a BMP file");
    l->pixelsAt = U32(b, 10);
    const uint32_t headerSize = U32(b, 14);
    if (headerSize == 64) return Fail(why, "an OS/2 2.x bitmap, which Windows does not read");
    const bool core = headerSize == 12;
    if (!core && headerSize != 40 && headerSize != 52 && headerSize != 56 && headerSize != 108 && headerSize != 124) {
        return Fail(why, "the BMP header is of an unknown kind (" + std::to_string(headerSize) + " bytes)");
    }
    const uint64_t headerEnd = 14ull + headerSize;
    if (headerEnd > size) return Fail(why, "the BMP file ends inside its header (truncated)");
    uint32_t planes, colourCount = 0;
    if (core) {
        l->width = U16(b, 18);
        l->height = U16(b, 20);
        planes = U16(b, 22);
        l->bits = U16(b, 24);
    } else {
        l->width = static_cast<int32_t>(U32(b, 18));
        l->height = static_cast<int32_t>(U32(b, 22));
        planes = U16(b, 26);
        l->bits = U16(b, 28);
        l->compression = U32(b, 30);
        colourCount = U32(b, 46);
    }
    if (planes != 1) return Fail(why, "the BMP header names " + std::to_string(planes) + " planes, not 1");
    if (l->bits != 1 && l->bits != 4 && l->bits != 8 && l->bits != 16 && l->bits != 24 && l->bits != 32) {
        return Fail(why, "a BMP of " + std::to_string(l->bits) + " bits per pixel");
    }
    if (l->compression == kJpeg || l->compression == kPng) return Fail(why, "a BMP that holds JPEG or PNG data");
    const bool fields = l->compression == kBitFields || l->compression == kAlphaBitFields;
    const bool rle = l->compression == kRle8 || l->compression == kRle4;
    if (l->compression > kAlphaBitFields || (fields && l->bits != 16 && l->bits != 32) ||
        (l->compression == kRle8 && l->bits != 8) || (l->compression == kRle4 && l->bits != 4) ||
        (core && l->bits == 16) || (core && l->bits == 32)) {
        return Fail(why, "a BMP whose compression (" + std::to_string(l->compression) + ") does not fit its " +
                             std::to_string(l->bits) + " bits per pixel");
    }
    if (l->width <= 0 || l->height == 0 || l->height == INT32_MIN) return Fail(why, "the BMP header gives no size");
    if (rle && l->height < 0) return Fail(why, "a compressed BMP stored top-down, which Windows does not read");
    std::string rule = PictureSizeRule(static_cast<uint64_t>(l->width), static_cast<uint64_t>(l->height < 0 ? -l->height : l->height));
    if (!rule.empty()) return Fail(why, rule);

    uint64_t at = headerEnd;
    if (fields) {
        uint32_t r, g, bl, a = 0;
        if (headerSize >= 52) {
            r = U32(b, 54);
            g = U32(b, 58);
            bl = U32(b, 62);
            if (headerSize >= 56) a = U32(b, 66);
        } else {
            const uint64_t count = l->compression == kAlphaBitFields ? 4 : 3;
            if (at + count * 4 > size) return Fail(why, "the BMP file ends inside its colour masks (truncated)");
            r = U32(b, at);
            g = U32(b, at + 4);
            bl = U32(b, at + 8);
            if (count == 4) a = U32(b, at + 12);
            at += count * 4;
        }
        if (l->bits == 16 && ((r | g | bl | a) >> 16) != 0) return Fail(why, "the BMP's colour masks reach past 16 bits");
        if (!l->red.Set(r) || !l->green.Set(g) || !l->blue.Set(bl) || !l->alpha.Set(a) || r == 0 || g == 0 || bl == 0 ||
            (r & g) != 0 || (r & bl) != 0 || (g & bl) != 0 || ((r | g | bl) & a) != 0) {
            return Fail(why, "the BMP's colour masks are not three separate runs of bits");
        }
    } else if (l->bits == 16) {
        l->red.Set(0x7C00);
        l->green.Set(0x03E0);
        l->blue.Set(0x001F);
    } else if (l->bits == 24 || l->bits == 32) {
        l->red.Set(0x00FF0000);
        l->green.Set(0x0000FF00);
        l->blue.Set(0x000000FF);
    }

    if (l->bits <= 8) {
        const uint32_t most = 1u << l->bits;
        if (colourCount > most) {
            return Fail(why, "the BMP names " + std::to_string(colourCount) + " colours for " + std::to_string(l->bits) +
                                 " bits per pixel");
        }
        const uint32_t count = core || colourCount == 0 ? most : colourCount;
        const uint32_t entry = core ? 3 : 4;
        if (at + uint64_t(count) * entry > size) return Fail(why, "the BMP file ends inside its colour table (truncated)");
        l->palette.resize(count * 3);
        for (uint32_t i = 0; i < count; ++i) {
            const size_t e = at + size_t(i) * entry;
            l->palette[i * 3] = static_cast<uint8_t>(b[e + 2]);
            l->palette[i * 3 + 1] = static_cast<uint8_t>(b[e + 1]);
            l->palette[i * 3 + 2] = static_cast<uint8_t>(b[e]);
        }
        at += uint64_t(count) * entry;
    }
    if (l->pixelsAt < at || l->pixelsAt >= size) {
        return Fail(why, "the BMP's pixel data offset (" + std::to_string(l->pixelsAt) + ") lies outside the file");
    }
    return true;
}

void PutIndex(const Layout& l, uint32_t index, uint8_t* out)
{
    const size_t count = l.palette.size() / 3;
    if (index < count) {
        std::memcpy(out, &l.palette[index * 3], 3);
    } else {
        out[0] = out[1] = out[2] = 0;  // an index past the table shows as black, as on Windows
    }
    out[3] = 255;
}

bool DecodeRows(const std::string& b, const Layout& l, RgbaImage* image, std::string* why)
{
    const uint64_t width = static_cast<uint64_t>(l.width);
    const uint64_t rows = static_cast<uint64_t>(l.height < 0 ? -l.height : l.height);
    const uint64_t stride = (width * l.bits + 31) / 32 * 4;
    if (l.pixelsAt + stride * rows > b.size()) return Fail(why, "the BMP file ends inside its pixels (truncated)");
    const bool alpha = l.alpha.bits > 0;
    for (uint64_t y = 0; y < rows; ++y) {
        const uint64_t fileRow = l.height < 0 ? y : rows - 1 - y;
        const auto* row = reinterpret_cast<const uint8_t*>(b.data()) + l.pixelsAt + fileRow * stride;
        uint8_t* out = image->pixels.data() + y * width * 4;
        for (uint64_t x = 0; x < width; ++x, out += 4) {
            if (l.bits <= 8) {
                const uint64_t bit = x * l.bits;
                const uint32_t byte = row[bit / 8];
                const uint32_t index = (byte >> (8 - l.bits - bit % 8)) & ((1u << l.bits) - 1);
                PutIndex(l, index, out);
                continue;
            }
            uint32_t pixel = 0;
            if (l.bits == 16) {
                pixel = row[x * 2] | uint32_t(row[x * 2 + 1]) << 8;
            } else if (l.bits == 24) {
                pixel = row[x * 3] | uint32_t(row[x * 3 + 1]) << 8 | uint32_t(row[x * 3 + 2]) << 16;
            } else {
                pixel = row[x * 4] | uint32_t(row[x * 4 + 1]) << 8 | uint32_t(row[x * 4 + 2]) << 16 |
                        uint32_t(row[x * 4 + 3]) << 24;
            }
            out[0] = l.red.Of(pixel);
            out[1] = l.green.Of(pixel);
            out[2] = l.blue.Of(pixel);
            out[3] = alpha ? l.alpha.Of(pixel) : 255;
        }
    }
    return true;
}

// RLE8 and RLE4: runs and literal stretches of indices, rows from the bottom. Pixels the data
// skips (end of line, delta) stay at index 0. The data must end with its end-of-bitmap mark.
bool DecodeRle(const std::string& b, const Layout& l, RgbaImage* image, std::string* why)
{
    const int64_t width = l.width, rows = l.height;
    std::vector<uint8_t> indices(static_cast<size_t>(width * rows), 0);
    const bool four = l.compression == kRle4;
    size_t at = l.pixelsAt;
    const size_t end = b.size();
    int64_t x = 0, y = 0;  // y counts from the bottom row
    auto put = [&](uint32_t index) {
        if (x < width && y < rows) indices[static_cast<size_t>((rows - 1 - y) * width + x)] = static_cast<uint8_t>(index);
        ++x;
    };
    const char* truncated = "the BMP's compressed pixels end before their end mark (truncated)";
    for (;;) {
        if (at + 2 > end) return Fail(why, truncated);
        const uint32_t first = static_cast<uint8_t>(b[at]), second = static_cast<uint8_t>(b[at + 1]);
        at += 2;
        if (first > 0) {
            for (uint32_t i = 0; i < first; ++i) put(four ? (i % 2 == 0 ? second >> 4 : second & 15) : second);
        } else if (second == 0) {
            x = 0;
            ++y;
        } else if (second == 1) {
            break;
        } else if (second == 2) {
            if (at + 2 > end) return Fail(why, truncated);
            x += static_cast<uint8_t>(b[at]);
            y += static_cast<uint8_t>(b[at + 1]);
            at += 2;
        } else {
            const size_t bytes = four ? (second + 1) / 2 : second;
            if (at + bytes > end) return Fail(why, truncated);
            for (uint32_t i = 0; i < second; ++i) {
                const uint32_t byte = static_cast<uint8_t>(b[at + (four ? i / 2 : i)]);
                put(four ? (i % 2 == 0 ? byte >> 4 : byte & 15) : byte);
            }
            at += (bytes + 1) & ~size_t(1);
        }
        if (y > rows) return Fail(why, "the BMP's compressed pixels run past the last row");
    }
    for (size_t i = 0; i < indices.size(); ++i) PutIndex(l, indices[i], image->pixels.data() + i * 4);
    return true;
}

}  // namespace

bool DecodeBmp(const std::string& bytes, RgbaImage* image, std::string* why)
{
    Layout l;
    if (!ReadLayout(bytes, &l, why)) return false;
    image->width = static_cast<uint32_t>(l.width);
    image->height = static_cast<uint32_t>(l.height < 0 ? -l.height : l.height);
    image->pixels.assign(size_t(image->width) * image->height * 4, 0);
    if (l.compression == kRle8 || l.compression == kRle4) return DecodeRle(bytes, l, image, why);
    return DecodeRows(bytes, l, image, why);
}
