// Inputs a host can get wrong: windows that belong to another thread, no window at all, and
// corner radii outside any sensible range. Every case goes through the exports.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <climits>
#include <string>
#include <vector>

#include "skinning/style.h"
#include "support/dialog_template.h"
#include "support/own_desktop.h"
#include "support/skin_windows.h"

using namespace skintest;

namespace {

// Frames are painted by whether the field has the focus.
const auto* const ownDesktop = ::testing::AddGlobalTestEnvironment(new OwnDesktop(L"qel-host-mistakes"));

constexpr COLORREF kBase = RGB(0xF4, 0xF0, 0xE8);
constexpr COLORREF kBand = RGB(0x20, 0x40, 0x80);
constexpr COLORREF kPicture = RGB(0xE0, 0x90, 0x30);

// A page with every control the exports look for, made and owned by a thread of its own that
// keeps its messages flowing until it is told to end.
class ForeignPage {
public:
    ForeignPage()
    {
        desktop_ = GetThreadDesktop(GetCurrentThreadId());
        ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        done_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        thread_ = CreateThread(nullptr, 0, &ForeignPage::Run, this, 0, nullptr);
        WaitForSingleObject(ready_, 10000);
    }
    ~ForeignPage()
    {
        SetEvent(done_);
        WaitForSingleObject(thread_, 10000);
        CloseHandle(thread_);
        CloseHandle(ready_);
        CloseHandle(done_);
    }
    HWND page = nullptr;
    HWND Item(int id) const { return GetDlgItem(page, id); }

private:
    static DWORD WINAPI Run(void* self)
    {
        auto* me = static_cast<ForeignPage*>(self);
        SetThreadDesktop(me->desktop_);  // the test's own desktop, where its windows are
        me->page = CreateDialogFromTemplate(
            nullptr, WS_POPUP | WS_VISIBLE, 300, 180,
            {{L"STATIC", L"One", SS_LEFT, 120, 10, 60, 8, 10},
             {L"STATIC", L"Two", SS_LEFT, 120, 20, 60, 8, 11},
             {L"STATIC", L"Three", SS_LEFT, 120, 30, 60, 8, 12},
             {L"BUTTON", L"Next", BS_PUSHBUTTON, 120, 40, 40, 14, 1},
             {L"BUTTON", L"Cancel", BS_PUSHBUTTON, 170, 40, 30, 14, 2},
             {L"BUTTON", L"Back", BS_PUSHBUTTON, 210, 40, 30, 14, 3},
             {L"EDIT", L"text", WS_BORDER, 120, 60, 100, 14, 15},
             {L"msctls_progress32", L"", 0, 120, 80, 100, 10, 16},
             {L"BUTTON", L"Details", BS_PUSHBUTTON, 120, 100, 40, 14, 1027},
             {L"LISTBOX", L"", 0, 120, 120, 100, 30, 1016}});
        SetEvent(me->ready_);
        while (MsgWaitForMultipleObjects(1, &me->done_, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        }
        DestroyWindow(me->page);
        return 0;
    }
    HANDLE ready_ = nullptr, done_ = nullptr, thread_ = nullptr;
    HDESK desktop_ = nullptr;
};

// What a call could change on a window, read through messages any thread may send.
struct Look {
    LONG_PTR style, exStyle;
    std::wstring text;
    LRESULT font;
    RECT place;
    int children;
    bool operator==(const Look& o) const
    {
        return style == o.style && exStyle == o.exStyle && text == o.text && font == o.font &&
               EqualRect(&place, &o.place) && children == o.children;
    }
};

BOOL CALLBACK CountChild(HWND, LPARAM count)
{
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

Look LookOf(HWND window)
{
    Look look;
    look.style = GetWindowLongPtrW(window, GWL_STYLE);
    look.exStyle = GetWindowLongPtrW(window, GWL_EXSTYLE);
    wchar_t text[64] = L"";
    GetWindowTextW(window, text, 64);
    look.text = text;
    look.font = SendMessageW(window, WM_GETFONT, 0, 0);
    GetWindowRect(window, &look.place);
    look.children = 0;
    EnumChildWindows(window, CountChild, reinterpret_cast<LPARAM>(&look.children));
    return look;
}

TEST(ForeignThread, EveryExportRefusesAndChangesNothing)
{
    INITCOMMONCONTROLSEX init = {sizeof init, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&init);
    ForeignPage other;
    ASSERT_NE(other.page, nullptr);
    ASSERT_NE(GetWindowThreadProcessId(other.page, nullptr), GetCurrentThreadId());
    const int ids[] = {0, 10, 11, 12, 1, 2, 3, 15, 16, 1027, 1016};
    auto window = [&](int id) { return id == 0 ? other.page : other.Item(id); };
    std::vector<Look> before;
    for (int id : ids) before.push_back(LookOf(window(id)));

    HBITMAP bitmap = MakeIndexedBitmap(8, 8, 1, std::vector<COLORREF>(256, RGB(1, 2, 3)));
    HFONT font = reinterpret_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    EXPECT_EQ(StylePage(other.page, bitmap, kBase, kBand, kPicture, 40, 0, 0, 10, 10, 100), 0);
    EXPECT_EQ(StylePrompt(other.page, other.Item(10), other.Item(11), other.Item(12), other.Item(1),
                          other.Item(2), 1, 4), 0);
    EXPECT_EQ(StyleButton(other.Item(1), 1, 2, 3, 4, 5, 6, 7, 0, 4), 0);
    EXPECT_EQ(StyleInput(other.Item(15), 1, 2, 3, 4, 4, 13), 0);
    EXPECT_EQ(StyleWindow(other.page, RGB(0, 0, 0), RGB(255, 255, 255)), 0);
    EXPECT_EQ(StyleWindowFrame(other.page), 0);
    EXPECT_EQ(StylePreviewProgress(other.Item(16)), 0);
    EXPECT_EQ(HideProgressDetails(other.page), 0);
    EXPECT_EQ(CreateFailureClose(other.page, font), nullptr);
    EXPECT_EQ(CreateFailureText(other.page, font, L"failed"), nullptr);
    HFONT mine = CreateFontW(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"Tahoma");
    const HFONT pageFont = reinterpret_cast<HFONT>(SendMessageW(other.page, WM_GETFONT, 0, 0));
    EXPECT_EQ(FontForDpi(other.page, pageFont, L"Tahoma", 9, FW_NORMAL), nullptr);
    EXPECT_EQ(GetObjectType(pageFont), static_cast<DWORD>(OBJ_FONT)) << "the page's font was deleted";
    EXPECT_EQ(FontLineHeight(other.page, mine), 0);

    for (size_t i = 0; i < before.size(); ++i) {
        EXPECT_TRUE(LookOf(window(ids[i])) == before[i]) << "control " << ids[i] << " changed";
    }
    // The frozen-bar subclass would have set the range 0..100 and the position 0.
    SendMessageW(other.Item(16), PBM_SETPOS, 55, 0);
    EXPECT_EQ(SendMessageW(other.Item(16), PBM_GETPOS, 0, 0), 55);
    // Hidden-for-good controls would refuse to show again.
    ShowWindow(other.Item(1027), SW_HIDE);
    ShowWindow(other.Item(1027), SW_SHOW);
    EXPECT_TRUE(IsWindowVisible(other.Item(1027)));
    DeleteObject(mine);
    DeleteObject(bitmap);
}

TEST(FontLineHeight, NoWindowIsNoLineHeight)
{
    HFONT font = CreateFontW(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"Tahoma");
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(FontLineHeight(nullptr, font), 0);
    TestDialog dialog({});
    EXPECT_GT(FontLineHeight(dialog.Get(), font), 0) << "a real window still measures";
    DeleteObject(font);
}

// ---- Radii ---------------------------------------------------------------------------------

// A skinned page with a styled button on it, drawn whole into a canvas for a given radius.
std::vector<uint32_t> ButtonWithRadius(int radius)
{
    HWND page = CreateDialogFromTemplate(nullptr, WS_POPUP, 100, 100,
                                         {{L"BUTTON", L"OK", BS_PUSHBUTTON, 0, 0, 40, 14, 1}});
    Place(page, 0, 0, 300, 200);
    HWND button = GetDlgItem(page, 1);
    Place(button, 20, 20, 120, 40);
    HBITMAP bitmap = MakeIndexedBitmap(4, 4, 0, std::vector<COLORREF>(256, RGB(0, 128, 0)));
    StylePage(page, bitmap, kBase, kBand, kPicture, 10, 0, 0, 10, 10, 0);
    EXPECT_EQ(StyleButton(button, RGB(0, 0, 200), RGB(0, 0, 100), RGB(255, 255, 0), RGB(90, 90, 90),
                          RGB(200, 0, 0), RGB(40, 40, 40), RGB(0, 200, 0), 0, radius), 1);
    Canvas canvas(120, 40);
    Paint(button, canvas);
    std::vector<uint32_t> pixels = canvas.Pixels();
    DestroyWindow(page);
    DeleteObject(bitmap);
    return pixels;
}

TEST(Radius, HugeButtonRadiusStaysRoundAndNegativeIsSquare)
{
    const std::vector<uint32_t> square = ButtonWithRadius(0);
    const std::vector<uint32_t> round = ButtonWithRadius(1000);  // already wider than the button
    ASSERT_NE(square, round);
    EXPECT_EQ(ButtonWithRadius(0x3FFFFFFF), round);
    EXPECT_EQ(ButtonWithRadius(0x40000000), round) << "twice the radius overflowed";
    EXPECT_EQ(ButtonWithRadius(0x7FFFFFFF), round);
    EXPECT_EQ(ButtonWithRadius(-5), square);
    EXPECT_EQ(ButtonWithRadius(INT_MIN), square);
}

std::vector<DWORD> FieldWithRadius(int radius)
{
    TestDialog dialog({{L"EDIT", 100, WS_BORDER | ES_AUTOHSCROLL, 10, 10, 120, 20, L"text"}});
    HWND edit = dialog.Item(100);
    EXPECT_NE(StyleInput(edit, RGB(10, 20, 30), RGB(250, 240, 230), RGB(0, 128, 255), RGB(255, 64, 0),
                         radius, 13), 0);
    RedrawWindow(edit, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_UPDATENOW);
    PumpMessages();
    return CaptureWindow(edit).pixels;
}

TEST(Radius, HugeFieldRadiusStaysRoundAndNegativeIsSquare)
{
    const std::vector<DWORD> square = FieldWithRadius(0);
    const std::vector<DWORD> round = FieldWithRadius(1000);
    ASSERT_NE(square, round);
    EXPECT_EQ(FieldWithRadius(0x40000000), round) << "twice the radius overflowed";
    EXPECT_EQ(FieldWithRadius(-7), square);
}

std::vector<uint32_t> CardWithRadius(int radius)
{
    HWND page = CreateDialogFromTemplate(nullptr, WS_POPUP, 100, 100,
                                         {{L"STATIC", L"One", SS_LEFT, 0, 0, 40, 8, 11},
                                          {L"STATIC", L"Two", SS_LEFT, 0, 10, 40, 8, 12},
                                          {L"STATIC", L"Three", SS_LEFT, 0, 20, 40, 8, 13},
                                          {L"BUTTON", L"Yes", BS_PUSHBUTTON, 0, 30, 40, 14, 1},
                                          {L"BUTTON", L"No", BS_PUSHBUTTON, 50, 30, 40, 14, 2}});
    Place(page, 0, 0, 480, 400);
    HBITMAP bitmap = MakeIndexedBitmap(4, 4, 0, std::vector<COLORREF>(256, RGB(0, 128, 0)));
    StylePage(page, bitmap, kBase, kBand, kPicture, 20, 0, 0, 10, 10, 0);
    EXPECT_EQ(StylePrompt(page, GetDlgItem(page, 11), GetDlgItem(page, 12), GetDlgItem(page, 13),
                          GetDlgItem(page, 1), GetDlgItem(page, 2), 1, radius), 1);
    Canvas canvas(480, 400);
    Paint(page, canvas);
    std::vector<uint32_t> pixels = canvas.Pixels();
    DestroyWindow(page);
    DeleteObject(bitmap);
    return pixels;
}

TEST(Radius, HugeCardRadiusStaysRound)
{
    const std::vector<uint32_t> square = CardWithRadius(0);
    const std::vector<uint32_t> round = CardWithRadius(5000);
    ASSERT_NE(square, round);
    EXPECT_EQ(CardWithRadius(0x40000000), round) << "twice the radius overflowed";
    EXPECT_EQ(CardWithRadius(0x7FFFFFFF), round);
}

}  // namespace
