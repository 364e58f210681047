// The status line: each new text is announced as a change of the window's accessible name
// (EVENT_OBJECT_NAMECHANGE for its client object), a repeated text is neither set again nor
// announced, and hosts that set the text from another thread (an installer's section thread)
// are announced the same way. Events are observed through a real out-of-context WinEvent hook.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <string>
#include <vector>

#include "skinning/style.h"
#include "support/dialog_template.h"
#include "support/skin_subclasses.h"

namespace {

constexpr int kStatusId = 1006;

struct Event {
    HWND window;
    LONG object, child;
};
std::vector<Event> events;

void CALLBACK RecordEvent(HWINEVENTHOOK, DWORD event, HWND window, LONG object, LONG child, DWORD, DWORD)
{
    if (event == EVENT_OBJECT_NAMECHANGE) events.push_back({window, object, child});
}

// Name changes of client objects in this process, delivered while this thread pumps messages.
class NameChanges {
public:
    NameChanges()
        : hook_(SetWinEventHook(EVENT_OBJECT_NAMECHANGE, EVENT_OBJECT_NAMECHANGE, nullptr, RecordEvent,
                                GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT))
    {
        events.clear();
    }
    ~NameChanges()
    {
        if (hook_ != nullptr) UnhookWinEvent(hook_);
    }
    bool Active() const { return hook_ != nullptr; }
    // The client-object announcements for window seen so far (pumping first).
    int For(HWND window) const
    {
        for (int i = 0; i < 5; ++i) {
            PumpMessages();
            Sleep(5);
        }
        int count = 0;
        for (const Event& e : events) count += e.window == window && e.object == OBJID_CLIENT && e.child == CHILDID_SELF;
        return count;
    }

private:
    HWINEVENTHOOK hook_;
};

// Counts the WM_SETTEXT messages that reach the static's own procedure (a subclass installed
// before the status line's, so it runs after it).
int textsReachingTheStatic = 0;
LRESULT CALLBACK CountTexts(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR)
{
    if (message == WM_SETTEXT) ++textsReachingTheStatic;
    return DefSubclassProc(window, message, wParam, lParam);
}

std::wstring TextOf(HWND window)
{
    wchar_t text[2048] = L"";
    GetWindowTextW(window, text, 2048);
    return text;
}

std::vector<DialogItem> StatusPage()
{
    return {{L"STATIC", kStatusId, SS_LEFT, 10, 10, 200, 10, L"正在准备应用包…"},
            {L"STATIC", 1007, SS_LEFT, 10, 30, 200, 10, L"other"}};
}

TEST(StatusLine, EachNewTextIsAnnouncedOnceAndRepeatsAreDropped)
{
    TestDialog dialog(StatusPage());
    HWND status = dialog.Item(kStatusId);
    HWND other = dialog.Item(1007);
    NameChanges changes;
    ASSERT_TRUE(changes.Active());
    SetWindowSubclass(status, CountTexts, 5, 0);
    ASSERT_NE(StyleStatusLine(status), 0);

    textsReachingTheStatic = 0;
    EXPECT_TRUE(SetWindowTextW(status, L"正在连接下载服务器…"));
    EXPECT_EQ(TextOf(status), L"正在连接下载服务器…");
    EXPECT_EQ(changes.For(status), 1);
    EXPECT_EQ(textsReachingTheStatic, 1);

    // The host's poll sets the same text again and again: nothing reaches the static.
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(SetWindowTextW(status, L"正在连接下载服务器…"));
    EXPECT_EQ(changes.For(status), 1);
    EXPECT_EQ(textsReachingTheStatic, 1);

    // A text that differs only at its end, or only in length, is new.
    EXPECT_TRUE(SetWindowTextW(status, L"已下载 0.79 / 9.04 MB"));
    EXPECT_TRUE(SetWindowTextW(status, L"已下载 0.79 / 9.05 MB"));
    EXPECT_TRUE(SetWindowTextW(status, L"已下载 0.79 / 9.05 MB "));
    EXPECT_TRUE(SetWindowTextW(status, L""));
    EXPECT_EQ(changes.For(status), 5);
    EXPECT_EQ(textsReachingTheStatic, 5);
    EXPECT_EQ(TextOf(status), L"");

    // Windows that are not status lines are not announced by the skin.
    SetWindowTextW(other, L"changed");
    EXPECT_EQ(changes.For(other), 0);
}

TEST(StatusLine, LongTextsAreAlwaysSet)
{
    TestDialog dialog(StatusPage());
    HWND status = dialog.Item(kStatusId);
    NameChanges changes;
    ASSERT_TRUE(changes.Active());
    ASSERT_NE(StyleStatusLine(status), 0);
    const std::wstring longest(1024, L'x');  // with its terminator, one unit too many to be compared
    const std::wstring compared(1023, L'y');
    for (int i = 0; i < 2; ++i) SetWindowTextW(status, longest.c_str());
    EXPECT_EQ(changes.For(status), 2);
    EXPECT_EQ(TextOf(status), longest);
    for (int i = 0; i < 2; ++i) SetWindowTextW(status, compared.c_str());
    EXPECT_EQ(changes.For(status), 3);
}

// An installer sets the status from its section's thread: the message is handled on the
// window's thread, and announced there.
TEST(StatusLine, TextSetFromAnotherThreadIsAnnounced)
{
    TestDialog dialog(StatusPage());
    HWND status = dialog.Item(kStatusId);
    NameChanges changes;
    ASSERT_TRUE(changes.Active());
    ASSERT_NE(StyleStatusLine(status), 0);
    struct Work {
        HWND status;
        static DWORD WINAPI Run(void* data)
        {
            HWND window = static_cast<Work*>(data)->status;
            SendMessageW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"正在校验应用包完整性…"));
            SendMessageW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"正在校验应用包完整性…"));
            SendMessageW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"应用文件已准备好。"));
            return 0;
        }
    } work = {status};
    HANDLE thread = CreateThread(nullptr, 0, &Work::Run, &work, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, 5000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) PumpMessages();
    CloseHandle(thread);
    EXPECT_EQ(TextOf(status), L"应用文件已准备好。");
    EXPECT_EQ(changes.For(status), 2);
}

TEST(StatusLine, RefusesWhatIsNoWindowOfThisThreadAndLeavesWithTheWindow)
{
    EXPECT_EQ(StyleStatusLine(nullptr), 0);
    HWND gone = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    DestroyWindow(gone);
    EXPECT_EQ(StyleStatusLine(gone), 0);
    HWND desktop = GetDesktopWindow();  // another process's window
    EXPECT_EQ(StyleStatusLine(desktop), 0);

    SubclassWatch watch;
    ASSERT_TRUE(watch.Active());
    TestDialog dialog(StatusPage());
    HWND status = dialog.Item(kStatusId);
    ASSERT_NE(StyleStatusLine(status), 0);
    ASSERT_NE(StyleStatusLine(status), 0);  // a second call installs the same subclass again
    const std::vector<SubclassCall> installed = watch.InstalledOn(status);
    ASSERT_EQ(installed.size(), 2u);
    EXPECT_EQ(installed[0].proc, installed[1].proc);
    EXPECT_EQ(installed[0].id, installed[1].id);
    dialog.Destroy();
    EXPECT_TRUE(watch.AllRemovedFrom(status));
}

}  // namespace
