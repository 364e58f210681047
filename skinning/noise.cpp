// Colour blending and the 32 x 32 noise tiles that texture a skinned page.
#include "skinning/page_skin.h"

namespace {

// Every tile starts its generator here, so every tile has the same pattern of steps.
constexpr DWORD kNoiseSeed = 0x51ED270B;
constexpr int kTileSize = 32;

int Channel(COLORREF colour, int shift) { return static_cast<int>((colour >> shift) & 0xFF); }

}  // namespace

COLORREF BlendColor(COLORREF first, COLORREF second, int step)
{
    COLORREF result = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        int a = Channel(first, shift);
        int b = Channel(second, shift);
        int value = a + (b - a) * step / 255;  // truncates towards zero
        result |= static_cast<COLORREF>(value & 0xFF) << shift;
    }
    return result;
}

NoiseBrush::NoiseBrush(NoiseBrush&& other)
    : bitmap(static_cast<UniqueBitmap&&>(other.bitmap)), brush(static_cast<UniqueBrush&&>(other.brush))
{
}

NoiseBrush& NoiseBrush::operator=(NoiseBrush&& other)
{
    if (this != &other) {
        DeleteNoiseBrush(this);
        bitmap = static_cast<UniqueBitmap&&>(other.bitmap);
        brush = static_cast<UniqueBrush&&>(other.brush);
    }
    return *this;
}

NoiseBrush::~NoiseBrush() { DeleteNoiseBrush(this); }

void DeleteNoiseBrush(NoiseBrush* noise)
{
    // The pattern brush goes before the bitmap it was made from.
    noise->brush.Reset();
    noise->bitmap.Reset();
}

int CreateNoiseBrush(NoiseBrush* out, COLORREF first, COLORREF second)
{
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = kTileSize;
    info.bmiHeader.biHeight = -kTileSize;  // rows from the top down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    NoiseBrush made;
    made.bitmap.Reset(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!made.bitmap || bits == nullptr) return 0;

    DWORD* pixel = static_cast<DWORD*>(bits);
    DWORD state = kNoiseSeed;
    for (int i = 0; i < kTileSize * kTileSize; ++i) {
        state = state * 1664525u + 1013904223u;
        COLORREF colour = BlendColor(first, second, static_cast<int>(state >> 30));
        // DIB pixels are 0x00RRGGBB: red and blue exchanged against a COLORREF.
        pixel[i] = (static_cast<DWORD>(GetRValue(colour)) << 16) |
                   (static_cast<DWORD>(GetGValue(colour)) << 8) | GetBValue(colour);
    }
    GdiFlush();

    made.brush.Reset(CreatePatternBrush(made.bitmap.Get()));
    if (!made.brush) return 0;
    *out = static_cast<NoiseBrush&&>(made);
    return 1;
}
