// Styled push buttons, checked by pixels. Included by button_test.cpp (96 DPI) and
// button_dpi144_test.cpp (144 DPI); kExpectedDpi says which prefix the program runs in, and every
// length below is scaled from the 96-DPI rule with the window's DPI.
#pragma once
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cmath>

#include "skinning/style.h"
#include "support/gdi_census.h"
#include "support/skin_windows.h"

namespace buttontest {

using namespace skintest;

constexpr COLORREF kBase = RGB(0xF4, 0xF0, 0xE8);
constexpr COLORREF kBand = RGB(0x20, 0x40, 0x80);
constexpr COLORREF kPicture = RGB(0xE0, 0x90, 0x30);

struct Colours {
    COLORREF fill = RGB(0x20, 0x60, 0xC0), activeFill = RGB(0x10, 0x40, 0x90), text = RGB(0xFF, 0xFF, 0x00),
             disabledFill = RGB(0xA0, 0xA0, 0xA0), border = RGB(0xC0, 0x10, 0x10),
             disabledText = RGB(0x40, 0x00, 0x40), focusBorder = RGB(0x00, 0xE0, 0x20);
};

constexpr int kButtonX = 60, kButtonY = 40, kButtonW = 120, kButtonH = 70;

// A skinned page with one styled and one plain push button, and a child container holding a
// third button.
struct Bed {
    HWND page = nullptr, button = nullptr, plain = nullptr, container = nullptr, inner = nullptr;
    HBITMAP bitmap = nullptr;
    Bed()
    {
        page = CreateDialogFromTemplate(nullptr, WS_POPUP | WS_VISIBLE, 100, 100,
                                        {{L"BUTTON", L"OK", BS_PUSHBUTTON | WS_TABSTOP, 0, 0, 40, 14, 1},
                                         {L"BUTTON", L"Plain", BS_PUSHBUTTON | WS_TABSTOP, 0, 20, 40, 14, 2}});
        Place(page, 0, 0, 400, 300);
        button = GetDlgItem(page, 1);
        plain = GetDlgItem(page, 2);
        Place(button, kButtonX, kButtonY, kButtonW, kButtonH);
        Place(plain, 200, 40, kButtonW, kButtonH);
        container = CreateDialogFromTemplate(page, WS_CHILD | WS_VISIBLE | DS_CONTROL, 60, 40,
                                             {{L"BUTTON", L"In", BS_PUSHBUTTON, 0, 0, 40, 14, 3}});
        Place(container, 80, 150, 200, 80);
        inner = GetDlgItem(container, 3);
        Place(inner, 10, 20, 80, 30);
        bitmap = MakeIndexedBitmap(4, 4, 0, std::vector<COLORREF>(256, RGB(0, 128, 0)));
        StylePage(page, bitmap, kBase, kBand, kPicture, 20, 0, 0, 10, 10, 0);
    }
    ~Bed()
    {
        DestroyWindow(page);
        DeleteObject(bitmap);
    }
};

int Style(HWND button, const Colours& c, int borderMode, int radius)
{
    return StyleButton(button, c.fill, c.activeFill, c.text, c.disabledFill, c.border, c.disabledText,
                       c.focusBorder, borderMode, radius);
}

// Sends the parent the custom-draw notification the button would send, into canvas.
LRESULT Draw(HWND button, const Canvas& canvas, UINT state, DWORD stage = CDDS_PREPAINT)
{
    NMCUSTOMDRAW draw = {};
    draw.hdr.hwndFrom = button;
    draw.hdr.idFrom = GetDlgCtrlID(button);
    draw.hdr.code = NM_CUSTOMDRAW;
    draw.dwDrawStage = stage;
    draw.hdc = canvas.Dc();
    GetClientRect(button, &draw.rc);
    draw.uItemState = state;
    LRESULT result = SendMessageW(GetParent(button), WM_NOTIFY, draw.hdr.idFrom, reinterpret_cast<LPARAM>(&draw));
    GdiFlush();
    return result;
}

// Wine 8 keeps no UI state: WM_QUERYUISTATE answers 0 whatever WM_UPDATEUISTATE and
// WM_CHANGEUISTATE said. There the test answers WM_QUERYUISTATE for the button itself, from
// the state it last asked for, so the button still sees a real reply to a real message.
LRESULT CALLBACK UiStateAnswer(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR data)
{
    if (message == WM_QUERYUISTATE) return static_cast<LRESULT>(data);
    return DefSubclassProc(window, message, wParam, lParam);
}

void ShowFocusCues(HWND button, bool show)
{
    // WM_UPDATEUISTATE on the top-level window reaches every window below it.
    SendMessageW(GetAncestor(button, GA_ROOT), WM_UPDATEUISTATE,
                 MAKEWPARAM(show ? UIS_CLEAR : UIS_SET, UISF_HIDEFOCUS), 0);
    bool hidden = (SendMessageW(button, WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS) != 0;
    if (hidden != !show) SetWindowSubclass(button, UiStateAnswer, 7, show ? 0 : UISF_HIDEFOCUS);
}

int Dpi(HWND window) { return static_cast<int>(GetDpiForWindow(window)); }
int PenWidth(HWND window) { return std::max(1, MulDiv(1, Dpi(window), 96)); }

// Whether some pixel in the button's middle third has exactly the caption colour.
bool CaptionColourPresent(const Canvas& canvas, COLORREF caption)
{
    for (int y = canvas.Height() / 3; y < 2 * canvas.Height() / 3; ++y) {
        for (int x = canvas.Width() / 3; x < 2 * canvas.Width() / 3; ++x) {
            if (canvas.At(x, y) == ToPixel(caption)) return true;
        }
    }
    return false;
}

enum class Shape { None, OutlineOnly, Filled };

struct Row {
    const char* name;
    int borderMode;
    bool enabled;
    UINT state;  // CDIS_ bits
    Shape shape;
    COLORREF Colours::*fill;     // filled shapes
    COLORREF Colours::*outline;  // shapes
    COLORREF Colours::*caption;
    bool ring;
};

// The state table of styled push buttons, row by row.
inline const Row kRows[] = {
    {"-1 idle", -1, true, 0, Shape::None, nullptr, nullptr, &Colours::text, false},
    {"-1 focus", -1, true, CDIS_FOCUS, Shape::OutlineOnly, nullptr, &Colours::focusBorder, &Colours::text, false},
    {"-1 hot", -1, true, CDIS_HOT, Shape::Filled, &Colours::activeFill, &Colours::activeFill, &Colours::text, false},
    {"-1 pressed", -1, true, CDIS_SELECTED, Shape::Filled, &Colours::activeFill, &Colours::activeFill, &Colours::text, false},
    {"-1 hot focus", -1, true, CDIS_HOT | CDIS_FOCUS, Shape::Filled, &Colours::activeFill, &Colours::focusBorder, &Colours::text, false},
    {"-1 disabled", -1, false, CDIS_HOT | CDIS_FOCUS, Shape::Filled, &Colours::disabledFill, &Colours::disabledFill, &Colours::disabledText, false},
    {"0 idle", 0, true, 0, Shape::Filled, &Colours::fill, &Colours::border, &Colours::text, false},
    {"0 focus", 0, true, CDIS_FOCUS, Shape::Filled, &Colours::fill, &Colours::focusBorder, &Colours::text, false},
    {"0 hot", 0, true, CDIS_HOT, Shape::Filled, &Colours::activeFill, &Colours::border, &Colours::text, false},
    {"0 pressed focus", 0, true, CDIS_SELECTED | CDIS_FOCUS, Shape::Filled, &Colours::activeFill, &Colours::focusBorder, &Colours::text, false},
    {"0 disabled", 0, false, CDIS_FOCUS, Shape::Filled, &Colours::disabledFill, &Colours::border, &Colours::disabledText, false},
    {"1 idle", 1, true, 0, Shape::Filled, &Colours::fill, &Colours::fill, &Colours::text, false},
    {"1 focus", 1, true, CDIS_FOCUS, Shape::Filled, &Colours::fill, &Colours::fill, &Colours::text, true},
    {"1 pressed", 1, true, CDIS_SELECTED, Shape::Filled, &Colours::activeFill, &Colours::activeFill, &Colours::text, false},
    {"1 hot focus", 1, true, CDIS_HOT | CDIS_FOCUS, Shape::Filled, &Colours::activeFill, &Colours::activeFill, &Colours::text, true},
    {"1 disabled", 1, false, CDIS_SELECTED, Shape::Filled, &Colours::disabledFill, &Colours::border, &Colours::disabledText, false},
    {"0 default button state is not read", 0, true, CDIS_DEFAULT | CDIS_DISABLED, Shape::Filled, &Colours::fill, &Colours::border, &Colours::text, false},
};

TEST(Button, RunsAtTheExpectedDpi)
{
    Bed bed;
    EXPECT_EQ(Dpi(bed.button), kExpectedDpi);
}

TEST(Button, EveryRowOfTheStateTable)
{
    const Colours c;
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.name);
        Bed bed;
        ASSERT_EQ(Style(bed.button, c, row.borderMode, 6), 1);
        EnableWindow(bed.button, row.enabled);
        ShowFocusCues(bed.button, true);
        Canvas canvas(kButtonW, kButtonH);
        ASSERT_EQ(Draw(bed.button, canvas, row.state), CDRF_SKIPDEFAULT);

        const int w = PenWidth(bed.button), mid = kButtonH / 2;
        auto page = [&](int x, int y) { return ToPixel(Texture(kBase, kBand, x, y)); };
        // The corners always show the page behind the button; its tiles start at the button's corner.
        EXPECT_EQ(canvas.At(0, 0), page(0, 0));
        EXPECT_EQ(canvas.At(kButtonW - 1, kButtonH - 1), page(kButtonW - 1, kButtonH - 1));
        for (int x = 0; x < w; ++x) {
            uint32_t want = row.shape == Shape::None ? page(x, mid) : ToPixel(c.*row.outline);
            EXPECT_EQ(canvas.At(x, mid), want) << "left edge " << x;
            want = row.shape == Shape::None ? page(kButtonW / 4, x) : ToPixel(c.*row.outline);
            EXPECT_EQ(canvas.At(kButtonW / 4, x), want) << "top edge " << x;
        }
        const int inset = MulDiv(4, Dpi(bed.button), 96);
        const int inner[][2] = {{w + 1, mid}, {kButtonW / 4, w + 1}, {inset + 2, mid}};
        for (const auto& p : inner) {
            uint32_t want = row.shape == Shape::Filled ? ToPixel(c.*row.fill) : page(p[0], p[1]);
            EXPECT_EQ(canvas.At(p[0], p[1]), want) << "inside at " << p[0] << "," << p[1];
        }
        int offset = (row.state & CDIS_SELECTED) ? MulDiv(1, Dpi(bed.button), 96) : 0;
        uint32_t ringPixel = canvas.At(inset, mid + offset);
        if (row.ring) {
            EXPECT_EQ(ringPixel, ToPixel(c.*row.caption)) << "inner focus ring";
        } else {
            EXPECT_NE(ringPixel, ToPixel(c.text)) << "no inner ring";
        }
        EXPECT_TRUE(CaptionColourPresent(canvas, c.*row.caption));
    }
}

TEST(Button, RealButtonStatesThroughPrintClient)
{
    const Colours c;
    Bed bed;
    ASSERT_EQ(Style(bed.button, c, 0, 6), 1);
    const int w = PenWidth(bed.button), mid = kButtonH / 2;
    Canvas canvas(kButtonW, kButtonH);
    Paint(bed.button, canvas);
    EXPECT_EQ(canvas.At(w + 1, mid), ToPixel(c.fill));
    EXPECT_EQ(canvas.At(0, 0), ToPixel(Texture(kBase, kBand, 0, 0)));

    SendMessageW(bed.button, BM_SETSTATE, TRUE, 0);
    Paint(bed.button, canvas);
    EXPECT_EQ(canvas.At(w + 1, mid), ToPixel(c.activeFill)) << "pressed";
    SendMessageW(bed.button, BM_SETSTATE, FALSE, 0);

    SetFocus(bed.button);
    ASSERT_EQ(GetFocus(), bed.button);
    ShowFocusCues(bed.button, true);
    Paint(bed.button, canvas);
    EXPECT_EQ(canvas.At(0, mid), ToPixel(c.focusBorder)) << "focus cue shown";
    ShowFocusCues(bed.button, false);
    EXPECT_NE(SendMessageW(bed.button, WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS, 0);
    Paint(bed.button, canvas);
    EXPECT_EQ(canvas.At(0, mid), ToPixel(c.border)) << "focus cue hidden by the UI state";
    ShowFocusCues(bed.button, true);
    Paint(bed.button, canvas);
    EXPECT_EQ(canvas.At(0, mid), ToPixel(c.focusBorder));

    EnableWindow(bed.button, FALSE);
    Paint(bed.button, canvas);
    EXPECT_EQ(canvas.At(w + 1, mid), ToPixel(c.disabledFill)) << "disabled";
    EXPECT_EQ(canvas.At(0, mid), ToPixel(c.border));
    EXPECT_TRUE(CaptionColourPresent(canvas, c.disabledText));
}

TEST(Button, FocusRingHiddenWithFocusCues)
{
    const Colours c;
    Bed bed;
    ASSERT_EQ(Style(bed.button, c, 1, 6), 1);
    const int inset = MulDiv(4, Dpi(bed.button), 96), mid = kButtonH / 2;
    Canvas canvas(kButtonW, kButtonH);
    ShowFocusCues(bed.button, false);
    Draw(bed.button, canvas, CDIS_FOCUS);
    EXPECT_EQ(canvas.At(inset, mid), ToPixel(c.fill));
    ShowFocusCues(bed.button, true);
    Draw(bed.button, canvas, CDIS_FOCUS);
    EXPECT_EQ(canvas.At(inset, mid), ToPixel(c.text));
    EXPECT_EQ(canvas.At(inset - 1, mid), ToPixel(c.fill));
    EXPECT_EQ(canvas.At(inset + 1, mid), ToPixel(c.fill));
}

TEST(Button, PressedCaptionMovesDownByOneScaledPixel)
{
    Colours c;
    c.activeFill = c.fill;
    Bed bed;
    ASSERT_EQ(Style(bed.button, c, 1, 6), 1);
    Canvas up(kButtonW, kButtonH), down(kButtonW, kButtonH);
    Draw(bed.button, up, 0);
    Draw(bed.button, down, CDIS_SELECTED);
    const int offset = MulDiv(1, Dpi(bed.button), 96);
    int differing = 0, mismatched = 0;
    for (int y = 10; y < kButtonH - 10; ++y) {
        for (int x = 10; x < kButtonW - 10; ++x) {
            differing += up.At(x, y) != down.At(x, y);
            mismatched += up.At(x, y) != down.At(x, y + offset);
        }
    }
    EXPECT_GT(differing, 0) << "the caption moved";
    EXPECT_EQ(mismatched, 0) << "by exactly " << offset << " pixels";
}

TEST(Button, PenWidthAndCornerRadiusScaleWithDpi)
{
    const Colours c;
    Bed bed;
    ASSERT_EQ(Style(bed.button, c, 0, 20), 1);
    Canvas canvas(kButtonW, kButtonH);
    Draw(bed.button, canvas, 0);
    const int w = PenWidth(bed.button), r = MulDiv(20, Dpi(bed.button), 96);
    for (int x = 0; x < w; ++x) EXPECT_EQ(canvas.At(x, kButtonH / 2), ToPixel(c.border)) << x;
    EXPECT_EQ(canvas.At(w, kButtonH / 2), ToPixel(c.fill));
    // Along the corner's diagonal: clearly outside the arc shows the page, clearly inside the fill.
    int outside = 0, inside = 0;
    for (int k = 0; k < r; ++k) {
        double beyond = (r - k) * std::sqrt(2.0) - r;  // distance outside the corner arc
        uint32_t pixel = canvas.At(k, k);
        if (beyond > 1.5) {
            EXPECT_EQ(pixel, ToPixel(Texture(kBase, kBand, k, k))) << "corner " << k;
            ++outside;
        } else if (beyond < -1.5 - w) {
            EXPECT_EQ(pixel, ToPixel(c.fill)) << "corner " << k;
            ++inside;
        }
    }
    EXPECT_GT(outside, 3);
    EXPECT_GT(inside, 3);
    // radius 0: square corners, the outline reaches the corner pixel.
    ASSERT_EQ(Style(bed.button, c, 0, 0), 1);
    Draw(bed.button, canvas, 0);
    EXPECT_EQ(canvas.At(0, 0), ToPixel(c.border));
}

TEST(Button, RestylingReusesTheRecordAndRepaints)
{
    Colours c;
    Bed bed;
    ASSERT_EQ(Style(bed.button, c, 0, 6), 1);
    c.fill = RGB(0x55, 0x22, 0x11);
    int heapBefore = BusyHeapBlocks();
    int gdiBefore = LiveGdiObjects();
    ASSERT_EQ(Style(bed.button, c, 0, 6), 1);
    EXPECT_EQ(BusyHeapBlocks(), heapBefore);
    EXPECT_EQ(LiveGdiObjects(), gdiBefore);
    Canvas canvas(kButtonW, kButtonH);
    Paint(bed.button, canvas);
    EXPECT_EQ(canvas.At(PenWidth(bed.button) + 1, kButtonH / 2), ToPixel(c.fill));
}

TEST(Button, UnstyledButtonsKeepTheirOwnLook)
{
    const Colours c;
    Bed bed;
    ASSERT_EQ(Style(bed.button, c, 0, 6), 1);  // the page now carries the container subclass
    Canvas canvas(kButtonW, kButtonH);
    EXPECT_EQ(Draw(bed.plain, canvas, 0), CDRF_DODEFAULT);
    EXPECT_EQ(canvas.At(kButtonW / 4, kButtonH / 2), 0x00FF00FFu) << "nothing drawn";
    Paint(bed.plain, canvas);
    uint32_t face = canvas.At(kButtonW / 4, kButtonH / 2);
    EXPECT_NE(face, 0x00FF00FFu);
    EXPECT_NE(face, ToPixel(c.fill));
    EXPECT_NE(face, ToPixel(Texture(kBase, kBand, 200 + kButtonW / 4, 40 + kButtonH / 2)));
}

TEST(Button, RefusedWithoutFontOrSkinnedPage)
{
    const Colours c;
    Bed bed;
    HWND bare = CreateWindowExW(0, L"BUTTON", L"x", WS_CHILD | BS_PUSHBUTTON, 0, 0, 50, 20, bed.page, nullptr,
                                nullptr, nullptr);
    EXPECT_EQ(Style(bare, c, 0, 6), 0);
    HWND plainDialog = CreateDialogFromTemplate(nullptr, WS_POPUP, 100, 100,
                                                {{L"BUTTON", L"x", BS_PUSHBUTTON, 0, 0, 40, 14, 1}});
    EXPECT_EQ(Style(GetDlgItem(plainDialog, 1), c, 0, 6), 0);
    EXPECT_EQ(Style(nullptr, c, 0, 6), 0);
    DestroyWindow(plainDialog);
}

TEST(Button, ContainerShowsThePageBehindItAndItsButtons)
{
    const Colours c;
    Bed bed;
    ASSERT_EQ(Style(bed.inner, c, 0, 6), 1);
    Canvas canvas(200, 80);
    HDC dc = canvas.Dc();
    SetBrushOrgEx(dc, 3, 3, nullptr);
    SetStretchBltMode(dc, BLACKONWHITE);
    HGDIOBJ brush = GetCurrentObject(dc, OBJ_BRUSH);
    Paint(bed.container, canvas, WM_ERASEBKGND);
    POINT origin;
    GetBrushOrgEx(dc, &origin);
    EXPECT_EQ(origin.x, 3);
    EXPECT_EQ(GetStretchBltMode(dc), BLACKONWHITE);
    EXPECT_EQ(GetCurrentObject(dc, OBJ_BRUSH), brush);
    HRGN clip = CreateRectRgn(0, 0, 0, 0);
    EXPECT_EQ(GetClipRgn(dc, clip), 0) << "no clip region left behind";
    DeleteObject(clip);
    int failures = 0;
    for (int y = 0; y < 80; y += 3) {
        for (int x = 0; x < 200; x += 3) {
            uint32_t want = ToPixel(Texture(kBase, kBand, x, y));
            if (canvas.At(x, y) != want && failures++ < 3) ADD_FAILURE() << x << "," << y;
        }
    }
    EXPECT_EQ(failures, 0);
    Canvas button(80, 30);
    Paint(bed.inner, button);
    EXPECT_EQ(button.At(0, 0), ToPixel(Texture(kBase, kBand, 0, 0)));
    EXPECT_EQ(button.At(PenWidth(bed.inner) + 1, 15), ToPixel(c.fill));
}

}  // namespace buttontest
