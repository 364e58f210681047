// Edit fields in the 144-DPI prefix: styled at 144, and styled at 96 then moved to 144.
//
// Wine keeps one DPI per process, but a window created while the thread is DPI-unaware gets 96,
// and a child moved (SetParent) under a per-monitor-aware window takes that window's 144. That
// is how a field styled at 96 reaches 144 here; the test then sends WM_DPICHANGED_AFTERPARENT
// itself, as Windows does when a parent's DPI changes (Wine sends no DPI messages).
#include <gtest/gtest.h>

#include "skinning/style.h"
#include "support/dialog_template.h"

namespace {

constexpr int kEditId = 100;

std::vector<DialogItem> FieldDialog()
{
    return {{L"EDIT", kEditId, WS_TABSTOP | ES_AUTOHSCROLL, 10, 10, 120, 14, L"text"}};
}

int Style(HWND edit, int textHeight)
{
    return StyleInput(edit, RGB(1, 2, 3), RGB(4, 5, 6), RGB(7, 8, 9), RGB(10, 11, 12), 4,
                      textHeight);
}

TEST(InputFrameDpi, StyledAt144UsesScaledInsets)
{
    ASSERT_EQ(GetDpiForSystem(), 144u);
    TestDialog dialog(FieldDialog());
    HWND edit = dialog.Item(kEditId);
    ASSERT_EQ(GetDpiForWindow(edit), 144u);
    // textHeight is at the styling DPI; sides MulDiv(8, 144, 96) = 12, minimum MulDiv(2, ...) = 3.
    struct Case {
        int height, textHeight, top;
    } const cases[] = {{60, 24, 18}, {45, 24, 10}, {28, 24, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.height);
        SetWindowPos(edit, nullptr, 0, 0, 200, c.height, SWP_NOMOVE | SWP_NOZORDER);
        ASSERT_NE(Style(edit, c.textHeight), 0);
        const Insets insets = ClientInsets(edit);
        EXPECT_EQ(insets.left, 12);
        EXPECT_EQ(insets.right, 12);
        EXPECT_EQ(insets.top, c.top);
        EXPECT_EQ(insets.bottom, c.top);
    }
}

TEST(InputFrameDpi, StyledAt96ThenMovedTo144RescalesTheLine)
{
    // Styled at 96 with textHeight 16; at 144 the line is 24, the sides 12, the minimum 3.
    struct Case {
        int height, topAt96, topAt144;
    } const cases[] = {{40, 12, 8}, {28, 6, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.height);
        TestDialog at144(FieldDialog());
        // The 96-DPI dialog is made, sized and measured with the thread DPI-unaware, so that
        // Wine does not scale the coordinates between the thread's DPI and the window's.
        DPI_AWARENESS_CONTEXT previous =
            SetThreadDpiAwarenessContext(DPI_AWARENESS_CONTEXT_UNAWARE);
        TestDialog at96(FieldDialog());
        HWND edit = at96.Item(kEditId);
        ASSERT_EQ(GetDpiForWindow(edit), 96u);
        SetWindowPos(edit, nullptr, 0, 0, 200, c.height, SWP_NOMOVE | SWP_NOZORDER);
        ASSERT_NE(Style(edit, 16), 0);
        Insets insets = ClientInsets(edit);
        EXPECT_EQ(insets.left, 8);
        EXPECT_EQ(insets.top, c.topAt96);
        SetThreadDpiAwarenessContext(previous);

        ASSERT_NE(SetParent(edit, at144.Get()), nullptr);
        ASSERT_EQ(GetDpiForWindow(edit), 144u);
        RECT rect;
        GetWindowRect(edit, &rect);
        ASSERT_EQ(rect.bottom - rect.top, c.height);  // the window keeps its pixel size
        // SetParent alone leaves the frame as computed at 96: the message is what rescales it.
        ASSERT_EQ(ClientInsets(edit).left, 8);
        SendMessageW(edit, WM_DPICHANGED_AFTERPARENT, 0, 0);
        insets = ClientInsets(edit);
        EXPECT_EQ(insets.left, 12);
        EXPECT_EQ(insets.right, 12);
        EXPECT_EQ(insets.top, c.topAt144);
        EXPECT_EQ(insets.bottom, c.topAt144);
    }
}

}  // namespace
