// Helpers for tests of qelskin: real dialogs from in-memory templates, memory DCs over 32-bit
// top-down DIB sections to read painted pixels, the colour rules worked out independently of
// the DLL, and a count of busy heap blocks (GDI objects: support/gdi_census.h).
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace skintest {

// ---- Colour rules, written from the rules, not from the DLL --------------------------------

// step/255 of the way from a to b per channel, truncating towards zero.
COLORREF Blend(COLORREF a, COLORREF b, int step);
// The noise tile's step (0..3) for tile position (x mod 32, y mod 32).
int TileStep(int x, int y);
// A texture's colour at a position, with the tile anchored at (0, 0) of the page.
COLORREF Texture(COLORREF first, COLORREF second, int x, int y);
// COLORREF (0x00BBGGRR) to the 0x00RRGGBB of a 32-bit DIB pixel, and back.
uint32_t ToPixel(COLORREF colour);
COLORREF FromPixel(uint32_t pixel);
std::string Hex(uint32_t value);

// ---- Windows ---------------------------------------------------------------------------------

struct Control {
    std::wstring windowClass;  // "STATIC", "BUTTON"
    std::wstring text;
    DWORD style;
    short x, y, cx, cy;  // dialog units; tests usually move them to exact pixels afterwards
    WORD id;
};

// A dialog from an in-memory template with font "MS Shell Dlg" at pointSize. A top-level dialog
// (parent null) is a WS_POPUP without caption or border, so its client area is its window.
HWND CreateDialogFromTemplate(HWND parent, DWORD style, short cx, short cy,
                              const std::vector<Control>& controls, WORD pointSize = 8);
// Sets a window's size and position in pixels (client coordinates of its parent).
void Place(HWND window, int x, int y, int width, int height);
// The window's rectangle in the client coordinates of another window.
RECT RectIn(HWND window, HWND other);
// Dialog units of the root of window converted to pixels.
RECT DialogToPixels(HWND window, RECT rect);

// An 8-bit DIB section of width x height filled with one index, with colour table colours
// (all 256 entries; entry i = colours[i]).
HBITMAP MakeIndexedBitmap(int width, int height, BYTE index, const std::vector<COLORREF>& colours);

// ---- Reading pixels --------------------------------------------------------------------------

// A memory DC over a 32-bit top-down DIB section, first filled with a sentinel colour.
class Canvas {
public:
    Canvas(int width, int height, uint32_t sentinel = 0x00FF00FF);
    ~Canvas();
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;
    HDC Dc() const { return dc_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    uint32_t At(int x, int y) const;  // after GdiFlush
    COLORREF ColourAt(int x, int y) const { return FromPixel(At(x, y)); }
    std::vector<uint32_t> Pixels() const;

private:
    int width_, height_;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ previous_ = nullptr;
    uint32_t* bits_ = nullptr;
};

// Sends message (WM_PRINTCLIENT or WM_ERASEBKGND) to window with canvas's DC.
void Paint(HWND window, const Canvas& canvas, UINT message = WM_PRINTCLIENT);

// ---- Counting --------------------------------------------------------------------------------

// Busy blocks in the process heap (HeapWalk).
int BusyHeapBlocks();

}  // namespace skintest
