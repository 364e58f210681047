// Test-bed tool: uses a running NSIS installer the way a keyboard and a screen reader user do,
// from another process (under Xvfb, where real key presses reach the installer's window).
//   nsis_keys.exe focus            prints the page shown and the focused control:
//                                  "PAGE ID CLASS TEXT" (UTF-8), or "PAGE none"
//   nsis_keys.exe press KEY...     presses keys in turn: tab, shift+tab, enter, esc, alt+L (a
//                                  letter or digit); each goes to whatever window has the focus
//   nsis_keys.exe rect ID          prints the screen rectangle "LEFT TOP RIGHT BOTTOM" of the
//                                  shown control ID below the main window (main: its client
//                                  area, page: the page shown, focus: the focused control)
//   nsis_keys.exe msaa ID          prints the accessible name and value of the shown control ID
//                                  (focus: the focused control), read through oleacc:
//                                  "NAME|VALUE" ("-" for none)
//   nsis_keys.exe bar ID           prints the progress bar ID's range and position: "LOW HIGH POS"
//   nsis_keys.exe events SECONDS   prints, for SECONDS, each name change the installer announces
//                                  for a control's client object: "ID TEXT"
//   nsis_keys.exe windows          prints the installer's shown top-level windows: "CLASS TITLE"
// Exit 0 on success, 1 when no installer (or no such control) was found, 2 for bad arguments.
// NSIS_PILOT_EXE selects the installer as for nsis_pilot.exe.
#include <windows.h>

#include <commctrl.h>
#include <oleacc.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "installer_window.h"

namespace {

void PrintUtf8(const wchar_t* text)
{
    char utf8[4096];
    if (WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr) > 0) std::printf("%s", utf8);
}

std::wstring TextOf(HWND window)
{
    wchar_t text[1024] = L"";
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000, &copied);
    return text;
}

struct Search {
    int id;
    HWND found;
};

BOOL CALLBACK FindShownControl(HWND window, LPARAM data)
{
    auto* search = reinterpret_cast<Search*>(data);
    if (GetDlgCtrlID(window) == search->id && IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND Focused(HWND main)
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(main, nullptr), &info);
    return info.hwndFocus;
}

// The shown control with id below the main window, or the focused control for "focus".
HWND ShownControl(HWND main, const wchar_t* which)
{
    if (wcscmp(which, L"focus") == 0) return Focused(main);
    Search search = {_wtoi(which), nullptr};
    EnumChildWindows(main, FindShownControl, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

int Focus(HWND main)
{
    GUITHREADINFO info = {};
    info.hwndFocus = Focused(main);
    std::printf("%s ", InstallerPageKind(main));
    if (info.hwndFocus == nullptr) {
        std::printf("none\n");
        return 0;
    }
    wchar_t cls[64] = {};
    GetClassNameW(info.hwndFocus, cls, 64);
    std::printf("%d %ls ", GetDlgCtrlID(info.hwndFocus), cls);
    PrintUtf8(TextOf(info.hwndFocus).c_str());
    std::printf("\n");
    return 0;
}

void Key(WORD key, bool up)
{
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &input, sizeof input);
}

void Chord(WORD modifier, WORD key)
{
    if (modifier != 0) Key(modifier, false);
    Key(key, false);
    Key(key, true);
    if (modifier != 0) Key(modifier, true);
}

bool Press(const wchar_t* name)
{
    if (wcscmp(name, L"tab") == 0) {
        Chord(0, VK_TAB);
    } else if (wcscmp(name, L"shift+tab") == 0) {
        Chord(VK_SHIFT, VK_TAB);
    } else if (wcscmp(name, L"enter") == 0) {
        Chord(0, VK_RETURN);
    } else if (wcscmp(name, L"esc") == 0) {
        Chord(0, VK_ESCAPE);
    } else if (wcsncmp(name, L"alt+", 4) == 0 && wcslen(name) == 5 && iswalnum(name[4])) {
        Chord(VK_MENU, static_cast<WORD>(towupper(name[4])));
    } else {
        return false;
    }
    Sleep(150);
    return true;
}

int Rect(HWND main, const wchar_t* which)
{
    RECT rect = {};
    if (wcscmp(which, L"main") == 0) {
        GetClientRect(main, &rect);
        MapWindowPoints(main, nullptr, reinterpret_cast<POINT*>(&rect), 2);
    } else if (wcscmp(which, L"page") == 0) {
        HWND page = InstallerPage(main);
        if (page == nullptr) return 1;
        GetWindowRect(page, &rect);
    } else {
        HWND control = ShownControl(main, which);
        if (control == nullptr) return 1;
        GetWindowRect(control, &rect);
    }
    std::printf("%ld %ld %ld %ld\n", rect.left, rect.top, rect.right, rect.bottom);
    return 0;
}

std::wstring Property(IAccessible* object, bool value)
{
    VARIANT self;
    VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR text = nullptr;
    HRESULT result = value ? object->get_accValue(self, &text) : object->get_accName(self, &text);
    std::wstring out = result == S_OK && text != nullptr ? text : L"-";
    SysFreeString(text);
    return out;
}

int Msaa(HWND main, const wchar_t* which)
{
    HWND control = ShownControl(main, which);
    if (control == nullptr) return 1;
    IAccessible* object = nullptr;
    if (FAILED(AccessibleObjectFromWindow(control, static_cast<DWORD>(OBJID_CLIENT), IID_IAccessible,
                                          reinterpret_cast<void**>(&object))) ||
        object == nullptr) {
        return 1;
    }
    PrintUtf8((Property(object, false) + L"|" + Property(object, true)).c_str());
    std::printf("\n");
    object->Release();
    return 0;
}

int Bar(HWND main, const wchar_t* which)
{
    HWND bar = ShownControl(main, which);
    if (bar == nullptr) return 1;
    DWORD_PTR low = 0, high = 0, position = 0;
    SendMessageTimeoutW(bar, PBM_GETRANGE, TRUE, 0, SMTO_ABORTIFHUNG, 2000, &low);
    SendMessageTimeoutW(bar, PBM_GETRANGE, FALSE, 0, SMTO_ABORTIFHUNG, 2000, &high);
    SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 2000, &position);
    std::printf("%d %d %d\n", static_cast<int>(low), static_cast<int>(high), static_cast<int>(position));
    return 0;
}

void CALLBACK PrintEvent(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG child, DWORD, DWORD)
{
    if (window == nullptr || object != OBJID_CLIENT || child != CHILDID_SELF) return;
    std::printf("%d ", GetDlgCtrlID(window));
    PrintUtf8(TextOf(window).c_str());
    std::printf("\n");
    std::fflush(stdout);
}

int Events(HWND main, int seconds)
{
    DWORD process = 0;
    GetWindowThreadProcessId(main, &process);
    HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_NAMECHANGE, EVENT_OBJECT_NAMECHANGE, nullptr, PrintEvent,
                                         process, 0, WINEVENT_OUTOFCONTEXT);
    if (hook == nullptr) return 1;
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
    while (GetTickCount64() < end) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
    UnhookWinEvent(hook);
    return 0;
}

struct Listing {
    DWORD process;
};

BOOL CALLBACK PrintTopLevel(HWND window, LPARAM data)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != reinterpret_cast<Listing*>(data)->process || !IsWindowVisible(window)) return TRUE;
    wchar_t cls[64] = {};
    GetClassNameW(window, cls, 64);
    std::printf("%ls ", cls);
    PrintUtf8(TextOf(window).c_str());
    std::printf("\n");
    return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 4096);
    if (argc < 2) return 2;
    HWND main = FindInstaller();
    if (main == nullptr) return 1;
    const std::wstring command = argv[1];
    if (command == L"focus" && argc == 2) return Focus(main);
    if (command == L"press" && argc >= 3) {
        for (int i = 2; i < argc; ++i) {
            if (!Press(argv[i])) return 2;
        }
        return 0;
    }
    if (command == L"rect" && argc == 3) return Rect(main, argv[2]);
    if (command == L"msaa" && argc == 3) {
        CoInitialize(nullptr);
        const int result = Msaa(main, argv[2]);
        CoUninitialize();
        return result;
    }
    if (command == L"bar" && argc == 3) return Bar(main, argv[2]);
    if (command == L"events" && argc == 3) return _wtoi(argv[2]) > 0 ? Events(main, _wtoi(argv[2])) : 2;
    if (command == L"windows" && argc == 2) {
        Listing listing = {};
        GetWindowThreadProcessId(main, &listing.process);
        EnumWindows(PrintTopLevel, reinterpret_cast<LPARAM>(&listing));
        return 0;
    }
    return 2;
}
