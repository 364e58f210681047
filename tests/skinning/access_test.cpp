// What a screen reader gets from styled windows through MSAA (oleacc's AccessibleObjectFromWindow):
// styled buttons keep their captions as names (the mnemonic as "Alt+" shortcut), the prompt's
// texts, the status line and the failure text keep theirs, and the frozen progress bar holds
// the percentage a progress-bar proxy reads.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>
#include <oleacc.h>

#include <string>
#include <vector>

#include "skinning/style.h"
#include "support/dialog_template.h"
#include "support/skin_windows.h"

namespace {

constexpr COLORREF kBase = RGB(0xF4, 0xF0, 0xE8);
constexpr COLORREF kBand = RGB(0x20, 0x40, 0x80);
constexpr COLORREF kPicture = RGB(0xE0, 0x90, 0x30);

class Com {
public:
    Com() { CoInitialize(nullptr); }
    ~Com() { CoUninitialize(); }
};

// One property of a window's client object, as text; "(none)" when the object has no such
// property (S_FALSE) and "(error)" when it could not be read.
enum class Property { Name, Value, Shortcut };
std::wstring Read(HWND window, Property property)
{
    IAccessible* object = nullptr;
    if (FAILED(AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT), IID_IAccessible,
                                          reinterpret_cast<void**>(&object))) ||
        object == nullptr) {
        return L"(error)";
    }
    VARIANT self;
    VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR text = nullptr;
    HRESULT result = E_FAIL;
    switch (property) {
    case Property::Name: result = object->get_accName(self, &text); break;
    case Property::Value: result = object->get_accValue(self, &text); break;
    case Property::Shortcut: result = object->get_accKeyboardShortcut(self, &text); break;
    }
    object->Release();
    std::wstring out = result == S_OK && text != nullptr ? std::wstring(text) : result == S_FALSE ? L"(none)" : L"(error)";
    SysFreeString(text);
    return out;
}
std::wstring Name(HWND window) { return Read(window, Property::Name); }

// A skinned page like the example's welcome page: three texts and two styled buttons laid out
// as the prompt card, and a plain button.
struct Welcome {
    HWND page = nullptr;
    HBITMAP picture = nullptr;
    Welcome()
    {
        page = skintest::CreateDialogFromTemplate(
            nullptr, WS_POPUP | WS_VISIBLE, 320, 200,
            {{L"STATIC", L"欢迎安装示例应用", SS_LEFT, 0, 0, 100, 12, 10},
             {L"STATIC", L"从服务器下载应用包， 校验后安装。", SS_LEFT, 0, 14, 100, 24, 11},
             {L"STATIC", L"安装中可随时取消。", SS_LEFT, 0, 40, 100, 12, 12},
             {L"BUTTON", L"开始安装(&S)", BS_PUSHBUTTON | WS_TABSTOP, 0, 56, 56, 14, 13},
             {L"BUTTON", L"退出(&X)", BS_PUSHBUTTON | WS_TABSTOP, 60, 56, 36, 14, 14},
             {L"BUTTON", L"取消(&C)", BS_PUSHBUTTON | WS_TABSTOP, 10, 180, 50, 14, 2}});
        picture = skintest::MakeIndexedBitmap(4, 4, 0, std::vector<COLORREF>(256, RGB(0, 128, 0)));
    }
    ~Welcome()
    {
        DestroyWindow(page);
        DeleteObject(picture);
    }
    HWND Item(int id) const { return GetDlgItem(page, id); }
    bool Style() const
    {
        if (StylePage(page, picture, kBase, kBand, kPicture, 90, 12, 16, 66, 66, 255) != 1) return false;
        for (int id : {13, 14, 2}) {
            if (StyleButton(Item(id), kBand, RGB(0x34, 0x55, 0x96), RGB(255, 255, 255), RGB(200, 200, 200), kBand,
                            RGB(128, 128, 128), RGB(0xE8, 0xA0, 0x30), 1, 5) != 1) {
                return false;
            }
        }
        return StylePrompt(page, Item(10), Item(11), Item(12), Item(13), Item(14), 1, 8) == 1;
    }
};

TEST(Accessibility, StyledButtonsAndPromptTextsKeepTheirNames)
{
    Com com;
    Welcome welcome;
    ASSERT_TRUE(welcome.Style());
    const RECT before = skintest::RectIn(welcome.Item(10), welcome.page);
    ASSERT_NE(before.left, 0) << "the prompt was not laid out";
    struct Expected {
        int id;
        const wchar_t *name, *shortcut;
    } const expected[] = {{10, L"欢迎安装示例应用", L"(none)"},
                          {11, L"从服务器下载应用包， 校验后安装。", L"(none)"},
                          {12, L"安装中可随时取消。", L"(none)"},
                          {13, L"开始安装(S)", L"Alt+S"},
                          {14, L"退出(X)", L"Alt+X"},
                          {2, L"取消(C)", L"Alt+C"}};
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.id);
        EXPECT_EQ(Name(welcome.Item(e.id)), e.name);
        EXPECT_EQ(Read(welcome.Item(e.id), Property::Shortcut), e.shortcut);
    }
}

TEST(Accessibility, StatusLineNamesItsCurrentText)
{
    Com com;
    TestDialog dialog({{L"STATIC", 1006, SS_LEFT, 10, 10, 200, 10, L"正在准备应用包…"},
                       {L"msctls_progress32", 1004, 0, 10, 30, 200, 10, L""}});
    HWND status = dialog.Item(1006);
    ASSERT_NE(StyleStatusLine(status), 0);
    EXPECT_EQ(Name(status), L"正在准备应用包…");
    SetWindowTextW(status, L"已下载 12.35 / 45.68 MB");
    EXPECT_EQ(Name(status), L"已下载 12.35 / 45.68 MB");
}

// The failure text is a read-only edit box. An edit's accessible value is its text; its name is
// the text of the static created just before it (as for a labelled field), which is how a host
// names it.
TEST(Accessibility, FailureTextIsTheValueOfItsBoxAndTheNameOfItsLabel)
{
    Com com;
    TestDialog dialog({{L"BUTTON", 1, WS_TABSTOP, 120, 106, 50, 14, L"Next"},
                       {L"BUTTON", 2, WS_TABSTOP, 230, 106, 50, 14, L"Cancel"},
                       {L"BUTTON", 3, WS_TABSTOP, 175, 106, 50, 14, L"Back"}});
    const wchar_t* failure = L"应用包 SHA-256 校验失败，未开始安装。";
    auto font = reinterpret_cast<HFONT>(SendMessageW(dialog.Get(), WM_GETFONT, 0, 0));
    HWND label = CreateWindowExW(0, L"STATIC", failure, WS_CHILD | SS_NOPREFIX, 0, 0, 10, 10, dialog.Get(), nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(label, nullptr);
    HWND text = CreateFailureText(dialog.Get(), font, failure);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(Read(text, Property::Value), failure);
    EXPECT_EQ(Name(text), failure);
    HWND close = CreateFailureClose(dialog.Get(), font);
    ASSERT_NE(close, nullptr);
    EXPECT_EQ(Name(close), L"关闭");
}

// A progress-bar proxy (oleacc's on Windows) gives the position as a percentage of the range it
// reads from the bar. The frozen bar keeps the delivery's position there, whatever the host's
// own progress messages say.
TEST(Accessibility, FrozenBarHoldsThePercentageItsProxyReads)
{
    Com com;
    INITCOMMONCONTROLSEX init = {sizeof init, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&init);
    TestDialog dialog({{L"STATIC", 1006, SS_LEFT, 10, 10, 200, 10, L"已下载 4.20 / 10.00 MB"},
                       {L"msctls_progress32", 1004, 0, 10, 30, 200, 10, L""}});
    HWND bar = dialog.Item(1004);
    ASSERT_NE(StylePreviewProgress(bar), 0);
    SendMessageW(bar, WM_PREVIEW_SETPOS, 42, 0);
    SendMessageW(bar, PBM_SETRANGE32, 0, 30000);  // what an installer does for its own progress
    SendMessageW(bar, PBM_SETPOS, 20000, 0);
    PBRANGE range = {};
    SendMessageW(bar, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    const LRESULT position = SendMessageW(bar, PBM_GETPOS, 0, 0);
    ASSERT_EQ(range.iLow, 0);
    ASSERT_EQ(range.iHigh, 100);
    EXPECT_EQ(position, 42);
    const std::wstring value = Read(bar, Property::Value);
    // Wine's oleacc has no progress-bar proxy (the value is missing); where one answers, it is
    // the percentage.
    if (value != L"(none)") {
        EXPECT_EQ(value, L"42%");
    }
}

}  // namespace
