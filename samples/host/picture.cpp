#include "picture.h"

#include <cmath>

HBITMAP MakeBandPicture(int size, COLORREF accent)
{
    struct {
        BITMAPINFOHEADER header;
        RGBQUAD colors[256];
    } info = {};
    info.header.biSize = sizeof info.header;
    info.header.biWidth = size;
    info.header.biHeight = -size;
    info.header.biPlanes = 1;
    info.header.biBitCount = 8;
    info.header.biClrUsed = 256;
    for (int i = 0; i < 256; ++i) {
        BYTE v = static_cast<BYTE>(i);
        info.colors[i] = {v, v, v, 0};
    }
    info.colors[255] = {GetBValue(accent), GetGValue(accent), GetRValue(accent), 0};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap == nullptr) return nullptr;
    // Rings that fade towards the edge: the ramp turns them into the band's colours.
    const int stride = (size + 3) & ~3;
    auto* pixels = static_cast<BYTE*>(bits);
    const double centre = (size - 1) / 2.0;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            double d = std::hypot(x - centre, y - centre) / centre;
            double ring = 0.5 + 0.5 * std::cos(d * 18.0);
            double value = d >= 1.0 ? 0.0 : (1.0 - d * 0.7) * (0.55 + 0.45 * ring);
            pixels[y * stride + x] = static_cast<BYTE>(value * 255.0);
        }
    }
    return bitmap;
}
