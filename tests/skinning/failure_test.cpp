// The failure page: host buttons hidden for good, the close button, the read-only text box and
// its scroll bar, and clean-up over many pages.
#include <gtest/gtest.h>

#include <string>

#include "skinning/style.h"
#include "support/dialog_template.h"
#include "support/gdi_census.h"
#include "support/skin_subclasses.h"

namespace {

std::vector<DialogItem> HostPage()
{
    return {{L"BUTTON", 1, WS_TABSTOP | BS_DEFPUSHBUTTON, 120, 106, 50, 14, L"Next"},
            {L"BUTTON", 2, WS_TABSTOP, 230, 106, 50, 14, L"Cancel"},
            {L"BUTTON", 3, WS_TABSTOP, 175, 106, 50, 14, L"Back"},
            {L"STATIC", 4, 0, 10, 10, 90, 14, L"page"}};
}

HFONT DialogFont(HWND dialog)
{
    return reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
}

RECT PlaceOf(HWND dialog, int x, int y, int cx, int cy)
{
    RECT place = {x, y, x + cx, y + cy};
    MapDialogRect(dialog, &place);
    return place;
}

std::wstring TextOf(HWND window)
{
    std::wstring text(GetWindowTextLengthW(window) + 1, L'\0');
    text.resize(GetWindowTextW(window, text.data(), static_cast<int>(text.size())));
    return text;
}

std::wstring ClassOf(HWND window)
{
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

TEST(FailureClose, HostButtonsStayHiddenForGood)
{
    TestDialog dialog(HostPage());
    for (int id : {1, 2, 3}) ASSERT_TRUE(IsWindowVisible(dialog.Item(id)));
    ASSERT_NE(CreateFailureClose(dialog.Get(), DialogFont(dialog.Get())), nullptr);
    for (int id : {1, 2, 3}) {
        SCOPED_TRACE(id);
        HWND button = dialog.Item(id);
        EXPECT_FALSE(IsWindowVisible(button));
        ShowWindow(button, SW_SHOW);
        EXPECT_FALSE(IsWindowVisible(button));
        SetWindowPos(button, nullptr, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_SHOWWINDOW);
        EXPECT_FALSE(IsWindowVisible(button));
        EXPECT_FALSE(GetWindowLongW(button, GWL_STYLE) & WS_VISIBLE);
    }
    EXPECT_TRUE(IsWindowVisible(dialog.Item(4)));  // other controls stay as they are
}

TEST(FailureClose, CloseButtonIdCaptionStyleFontAndPlace)
{
    TestDialog dialog(HostPage());
    HFONT font = DialogFont(dialog.Get());
    HWND close = CreateFailureClose(dialog.Get(), font);
    ASSERT_NE(close, nullptr);
    EXPECT_EQ(GetParent(close), dialog.Get());
    EXPECT_EQ(GetDlgCtrlID(close), 0x7111);
    EXPECT_EQ(ClassOf(close), L"Button");
    EXPECT_EQ(TextOf(close), L"关闭");
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(close, GWL_STYLE)), 0x50010001u);
    EXPECT_EQ(GetWindowLongW(close, GWL_EXSTYLE), 0);
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(close, WM_GETFONT, 0, 0)), font);
    EXPECT_EQ(reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(close, GWLP_HINSTANCE)),
              GetModuleHandleW(nullptr));

    const RECT expected = PlaceOf(dialog.Get(), 224, 106, 56, 14);
    const RECT place = RectInParent(close);
    EXPECT_EQ(place.left, expected.left);
    EXPECT_EQ(place.top, expected.top);
    EXPECT_EQ(place.right, expected.right);
    EXPECT_EQ(place.bottom, expected.bottom);
    // "MS Shell Dlg" 8 at 96 DPI has base units 6 x 13: x 224 * 6 / 4, y 106 * 13 / 8 rounded.
    EXPECT_EQ(place.left, MulDiv(224, 6, 4));
    EXPECT_EQ(place.top, MulDiv(106, 13, 8));
    EXPECT_EQ(place.right - place.left, MulDiv(56, 6, 4));
    EXPECT_EQ(place.bottom - place.top, MulDiv(14, 13, 8));
}

TEST(FailureClose, RefusesBadArgumentsAndChangesNothing)
{
    TestDialog dialog(HostPage());
    HFONT font = DialogFont(dialog.Get());
    EXPECT_EQ(CreateFailureClose(nullptr, font), nullptr);
    EXPECT_EQ(CreateFailureClose(dialog.Get(), nullptr), nullptr);
    for (int id : {1, 2, 3}) EXPECT_TRUE(IsWindowVisible(dialog.Item(id)));

    TestDialog missing({{L"BUTTON", 1, 0, 10, 10, 40, 14, L"1"},
                        {L"BUTTON", 3, 0, 60, 10, 40, 14, L"3"}});
    EXPECT_EQ(CreateFailureClose(missing.Get(), font), nullptr);
    EXPECT_TRUE(IsWindowVisible(missing.Item(1)));
    EXPECT_TRUE(IsWindowVisible(missing.Item(3)));
    EXPECT_EQ(GetDlgItem(missing.Get(), 0x7111), nullptr);
}

// Whether the text box shows its vertical scroll bar, as its style and the system report it.
bool ScrollBarShown(HWND box)
{
    SCROLLBARINFO info = {};
    info.cbSize = sizeof info;
    const bool styled = (GetWindowLongW(box, GWL_STYLE) & WS_VSCROLL) != 0;
    const bool infoShown = GetScrollBarInfo(box, OBJID_VSCROLL, &info) &&
                           !(info.rgstate[0] & STATE_SYSTEM_INVISIBLE);
    EXPECT_EQ(styled, infoShown) << "style and scroll bar information disagree";
    return styled;
}

int LineHeightOf(HWND window, HFONT font)
{
    HDC dc = GetDC(window);
    HGDIOBJ previous = SelectObject(dc, font);
    TEXTMETRICW metrics = {};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, previous);
    ReleaseDC(window, dc);
    return metrics.tmHeight;
}

std::wstring Lines(int count)
{
    std::wstring text;
    for (int i = 1; i <= count; ++i) {
        if (i > 1) text += L"\r\n";
        text += L"第 " + std::to_wstring(i) + L" 行";
    }
    return text;
}

TEST(FailureText, ReadOnlyMultiLineWrappingBoxInItsPlace)
{
    TestDialog dialog(HostPage());
    HFONT font = DialogFont(dialog.Get());
    const std::wstring text = L"应用包准备失败，未开始安装。（错误码 5）";
    HWND box = CreateFailureText(dialog.Get(), font, text.c_str());
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(GetParent(box), dialog.Get());
    EXPECT_EQ(GetDlgCtrlID(box), 0);
    EXPECT_EQ(ClassOf(box), L"Edit");
    EXPECT_EQ(TextOf(box), text);
    const DWORD style = GetWindowLongW(box, GWL_STYLE);
    EXPECT_EQ(style & ~WS_VSCROLL, 0x54210844u & ~WS_VSCROLL);
    EXPECT_TRUE(style & ES_READONLY);
    EXPECT_TRUE(style & ES_MULTILINE);
    EXPECT_FALSE(style & ES_AUTOHSCROLL);
    EXPECT_EQ(GetWindowLongW(box, GWL_EXSTYLE), 0);
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(box, WM_GETFONT, 0, 0)), font);
    DWORD start = 99, end = 99;
    SendMessageW(box, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(end, 0u);

    const RECT expected = PlaceOf(dialog.Get(), 114, 54, 166, 46);
    const RECT place = RectInParent(box);
    EXPECT_EQ(place.left, expected.left);
    EXPECT_EQ(place.top, expected.top);
    EXPECT_EQ(place.right, expected.right);
    EXPECT_EQ(place.bottom, expected.bottom);

    // Read-only: typing changes nothing.
    SendMessageW(box, WM_CHAR, L'x', 0);
    EXPECT_EQ(TextOf(box), text);

    // One long line without breaks wraps into several.
    std::wstring longLine;
    for (int i = 0; i < 12; ++i) longLine += L"word" + std::to_wstring(i) + L" ";
    HWND wrapped = CreateFailureText(dialog.Get(), font, longLine.c_str());
    ASSERT_NE(wrapped, nullptr);
    EXPECT_GT(SendMessageW(wrapped, EM_GETLINECOUNT, 0, 0), 1);
}

TEST(FailureText, ScrollBarOnlyWhenTheTextDoesNotFit)
{
    TestDialog dialog(HostPage());
    HFONT font = DialogFont(dialog.Get());
    const RECT place = PlaceOf(dialog.Get(), 114, 54, 166, 46);
    const int height = place.bottom - place.top;
    const int line = LineHeightOf(dialog.Get(), font);
    ASSERT_GT(line, 0);
    const int fitting = height / line;  // the most lines that fit
    ASSERT_GE(fitting, 2);
    for (int count : {1, fitting, fitting + 1, 3 * fitting}) {
        SCOPED_TRACE(count);
        HWND box = CreateFailureText(dialog.Get(), font, Lines(count).c_str());
        ASSERT_NE(box, nullptr);
        ASSERT_EQ(SendMessageW(box, EM_GETLINECOUNT, 0, 0), count);
        EXPECT_EQ(ScrollBarShown(box), count * line > height);
        DestroyWindow(box);
    }
}

TEST(FailureText, RefusesBadArguments)
{
    TestDialog dialog(HostPage());
    HFONT font = DialogFont(dialog.Get());
    EXPECT_EQ(CreateFailureText(nullptr, font, L"x"), nullptr);
    EXPECT_EQ(CreateFailureText(dialog.Get(), nullptr, L"x"), nullptr);
    EXPECT_EQ(CreateFailureText(dialog.Get(), font, nullptr), nullptr);
    EXPECT_EQ(CreateFailureText(dialog.Get(), font, L""), nullptr);
    EXPECT_EQ(GetWindow(dialog.Get(), GW_CHILD), dialog.Item(1));  // no child added
    int children = 0;
    for (HWND c = GetWindow(dialog.Get(), GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) ++children;
    EXPECT_EQ(children, 4);
}

TEST(FailurePage, SubclassesRemovedAndNoGdiObjectsLeftOverManyPages)
{
    SubclassWatch subclasses;
    ASSERT_TRUE(subclasses.Active());
    HFONT font = CreateFontW(-11, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0,
                             L"Tahoma");
    std::vector<HWND> hostButtons, textBoxes;
    auto page = [&] {
        TestDialog dialog(HostPage(), false);
        ASSERT_NE(CreateFailureClose(dialog.Get(), font), nullptr);
        HWND text = CreateFailureText(dialog.Get(), font, Lines(12).c_str());
        ASSERT_NE(text, nullptr);
        PumpMessages();
        for (int id : {1, 2, 3}) hostButtons.push_back(dialog.Item(id));
        textBoxes.push_back(text);
    };
    for (int i = 0; i < 5; ++i) page();  // warm-up of Wine's DC cache and the classes
    const long before = LiveGdiObjects();
    ASSERT_GE(before, 0) << "GDI handle table not readable";
    for (int i = 0; i < 500; ++i) page();
    EXPECT_EQ(LiveGdiObjects(), before);
    // The three hidden host buttons and the text box's keys.
    EXPECT_EQ(subclasses.Installed().size(), 4u * 505);
    for (HWND window : hostButtons) {
        ASSERT_TRUE(subclasses.AllRemovedFrom(window));
    }
    for (HWND window : textBoxes) {
        ASSERT_TRUE(subclasses.AllRemovedFrom(window));
    }
    EXPECT_EQ(GetObjectType(font), static_cast<DWORD>(OBJ_FONT));  // the host's font stays
    DeleteObject(font);
}

}  // namespace
