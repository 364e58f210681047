// The failure page by keyboard: the failure text box (a multi-line edit on the installer's inner
// page) lets Tab, Shift+Tab, Enter and Esc go to the dialog manager of the main window, as in an
// installer whose message loop runs IsDialogMessage on its main window; arrows and page keys
// stay with the box for scrolling.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <vector>

#include "skinning/style.h"
#include "support/dialog_template.h"
#include "support/own_desktop.h"
#include "support/skin_windows.h"

namespace {

const auto* const ownDesktop = ::testing::AddGlobalTestEnvironment(new OwnDesktop(L"qel-failure-keys"));

std::vector<WPARAM> commands;
LRESULT CALLBACK RecordCommands(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR)
{
    if (message == WM_COMMAND) commands.push_back(wParam);
    return DefSubclassProc(window, message, wParam, lParam);
}

// An installer's main window (buttons 1, 2, 3) with its page inside, a child dialog that holds
// the failure text as NSIS's custom pages do; the close button is the main window's.
struct FailurePage {
    HWND main = nullptr, page = nullptr, close = nullptr, text = nullptr;
    FailurePage()
    {
        main = skintest::CreateDialogFromTemplate(nullptr, WS_POPUP | WS_VISIBLE, 300, 140,
                                                  {{L"BUTTON", L"Next", BS_PUSHBUTTON | WS_TABSTOP, 160, 120, 40, 14, 1},
                                                   {L"BUTTON", L"Cancel", BS_PUSHBUTTON | WS_TABSTOP, 10, 120, 40, 14, 2},
                                                   {L"BUTTON", L"Back", BS_PUSHBUTTON | WS_TABSTOP, 110, 120, 40, 14, 3}});
        page = skintest::CreateDialogFromTemplate(main, WS_CHILD | WS_VISIBLE | DS_CONTROL, 280, 100, {});
        SetWindowLongW(page, GWL_EXSTYLE, GetWindowLongW(page, GWL_EXSTYLE) | WS_EX_CONTROLPARENT);
        auto font = reinterpret_cast<HFONT>(SendMessageW(main, WM_GETFONT, 0, 0));
        close = CreateFailureClose(main, font);
        text = CreateFailureText(page, font, L"应用包 SHA-256 校验失败，未开始安装。");
        SendMessageW(main, DM_SETDEFID, FAILURE_CLOSE_ID, 0);
        SetWindowSubclass(main, RecordCommands, 3, 0);
        commands.clear();
    }
    ~FailurePage() { DestroyWindow(main); }

    // A key as the installer's message loop handles it: through IsDialogMessage on the main
    // window, dispatched when the dialog manager does not take it.
    void Key(WPARAM key, bool shift = false) const
    {
        BYTE keys[256] = {};
        GetKeyboardState(keys);
        keys[VK_SHIFT] = shift ? 0x80 : 0;
        SetKeyboardState(keys);
        MSG message = {GetFocus(), WM_KEYDOWN, key, 1, GetTickCount(), {}};
        if (!IsDialogMessageW(main, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        keys[VK_SHIFT] = 0;
        SetKeyboardState(keys);
        PumpMessages();
    }
};

TEST(FailureKeys, TabLeavesTheTextBoxBothWays)
{
    FailurePage f;
    ASSERT_NE(f.close, nullptr);
    ASSERT_NE(f.text, nullptr);
    SetFocus(f.text);
    ASSERT_EQ(GetFocus(), f.text);
    f.Key(VK_TAB);
    EXPECT_EQ(GetFocus(), f.close) << "Tab stayed in the failure text";
    f.Key(VK_TAB);
    EXPECT_EQ(GetFocus(), f.text) << "Tab from the close button";
    f.Key(VK_TAB, true);
    EXPECT_EQ(GetFocus(), f.close) << "Shift+Tab stayed in the failure text";
}

TEST(FailureKeys, EnterAndEscInTheTextBoxReachTheMainWindow)
{
    FailurePage f;
    SetFocus(f.text);
    f.Key(VK_RETURN);
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(LOWORD(commands[0]), FAILURE_CLOSE_ID) << "Enter is the default button's";
    commands.clear();
    SetFocus(f.text);
    f.Key(VK_ESCAPE);
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(LOWORD(commands[0]), IDCANCEL);
}

TEST(FailureKeys, ArrowsAndPageKeysStayWithTheBox)
{
    FailurePage f;
    SetFocus(f.text);
    MSG down = {f.text, WM_KEYDOWN, VK_DOWN, 1, 0, {}};
    const LRESULT code = SendMessageW(f.text, WM_GETDLGCODE, VK_DOWN, reinterpret_cast<LPARAM>(&down));
    EXPECT_NE(code & DLGC_WANTARROWS, 0);
    EXPECT_EQ(code & DLGC_WANTALLKEYS, 0);
    f.Key(VK_DOWN);
    f.Key(VK_NEXT);
    EXPECT_EQ(GetFocus(), f.text);
    EXPECT_TRUE(commands.empty());
}

}  // namespace
