// The band picture the skin paints in the installer's left band: an 8-bit BMP whose pixels are
// indices into a ramp (0 = the band's colour, 255 = the far end towards the picture colour) and
// whose colour table is full (256 entries), with the accent colour, which the waves take, in
// the last entry. The skin rewrites entries 0 to 254 with its ramp; qelpack writes them grey so
// the file looks sensible in a viewer.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "tools/qelpack/picture_image.h"

// The largest band picture, on either side: the picture box is about 100 pixels at 100 % and
// 200 at 200 %, so anything larger only makes the installer bigger.
constexpr uint32_t kMaxBandSide = 1024;

// One byte per pixel, rows from the top.
struct BandPlane {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> index;
};

// Each pixel's ramp index: its luminance (299 R + 587 G + 114 B, as the skin weighs colours)
// over the band, so that transparent parts are the band's colour. With invert, dark parts of
// the picture are the ones that reach towards the picture colour.
BandPlane BandIndices(const RgbaImage& image, bool invert);

// The plane scaled so that its longer side is side pixels, keeping its proportions; each new
// pixel is the average of the area of the old plane it covers.
BandPlane FitInto(const BandPlane& plane, uint32_t side);

// The BMP file: bottom-up rows, BITMAPINFOHEADER, BI_RGB, 256 colours, accent (COLORREF,
// 0x00BBGGRR) in entry 255.
std::string EncodeBandBmp(const BandPlane& plane, uint32_t accent);

// "" when bytes are a band picture the installer can use (what EncodeBandBmp writes, and any
// other 8-bit, uncompressed, bottom-up BMP with a full colour table of at most kMaxBandSide
// pixels a side), else why not. width and height are set when it can.
std::string BandPictureRule(const std::string& bytes, uint32_t* width, uint32_t* height, uint32_t* accent);
