#include "tools/qelpack/picture_band.h"

#include <algorithm>

namespace {

void Put16(std::string* b, uint32_t v)
{
    b->push_back(static_cast<char>(v & 0xFF));
    b->push_back(static_cast<char>(v >> 8 & 0xFF));
}

void Put32(std::string* b, uint32_t v)
{
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

uint32_t U16(const std::string& b, size_t at)
{
    return static_cast<uint8_t>(b[at]) | static_cast<uint32_t>(static_cast<uint8_t>(b[at + 1])) << 8;
}

uint32_t U32(const std::string& b, size_t at) { return U16(b, at) | U16(b, at + 2) << 16; }

constexpr uint32_t kFileHeader = 14, kInfoHeader = 40, kTable = 256 * 4;

}  // namespace

std::string PictureSizeRule(uint64_t width, uint64_t height)
{
    if (width == 0 || height == 0) return "the picture has no pixels";
    if (width > kMaxPictureSide || height > kMaxPictureSide || width * height > kMaxPicturePixels) {
        return "the picture is " + std::to_string(width) + " x " + std::to_string(height) + " pixels; qelpack reads at most " +
               std::to_string(kMaxPictureSide) + " a side and " + std::to_string(kMaxPicturePixels) + " in all";
    }
    return {};
}

BandPlane BandIndices(const RgbaImage& image, bool invert)
{
    BandPlane plane;
    plane.width = image.width;
    plane.height = image.height;
    const size_t count = size_t(image.width) * image.height;
    plane.index.resize(count);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* p = &image.pixels[i * 4];
        uint32_t luminance = (299u * p[0] + 587u * p[1] + 114u * p[2] + 500) / 1000;
        if (invert) luminance = 255 - luminance;
        plane.index[i] = static_cast<uint8_t>((luminance * p[3] + 127) / 255);
    }
    return plane;
}

BandPlane FitInto(const BandPlane& plane, uint32_t side)
{
    BandPlane out;
    const uint64_t w = plane.width, h = plane.height;
    if (w >= h) {
        out.width = side;
        out.height = static_cast<uint32_t>(std::max<uint64_t>(1, (h * side + w / 2) / w));
    } else {
        out.height = side;
        out.width = static_cast<uint32_t>(std::max<uint64_t>(1, (w * side + h / 2) / h));
    }
    out.index.resize(size_t(out.width) * out.height);
    // Area averaging in fixed point: the old plane is divided into out.width columns of
    // w / out.width old pixels each (likewise rows), measured in units of 1 / (out.width) of an
    // old pixel, so every boundary falls on a whole unit.
    const uint64_t ow = out.width, oh = out.height;
    std::vector<uint64_t> row(static_cast<size_t>(ow));
    for (uint64_t oy = 0; oy < oh; ++oy) {
        // Rows [oy * h, (oy + 1) * h) in units of 1 / oh of an old row.
        const uint64_t top = oy * h, bottom = (oy + 1) * h;
        std::fill(row.begin(), row.end(), 0);
        for (uint64_t sy = top / oh; sy * oh < bottom && sy < h; ++sy) {
            const uint64_t wy = std::min(bottom, (sy + 1) * oh) - std::max(top, sy * oh);
            const uint8_t* src = &plane.index[size_t(sy * w)];
            for (uint64_t ox = 0; ox < ow; ++ox) {
                const uint64_t left = ox * w, right = (ox + 1) * w;
                uint64_t sum = 0;
                for (uint64_t sx = left / ow; sx * ow < right && sx < w; ++sx) {
                    const uint64_t wx = std::min(right, (sx + 1) * ow) - std::max(left, sx * ow);
                    sum += wx * src[sx];
                }
                row[size_t(ox)] += sum * wy;
            }
        }
        const uint64_t area = w * h;  // the weights of one new pixel add up to w * h
        for (uint64_t ox = 0; ox < ow; ++ox) {
            out.index[size_t(oy * ow + ox)] = static_cast<uint8_t>((row[size_t(ox)] + area / 2) / area);
        }
    }
    return out;
}

std::string EncodeBandBmp(const BandPlane& plane, uint32_t accent)
{
    const uint32_t stride = (plane.width + 3) & ~3u;
    const uint32_t pixels = stride * plane.height;
    const uint32_t offset = kFileHeader + kInfoHeader + kTable;
    std::string b;
    b.reserve(offset + pixels);
    b += "BM";
    Put32(&b, offset + pixels);
    Put32(&b, 0);
    Put32(&b, offset);
    Put32(&b, kInfoHeader);
    Put32(&b, plane.width);
    Put32(&b, plane.height);  // positive: rows from the bottom
    Put16(&b, 1);
    Put16(&b, 8);
    Put32(&b, 0);  // BI_RGB
    Put32(&b, pixels);
    Put32(&b, 2835);  // 72 dots per inch
    Put32(&b, 2835);
    Put32(&b, 256);
    Put32(&b, 0);
    for (uint32_t i = 0; i < 255; ++i) Put32(&b, i << 16 | i << 8 | i);
    // RGBQUAD is blue, green, red: the COLORREF's red and blue exchanged.
    Put32(&b, (accent & 0xFF) << 16 | (accent & 0xFF00) | (accent >> 16 & 0xFF));
    for (uint32_t y = plane.height; y-- > 0;) {
        b.append(reinterpret_cast<const char*>(&plane.index[size_t(y) * plane.width]), plane.width);
        b.append(stride - plane.width, '\0');
    }
    return b;
}

std::string BandPictureRule(const std::string& b, uint32_t* width, uint32_t* height, uint32_t* accent)
{
    const std::string convert = " (qelpack picture IN OUT.bmp makes one that is)";
    if (b.size() < kFileHeader + kInfoHeader || b[0] != 'B' || b[1] != 'M') return "it is not a BMP file" + convert;
    const uint32_t headerSize = U32(b, 14);
    if (headerSize != 40 && headerSize != 108 && headerSize != 124) {
        return "its BMP header is of another kind (" + std::to_string(headerSize) + " bytes) than Windows' info header" +
               convert;
    }
    const int32_t w = static_cast<int32_t>(U32(b, 18)), h = static_cast<int32_t>(U32(b, 22));
    const uint32_t bits = U16(b, 28), compression = U32(b, 30), colours = U32(b, 46);
    if (w > 0) *width = static_cast<uint32_t>(w);
    if (h > 0) *height = static_cast<uint32_t>(h);
    if (bits != 8) return "it is a " + std::to_string(bits) + "-bit picture; the band needs 8 bits with 256 colours" + convert;
    if (U16(b, 26) != 1) return "its BMP header names " + std::to_string(U16(b, 26)) + " planes" + convert;
    if (compression != 0) return "it is compressed (RLE); the band needs uncompressed pixels" + convert;
    if (colours != 0 && colours != 256) {
        return "its colour table has " + std::to_string(colours) + " entries; the band needs all 256" + convert;
    }
    if (w <= 0 || h == 0 || h == INT32_MIN) return "its BMP header gives no size" + convert;
    if (h < 0) return "its rows are stored top-down; the band needs them bottom-up" + convert;
    if (uint32_t(w) > kMaxBandSide || uint32_t(h) > kMaxBandSide) {
        return "it is " + std::to_string(w) + " x " + std::to_string(h) + " pixels; a band picture is at most " +
               std::to_string(kMaxBandSide) + " a side (qelpack picture IN OUT.bmp --size N scales it)";
    }
    const uint64_t tableAt = kFileHeader + headerSize;
    const uint64_t pixelsAt = U32(b, 10);
    const uint64_t stride = (uint64_t(w) + 3) & ~3ull;
    if (tableAt + kTable > b.size() || pixelsAt < tableAt + kTable) {
        return "its colour table is cut short or overlaps its pixels" + convert;
    }
    if (pixelsAt + stride * uint64_t(h) > b.size()) return "the file ends inside its pixels (truncated)";
    const size_t last = static_cast<size_t>(tableAt + 255 * 4);
    *accent = static_cast<uint8_t>(b[last + 2]) | static_cast<uint32_t>(static_cast<uint8_t>(b[last + 1])) << 8 |
              static_cast<uint32_t>(static_cast<uint8_t>(b[last])) << 16;
    return {};
}
