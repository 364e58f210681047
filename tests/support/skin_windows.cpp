#include "support/skin_windows.h"

#include <algorithm>
#include <cstdio>

#include "samples/gallery/dialog_template.h"

namespace skintest {

COLORREF Blend(COLORREF a, COLORREF b, int step)
{
    COLORREF out = 0;
    for (int shift : {0, 8, 16}) {
        int ca = (a >> shift) & 0xFF, cb = (b >> shift) & 0xFF;
        int v = ca + (cb - ca) * step / 255;
        out |= static_cast<COLORREF>(v & 0xFF) << shift;
    }
    return out;
}

int TileStep(int x, int y)
{
    static int steps[1024];
    static bool ready = false;
    if (!ready) {
        uint32_t state = 1374496523u;
        for (int i = 0; i < 1024; ++i) {
            state = state * 1664525u + 1013904223u;
            steps[i] = static_cast<int>(state >> 30);
        }
        ready = true;
    }
    x %= 32;
    y %= 32;
    if (x < 0) x += 32;
    if (y < 0) y += 32;
    return steps[y * 32 + x];
}

COLORREF Texture(COLORREF first, COLORREF second, int x, int y) { return Blend(first, second, TileStep(x, y)); }

uint32_t ToPixel(COLORREF c) { return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c); }
COLORREF FromPixel(uint32_t p) { return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF); }

std::string Hex(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

HWND CreateDialogFromTemplate(HWND parent, DWORD style, short cx, short cy,
                              const std::vector<Control>& controls, WORD pointSize)
{
    std::vector<dialogtemplate::Item> items;
    for (const Control& c : controls) {
        items.push_back({c.windowClass.c_str(), c.text.c_str(), c.style, c.x, c.y, c.cx, c.cy, c.id});
    }
    return dialogtemplate::Create({style, 0, 0, cx, cy, L"", pointSize}, items, parent);
}

void Place(HWND window, int x, int y, int width, int height)
{
    SetWindowPos(window, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

RECT RectIn(HWND window, HWND other)
{
    RECT r;
    GetWindowRect(window, &r);
    MapWindowPoints(nullptr, other, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

RECT DialogToPixels(HWND window, RECT rect)
{
    MapDialogRect(GetAncestor(window, GA_ROOT), &rect);
    return rect;
}

HBITMAP MakeIndexedBitmap(int width, int height, BYTE index, const std::vector<COLORREF>& colours)
{
    std::vector<BYTE> storage(sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD));
    BITMAPINFO* info = reinterpret_cast<BITMAPINFO*>(storage.data());
    info->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info->bmiHeader.biWidth = width;
    info->bmiHeader.biHeight = height;
    info->bmiHeader.biPlanes = 1;
    info->bmiHeader.biBitCount = 8;
    info->bmiHeader.biCompression = BI_RGB;
    info->bmiHeader.biClrUsed = 256;
    for (int i = 0; i < 256; ++i) {
        COLORREF c = i < static_cast<int>(colours.size()) ? colours[i] : 0;
        info->bmiColors[i] = {GetBValue(c), GetGValue(c), GetRValue(c), 0};
    }
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap == nullptr) return nullptr;
    int stride = (width + 3) & ~3;
    std::fill_n(static_cast<BYTE*>(bits), stride * height, index);
    GdiFlush();
    return bitmap;
}

Canvas::Canvas(int width, int height, uint32_t sentinel) : width_(width), height_(height)
{
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    bitmap_ = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bits_ = static_cast<uint32_t*>(bits);
    dc_ = CreateCompatibleDC(nullptr);
    previous_ = SelectObject(dc_, bitmap_);
    if (bits_ != nullptr) std::fill_n(bits_, width * height, sentinel);
}

Canvas::~Canvas()
{
    SelectObject(dc_, previous_);
    DeleteDC(dc_);
    DeleteObject(bitmap_);
}

uint32_t Canvas::At(int x, int y) const
{
    GdiFlush();
    if (bits_ == nullptr || x < 0 || y < 0 || x >= width_ || y >= height_) return 0xFFFFFFFF;
    return bits_[y * width_ + x] & 0x00FFFFFF;
}

std::vector<uint32_t> Canvas::Pixels() const
{
    GdiFlush();
    std::vector<uint32_t> out(bits_, bits_ + width_ * height_);
    for (uint32_t& p : out) p &= 0x00FFFFFF;
    return out;
}

void Paint(HWND window, const Canvas& canvas, UINT message)
{
    SendMessageW(window, message, reinterpret_cast<WPARAM>(canvas.Dc()), PRF_CLIENT);
    GdiFlush();
}

int BusyHeapBlocks()
{
    HANDLE heap = GetProcessHeap();
    int busy = 0;
    HeapLock(heap);
    PROCESS_HEAP_ENTRY entry = {};
    while (HeapWalk(heap, &entry)) {
        if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) ++busy;
    }
    HeapUnlock(heap);
    return busy;
}

}  // namespace skintest
