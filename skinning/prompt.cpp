// StylePrompt: three texts and two buttons of a skinned page laid out as a centred column on a
// rounded card.
#include <windows.h>

#include "skinning/own_thread.h"
#include "skinning/page_skin.h"
#include "skinning/style.h"

namespace {

// Column and buttons in dialog units of the top-level dialog.
constexpr int kColumnLeft = 114;
constexpr int kColumnWidth = 166;
constexpr int kButtonHeight = 14;
constexpr int kButton1Width = 56;
constexpr int kButton2Width = 36;
// Spacing in 96-DPI pixels.
constexpr int kCardMargin = 16;
constexpr int kGapAfterText[3] = {12, 12, 20};
constexpr int kButtonGap = 12;

constexpr int kTextCapacity = 512;  // a text may have at most 511 characters

}  // namespace

// The height of window's text word-wrapped to width in its own font, or 0 when the text is
// empty or too long, the window has no font, or a word is wider than width.
int MeasureWrappedText(HWND window, HDC dc, int width)
{
    int length = GetWindowTextLengthW(window);
    if (length < 1 || length > kTextCapacity - 1) return 0;
    wchar_t text[kTextCapacity];
    if (GetWindowTextW(window, text, kTextCapacity) != length) return 0;
    HGDIOBJ font = reinterpret_cast<HGDIOBJ>(SendMessageW(window, WM_GETFONT, 0, 0));
    if (font == nullptr) return 0;
    HGDIOBJ previous = SelectObject(dc, font);
    if (previous == nullptr || previous == HGDI_ERROR) return 0;
    RECT rect = {0, 0, width, 0};
    int drawn = DrawTextW(dc, text, length, &rect, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(dc, previous);
    if (drawn == 0 || rect.right > width) return 0;
    return rect.bottom;
}

// Measures the texts, checks that the block fits, stores cardRect and moves the five windows.
// Nothing is stored or moved when the block does not fit.
int LayoutPrompt(HWND page, PageSkin* skin)
{
    UINT dpi = GetDpiForWindow(page);
    if (dpi == 0) return 0;
    int margin = MulDiv(kCardMargin, dpi, 96);
    int gaps[3];
    for (int i = 0; i < 3; ++i) gaps[i] = MulDiv(kGapAfterText[i], dpi, 96);
    int buttonGap = MulDiv(kButtonGap, dpi, 96);

    RECT client;
    if (!GetClientRect(page, &client)) return 0;
    HWND root = GetAncestor(page, GA_ROOT);
    RECT column = {kColumnLeft, 0, kColumnWidth, kButtonHeight};
    RECT button1 = {0, 0, kButton1Width, 0};
    RECT button2 = {0, 0, kButton2Width, 0};
    if (!MapDialogRect(root, &column) || !MapDialogRect(root, &button1) || !MapDialogRect(root, &button2)) return 0;
    int columnLeft = column.left, columnWidth = column.right, buttonHeight = column.bottom;
    int button1Width = button1.right, button2Width = button2.right;

    int heights[3];
    {
        HDC dc = GetDC(page);
        if (dc == nullptr) return 0;
        WindowDc owned(page, dc);
        for (int i = 0; i < 3; ++i) {
            heights[i] = MeasureWrappedText(skin->promptWindows[i], dc, columnWidth);
            if (heights[i] < 1) return 0;
        }
    }

    int total = buttonHeight;
    for (int i = 0; i < 3; ++i) total += heights[i] + gaps[i];
    if (total + 2 * margin > client.bottom) return 0;
    if (columnLeft - margin < 0) return 0;
    if (columnLeft + columnWidth + margin > client.right) return 0;
    if (button1Width + buttonGap + button2Width > columnWidth) return 0;

    // Centred vertically; an odd spare pixel goes below the block.
    int y = (client.bottom - total) / 2;
    skin->cardRect = {columnLeft - margin, y - margin, columnLeft + columnWidth + margin, y + total + margin};
    for (int i = 0; i < 3; ++i) {
        if (!MoveWindow(skin->promptWindows[i], columnLeft, y, columnWidth, heights[i], FALSE)) return 0;
        y += heights[i] + gaps[i];
    }
    if (!MoveWindow(skin->promptWindows[3], columnLeft, y, button1Width, buttonHeight, FALSE)) return 0;
    if (!MoveWindow(skin->promptWindows[4], columnLeft + button1Width + buttonGap, y, button2Width,
                    buttonHeight, FALSE)) {
        return 0;
    }
    return 1;
}

extern "C" int WINAPI StylePrompt(HWND page, HWND text1, HWND text2, HWND text3, HWND button1,
                                  HWND button2, int cardShown, int cardRadius)
{
    if (cardRadius < 0) return 0;
    if (!OnThisThread(page)) return 0;
    PageSkin* skin = SkinOfPage(page);
    if (skin == nullptr) return 0;
    const HWND windows[5] = {text1, text2, text3, button1, button2};
    for (HWND window : windows) {
        if (!OnThisThread(window)) return 0;
    }
    for (int i = 0; i < 5; ++i) {
        if (!IsChild(page, windows[i])) return 0;
        skin->promptWindows[i] = windows[i];
    }
    if (cardShown != 0 && !LayoutPrompt(page, skin)) return 0;
    skin->cardRadius = cardRadius;
    skin->cardShown = cardShown;
    // The page clips its children, so repainting the page alone would leave the moved windows
    // showing what was on screen at their old places: they are repainted with it.
    RedrawWindow(page, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
    return 1;
}
