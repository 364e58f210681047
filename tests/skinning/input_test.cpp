// Edit fields at 96 DPI: the text area's place, the painted frame, styles, and ownership of the
// per-field record.
#include <gtest/gtest.h>

#include "skinning/style.h"
#include "support/dialog_template.h"
#include "support/own_desktop.h"
#include "support/gdi_census.h"
#include "support/skin_records.h"
#include "support/skin_windows.h"

namespace {

// Frames are painted by whether the field has the focus.
const auto* const ownDesktop = ::testing::AddGlobalTestEnvironment(new OwnDesktop(L"qel-input"));

using skintest::ToPixel;

constexpr COLORREF kOuter = RGB(10, 20, 30);
constexpr COLORREF kFill = RGB(250, 240, 230);
constexpr COLORREF kBorder = RGB(0, 128, 255);
constexpr COLORREF kFocusBorder = RGB(255, 64, 0);
constexpr int kEditId = 100;
constexpr int kButtonId = 101;

// A shown dialog with a bordered, client-edged edit field and a button to take the focus.
std::vector<DialogItem> FieldDialog()
{
    return {{L"BUTTON", kButtonId, WS_TABSTOP, 10, 10, 50, 14, L"ok"},
            {L"EDIT", kEditId, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 10, 40, 120, 14, L"text",
             WS_EX_CLIENTEDGE}};
}

int Style(HWND edit, int radius, int textHeight)
{
    return StyleInput(edit, kOuter, kFill, kBorder, kFocusBorder, radius, textHeight);
}

void Resize(HWND window, int width, int height)
{
    SetWindowPos(window, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Repaint(HWND window)
{
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_UPDATENOW);
    PumpMessages();
}

TEST(InputFrame, TextAreaIsCentredWithMinimumInsets)
{
    // The rule at 96 DPI: 8 pixels from the sides; the line centred, truncated, at least 2 from
    // the top and bottom.
    struct Case {
        int height, textHeight;
    } const cases[] = {{30, 16}, {31, 16}, {19, 16}, {20, 16}, {10, 16}, {60, 13}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "height " << c.height << ", textHeight " << c.textHeight);
        TestDialog dialog(FieldDialog());
        HWND edit = dialog.Item(kEditId);
        Resize(edit, 180, c.height);
        ASSERT_NE(Style(edit, 4, c.textHeight), 0);
        int vertical = (c.height - c.textHeight) / 2;
        if (vertical < 2) vertical = 2;
        const Insets insets = ClientInsets(edit);
        EXPECT_EQ(insets.left, 8);
        EXPECT_EQ(insets.right, 8);
        EXPECT_EQ(insets.top, vertical);
        EXPECT_EQ(insets.bottom, vertical);
    }
}

TEST(InputFrame, ThirtyPixelFieldGetsInsetsEightAndSeven)
{
    TestDialog dialog(FieldDialog());
    HWND edit = dialog.Item(kEditId);
    Resize(edit, 200, 30);
    ASSERT_NE(Style(edit, 4, 16), 0);
    RECT client;
    GetClientRect(edit, &client);
    EXPECT_EQ(client.right, 200 - 16);
    EXPECT_EQ(client.bottom, 30 - 14);
    // A later resize is placed by the same rule.
    Resize(edit, 200, 19);
    EXPECT_EQ(ClientInsets(edit).top, 2);
}

TEST(InputFrame, SystemBorderAndClientEdgeAreGone)
{
    TestDialog dialog(FieldDialog());
    HWND edit = dialog.Item(kEditId);
    // The dialog manager turns an edit's WS_BORDER into a client edge; put it back.
    SetWindowLongW(edit, GWL_STYLE, GetWindowLongW(edit, GWL_STYLE) | WS_BORDER);
    const LONG style = GetWindowLongW(edit, GWL_STYLE);
    const LONG exStyle = GetWindowLongW(edit, GWL_EXSTYLE);
    ASSERT_TRUE(style & WS_BORDER);
    ASSERT_TRUE(exStyle & WS_EX_CLIENTEDGE);
    ASSERT_NE(Style(edit, 4, 16), 0);
    EXPECT_EQ(GetWindowLongW(edit, GWL_STYLE), style & ~WS_BORDER);
    EXPECT_EQ(GetWindowLongW(edit, GWL_EXSTYLE), exStyle & ~WS_EX_CLIENTEDGE);
}

TEST(InputFrame, RefusesBadArguments)
{
    TestDialog dialog(FieldDialog());
    HWND edit = dialog.Item(kEditId);
    const LONG style = GetWindowLongW(edit, GWL_STYLE);
    EXPECT_EQ(Style(nullptr, 4, 16), 0);
    EXPECT_EQ(Style(reinterpret_cast<HWND>(0x12345678), 4, 16), 0);
    EXPECT_EQ(Style(edit, 4, 0), 0);
    EXPECT_EQ(Style(edit, 4, -3), 0);
    EXPECT_EQ(GetWindowLongW(edit, GWL_STYLE), style);  // nothing changed
}

TEST(InputFrame, BorderFollowsFocusAndCornersShowOuter)
{
    TestDialog dialog(FieldDialog());
    HWND edit = dialog.Item(kEditId);
    SetFocus(dialog.Item(kButtonId));
    Resize(edit, 160, 30);
    ASSERT_NE(Style(edit, 6, 16), 0);
    Repaint(edit);

    WindowPixels shot = CaptureWindow(edit);
    ASSERT_EQ(shot.width, 160);
    ASSERT_EQ(shot.height, 30);
    // Pen 1 pixel, frame on (0, 0, 160, 30) with a 12 x 12 corner ellipse.
    EXPECT_EQ(shot.At(0, 0), ToPixel(kOuter));
    EXPECT_EQ(shot.At(159, 29), ToPixel(kOuter));
    EXPECT_EQ(shot.At(1, 0), ToPixel(kOuter));
    EXPECT_EQ(shot.At(80, 0), ToPixel(kBorder));
    EXPECT_EQ(shot.At(80, 29), ToPixel(kBorder));
    EXPECT_EQ(shot.At(0, 15), ToPixel(kBorder));
    EXPECT_EQ(shot.At(159, 15), ToPixel(kBorder));
    EXPECT_EQ(shot.At(80, 3), ToPixel(kFill));  // between border and text area (inset 7)
    EXPECT_EQ(shot.At(4, 15), ToPixel(kFill));  // left of the text area (inset 8)

    SetFocus(edit);
    PumpMessages();
    ASSERT_EQ(GetFocus(), edit);
    UpdateWindow(edit);
    shot = CaptureWindow(edit);
    EXPECT_EQ(shot.At(80, 0), ToPixel(kFocusBorder));
    EXPECT_EQ(shot.At(0, 15), ToPixel(kFocusBorder));
    EXPECT_EQ(shot.At(0, 0), ToPixel(kOuter));

    SetFocus(dialog.Item(kButtonId));
    PumpMessages();
    UpdateWindow(edit);
    shot = CaptureWindow(edit);
    EXPECT_EQ(shot.At(80, 0), ToPixel(kBorder));
    EXPECT_EQ(shot.At(0, 15), ToPixel(kBorder));
}

TEST(InputFrame, RadiusZeroGivesSquareCorners)
{
    TestDialog dialog(FieldDialog());
    HWND edit = dialog.Item(kEditId);
    SetFocus(dialog.Item(kButtonId));
    Resize(edit, 120, 24);
    ASSERT_NE(Style(edit, 0, 16), 0);
    Repaint(edit);
    const WindowPixels shot = CaptureWindow(edit);
    for (POINT corner : {POINT{0, 0}, POINT{119, 0}, POINT{0, 23}, POINT{119, 23}}) {
        EXPECT_EQ(shot.At(corner.x, corner.y), ToPixel(kBorder)) << corner.x << "," << corner.y;
    }
    EXPECT_EQ(shot.At(1, 1), ToPixel(kFill));
}

TEST(InputFrame, RecordFreedOnDestroyAndReplacedByRestyle)
{
    RecordWatch records;
    ASSERT_TRUE(records.Active());
    TestDialog dialog(FieldDialog());
    HWND edit = dialog.Item(kEditId);
    ASSERT_NE(Style(edit, 4, 16), 0);
    ASSERT_EQ(records.Outstanding().size(), 1u);
    const HLOCAL first = *records.Outstanding().begin();

    // Styling again installs a new record and frees the earlier one; the new colours apply.
    Resize(edit, 100, 40);
    ASSERT_NE(StyleInput(edit, kOuter, kFill, kFocusBorder, kBorder, 0, 30), 0);
    ASSERT_EQ(records.Outstanding().size(), 1u);
    EXPECT_NE(*records.Outstanding().begin(), first);
    EXPECT_EQ(records.Allocations(), 2u);
    EXPECT_EQ(ClientInsets(edit).top, 5);  // (40 - 30) / 2 with the new textHeight

    DestroyWindow(edit);
    EXPECT_TRUE(records.Outstanding().empty());
}

TEST(InputFrame, StyleAndDestroyCyclesLeaveNoGdiObjects)
{
    TestDialog dialog(FieldDialog());
    RecordWatch records;
    ASSERT_TRUE(records.Active());
    auto cycle = [&] {
        HWND edit = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"cycle",
                                    WS_CHILD | WS_VISIBLE | WS_BORDER, 10, 80, 150, 30,
                                    dialog.Get(), nullptr, nullptr, nullptr);
        ASSERT_NE(edit, nullptr);
        ASSERT_NE(Style(edit, 5, 16), 0);
        Repaint(edit);  // one pen per frame paint
        SetFocus(edit);
        Repaint(edit);
        DestroyWindow(edit);
    };
    // Warm-up: Wine's cache of window DCs grows during the first cycles (by whole DCs with their
    // region and bitmap), then stays; a leak would grow with every cycle.
    for (int i = 0; i < 5; ++i) cycle();
    const long before = LiveGdiObjects();
    ASSERT_GE(before, 0) << "GDI handle table not readable";
    for (int i = 0; i < 500; ++i) cycle();
    EXPECT_EQ(LiveGdiObjects(), before);
    EXPECT_EQ(records.Allocations(), 505u);
    EXPECT_TRUE(records.Outstanding().empty());
}

}  // namespace
