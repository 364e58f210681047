// Fonts for a window's DPI: creating one of a point size, switching a whole window tree from an
// old font to it, and measuring a font's line height in a window.
#include <windows.h>

#include "skinning/gdi.h"
#include "skinning/own_thread.h"
#include "skinning/style.h"

namespace {

// The pair ReplaceFontProc works with while walking a window tree.
struct FontSwap {
    HFONT fromFont;  // the font to look for
    HFONT toFont;    // the font to put in its place
};

// Gives window toFont, without redrawing, if it uses fromFont. Always continues the walk.
BOOL CALLBACK ReplaceFontProc(HWND window, LPARAM lParam)
{
    const auto* swap = reinterpret_cast<const FontSwap*>(lParam);
    if (reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0)) == swap->fromFont) {
        SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(swap->toFont), FALSE);
    }
    return TRUE;
}

// The window itself, then every descendant (EnumChildWindows visits children of children).
void SwapFonts(HWND window, HFONT fromFont, HFONT toFont)
{
    FontSwap swap = {fromFont, toFont};
    ReplaceFontProc(window, reinterpret_cast<LPARAM>(&swap));
    EnumChildWindows(window, ReplaceFontProc, reinterpret_cast<LPARAM>(&swap));
}

}  // namespace

extern "C" HFONT WINAPI FontForDpi(HWND window, HFONT oldFont, const wchar_t* faceName,
                                   int points, int weight)
{
    if (!OnThisThread(window)) return nullptr;
    const UINT dpi = GetDpiForWindow(window);
    if (dpi == 0 || faceName == nullptr || points < 1) return nullptr;
    // Negative height: a character height without internal leading of points * dpi / 72 pixels.
    UniqueFont font(CreateFontW(-MulDiv(points, static_cast<int>(dpi), 72), 0, 0, 0, weight,
                                FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_OUTLINE_PRECIS,
                                CLIP_DEFAULT_PRECIS, CLEARTYPE_NATURAL_QUALITY,
                                DEFAULT_PITCH | FF_DONTCARE, faceName));
    if (!font) return nullptr;
    if (oldFont == nullptr) return font.Release();

    SwapFonts(window, oldFont, font.Get());
    if (DeleteObject(oldFont)) return font.Release();
    // The old font could not be deleted: put every window back on it; the new font goes.
    SwapFonts(window, font.Get(), oldFont);
    return nullptr;
}

extern "C" int WINAPI FontLineHeight(HWND window, HFONT font)
{
    // Without a window GetDC would measure on the screen: that is no window's line height.
    if (!OnThisThread(window)) return 0;
    WindowDc dc(window, GetDC(window));
    if (!dc) return 0;
    Selection selection(dc.Get(), font);  // selects the previous font back before the release
    if (!selection.Selected()) return 0;
    TEXTMETRICW metrics;
    if (!GetTextMetricsW(dc.Get(), &metrics)) return 0;
    return metrics.tmHeight;
}
