// Edit frames in right-to-left windows: the frame is the left-to-right one mirrored, and the
// frame's painting never reaches into the text area.
#include <gtest/gtest.h>

#include <vector>

#include "skinning/style.h"
#include "support/dialog_template.h"

namespace {

constexpr COLORREF kOuter = RGB(10, 20, 30);
constexpr COLORREF kFill = RGB(250, 240, 230);
constexpr COLORREF kBorder = RGB(0, 128, 255);
constexpr COLORREF kFocusBorder = RGB(255, 64, 0);
constexpr int kEditId = 100;
constexpr int kWidth = 180, kHeight = 34;

// The screen's pixels of window, read through its parent's (left-to-right) client DC, so that
// a mirrored window DC does not mirror the copy.
struct Shot {
    std::vector<DWORD> pixels;
    DWORD At(int x, int y) const { return pixels[static_cast<size_t>(y) * kWidth + x]; }
};

Shot Capture(HWND window)
{
    HWND parent = GetParent(window);
    RECT rect = RectInParent(window);
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), kWidth, -kHeight, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HDC source = GetDC(parent);
    HDC memory = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, kWidth, kHeight, source, rect.left, rect.top, SRCCOPY);
    GdiFlush();
    Shot shot;
    const DWORD* p = static_cast<const DWORD*>(bits);
    shot.pixels.assign(p, p + kWidth * kHeight);
    for (DWORD& pixel : shot.pixels) pixel &= 0x00FFFFFF;
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(parent, source);
    return shot;
}

// A shown dialog with one styled field (the focus on a button beside it) of kWidth x kHeight pixels, right-to-left or not.
struct Field {
    TestDialog dialog;
    HWND edit;
    explicit Field(bool rtl)
        : dialog({{L"BUTTON", 101, WS_TABSTOP, 10, 40, 50, 14, L"focus"},
                  {L"EDIT", kEditId, WS_BORDER | ES_AUTOHSCROLL, 10, 10, 100, 14, L"abc",
                   static_cast<DWORD>(WS_EX_CLIENTEDGE | (rtl ? WS_EX_LAYOUTRTL : 0))}})
    {
        edit = dialog.Item(kEditId);
        SetWindowPos(edit, nullptr, 20, 20, kWidth, kHeight, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    int Style() { return StyleInput(edit, kOuter, kFill, kBorder, kFocusBorder, 6, 16); }
    RECT Text() const
    {
        RECT client;
        GetClientRect(edit, &client);
        MapWindowPoints(edit, nullptr, reinterpret_cast<POINT*>(&client), 2);
        RECT window;
        GetWindowRect(edit, &window);
        OffsetRect(&client, -window.left, -window.top);
        return client;  // in the window's left-to-right coordinates
    }
};

DWORD Pixel(COLORREF c) { return static_cast<DWORD>(GetRValue(c)) << 16 | GetGValue(c) << 8 | GetBValue(c); }

bool Inside(const RECT& r, int x, int y) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; }

TEST(InputFrameRtl, FrameIsTheLeftToRightFrameMirrored)
{
    Field ltr(false), rtl(true);
    ASSERT_NE(GetWindowLongW(rtl.edit, GWL_EXSTYLE) & WS_EX_LAYOUTRTL, 0);
    ASSERT_NE(ltr.Style(), 0);
    ASSERT_NE(rtl.Style(), 0);
    RedrawWindow(ltr.edit, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_UPDATENOW);
    RedrawWindow(rtl.edit, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_UPDATENOW);
    PumpMessages();
    const RECT text = ltr.Text();
    const RECT rtlText = rtl.Text();
    ASSERT_TRUE(EqualRect(&text, &rtlText)) << "the text area sits elsewhere";
    const Shot a = Capture(ltr.edit), b = Capture(rtl.edit);
    int compared = 0, different = 0;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const int mirrored = kWidth - 1 - x;
            if (Inside(text, x, y) || Inside(text, mirrored, y)) continue;
            ++compared;
            if (b.At(x, y) != a.At(mirrored, y)) {
                if (++different <= 5) ADD_FAILURE() << "frame pixel " << x << "," << y;
            }
        }
    }
    EXPECT_GT(compared, 2 * kWidth);
    EXPECT_EQ(different, 0);
    EXPECT_EQ(b.At(0, 0), Pixel(kOuter)) << "corner outside the rounded frame";
    EXPECT_EQ(b.At(kWidth - 1, kHeight / 2), Pixel(kBorder));
}

TEST(InputFrameRtl, FrameOnlyRepaintLeavesTheTextAreaAlone)
{
    for (bool rtlLayout : {false, true}) {
        SCOPED_TRACE(rtlLayout ? "right-to-left" : "left-to-right");
        Field field(rtlLayout);
        ASSERT_NE(field.Style(), 0);
        RedrawWindow(field.edit, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_ERASE | RDW_UPDATENOW);
        PumpMessages();
        const Shot before = Capture(field.edit);
        SendMessageW(field.edit, WM_NCPAINT, 1, 0);  // the frame alone, the client not validated
        const Shot after = Capture(field.edit);
        const RECT text = field.Text();
        int changed = 0;
        for (int y = text.top; y < text.bottom; ++y) {
            for (int x = text.left; x < text.right; ++x) changed += before.At(x, y) != after.At(x, y);
        }
        EXPECT_EQ(changed, 0) << "the frame painted over the text area";
        // The frame itself is there: the border colour on the left and right edges' middle.
        EXPECT_EQ(after.At(0, kHeight / 2), Pixel(kBorder));
        EXPECT_EQ(after.At(kWidth - 1, kHeight / 2), Pixel(kBorder));
    }
}

}  // namespace
