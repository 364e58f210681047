// Test-bed tool: drives a running NSIS installer the way a user does, from another process.
//   nsis_pilot.exe page              prints the page shown: failure (the close button 0x7111),
//                                    progress, directory, custom or none
//   nsis_pilot.exe next              asks for the next page (the message NSIS's pages send)
//   nsis_pilot.exe status            prints the progress page's status line (UTF-8); exit 1 on
//                                    any other page
//   nsis_pilot.exe progress          prints the progress page's bar position and status line
//   nsis_pilot.exe windows           prints the main window's client size, then every window
//                                    inside it: id, class,
//                                    place in the main window's client area, shown, parent's
//                                    id (0: the main window or a page), text
//   nsis_pilot.exe click ID          clicks the main window's button ID (BM_CLICK)
//   nsis_pilot.exe cancel PREFIX [SECONDS]
//                                    leads the installer to its progress page, waits until the
//                                    status line starts with PREFIX and clicks Cancel (button 2)
//   nsis_pilot.exe box [ID]          prints the text of the installer's message box (UTF-8) and,
//                                    with ID, clicks its button ID (IDRETRY 4, IDCANCEL 2); exit
//                                    1 when the installer shows none
// The installer's main window is a top-level dialog with buttons 1, 2 and 3 and a page (a child
// dialog); the progress page holds the status line 1006 and the bar 1004, the directory page
// the edit 1019. Other pages use 1006 too (the directory page's intro text), so the status
// line is read only on the page that also has the bar. Exit 0 on success, 1 when no installer (or, for cancel, no such status within
// SECONDS, default 60) was found, 2 for bad arguments. With NSIS_PILOT_EXE set to the installer's
// full Windows path, only that program's window is taken (another installer or dialog running
// in the same prefix is left alone).
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cwchar>

namespace {

HWND FindPage(HWND main) { return FindWindowExW(main, nullptr, L"#32770", nullptr); }

// True when NSIS_PILOT_EXE is unset or names the program that owns window.
bool OwnedByTheInstaller(HWND window)
{
    wchar_t wanted[1024];
    DWORD length = GetEnvironmentVariableW(L"NSIS_PILOT_EXE", wanted, 1024);
    if (length == 0 || length >= 1024) return true;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process == nullptr) return false;
    wchar_t image[1024];
    DWORD size = 1024;
    bool same = QueryFullProcessImageNameW(process, 0, image, &size) && lstrcmpiW(image, wanted) == 0;
    CloseHandle(process);
    return same;
}

BOOL CALLBACK FindInstallerProc(HWND window, LPARAM data)
{
    wchar_t cls[32] = {};
    GetClassNameW(window, cls, 32);
    if (wcscmp(cls, L"#32770") != 0 || !IsWindowVisible(window)) return TRUE;
    if (!OwnedByTheInstaller(window)) return TRUE;
    if (FindPage(window) == nullptr || GetDlgItem(window, 1) == nullptr || GetDlgItem(window, 2) == nullptr ||
        GetDlgItem(window, 3) == nullptr)
        return TRUE;
    *reinterpret_cast<HWND*>(data) = window;
    return FALSE;
}

// A message box of the installer: a top-level dialog of its own without a page.
BOOL CALLBACK FindBoxProc(HWND window, LPARAM data)
{
    wchar_t cls[32] = {};
    GetClassNameW(window, cls, 32);
    if (wcscmp(cls, L"#32770") != 0 || !IsWindowVisible(window) || !OwnedByTheInstaller(window)) return TRUE;
    if (FindPage(window) != nullptr || GetDlgItem(window, 0xFFFF) == nullptr) return TRUE;
    *reinterpret_cast<HWND*>(data) = window;
    return FALSE;
}

HWND FindInstaller()
{
    HWND main = nullptr;
    EnumWindows(FindInstallerProc, reinterpret_cast<LPARAM>(&main));
    return main;
}

bool IsProgressPage(HWND page)
{
    wchar_t cls[32] = {};
    HWND bar = page != nullptr ? GetDlgItem(page, 1004) : nullptr;
    return bar != nullptr && GetDlgItem(page, 1006) != nullptr && GetClassNameW(bar, cls, 32) > 0 &&
           wcscmp(cls, L"msctls_progress32") == 0;
}

const char* PageKind(HWND main)
{
    HWND close = GetDlgItem(main, 0x7111);
    if (close != nullptr && IsWindowVisible(close)) return "failure";
    HWND page = FindPage(main);
    if (page == nullptr) return "none";
    if (IsProgressPage(page)) return "progress";
    if (GetDlgItem(page, 1019) != nullptr) return "directory";
    return "custom";
}

bool StatusText(HWND main, wchar_t (&text)[1024])
{
    text[0] = 0;
    HWND page = FindPage(main);
    if (!IsProgressPage(page)) return false;
    DWORD_PTR copied = 0;
    return SendMessageTimeoutW(GetDlgItem(page, 1006), WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text),
                               SMTO_ABORTIFHUNG, 2000, &copied) != 0;
}

void PrintUtf8(const wchar_t* text)
{
    char utf8[4096];
    if (WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr) > 0) std::printf("%s", utf8);
}

BOOL CALLBACK PrintWindowProc(HWND window, LPARAM data)
{
    HWND main = reinterpret_cast<HWND>(data);
    wchar_t cls[64] = {};
    wchar_t text[256] = {};
    GetClassNameW(window, cls, 64);
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000, &copied);
    RECT rect = {};
    GetWindowRect(window, &rect);
    MapWindowPoints(nullptr, main, reinterpret_cast<POINT*>(&rect), 2);
    HWND parent = GetParent(window);
    wchar_t parentClass[32] = {};
    GetClassNameW(parent, parentClass, 32);
    char parentName[16];
    if (parent == main) {
        std::snprintf(parentName, sizeof parentName, "main");
    } else if (wcscmp(parentClass, L"#32770") == 0) {
        std::snprintf(parentName, sizeof parentName, "page");
    } else {
        std::snprintf(parentName, sizeof parentName, "%d", GetDlgCtrlID(parent));
    }
    std::printf("%d %ls (%ld,%ld)-(%ld,%ld) %s parent=%s ", GetDlgCtrlID(window), cls, rect.left, rect.top, rect.right,
                rect.bottom, (GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE) != 0 ? "shown" : "hidden", parentName);
    PrintUtf8(text);
    std::printf("\n");
    return TRUE;
}

void Click(HWND main, int id)
{
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(GetDlgItem(main, id), BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
}

int Cancel(const wchar_t* prefix, int seconds)
{
    for (int i = 0; i < seconds * 20; ++i) {
        HWND main = FindInstaller();
        if (main != nullptr) {
            wchar_t text[1024];
            if (StatusText(main, text)) {
                if (wcsncmp(text, prefix, wcslen(prefix)) == 0) {
                    Click(main, IDCANCEL);
                    return 0;
                }
            } else if (i % 10 == 0) {
                // Any page before the progress page: on to the next one.
                PostMessageW(main, 0x408, 1, 0);
            }
        }
        Sleep(50);
    }
    return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) return 2;
    if (wcscmp(argv[1], L"cancel") == 0) {
        if (argc < 3 || argc > 4 || argv[2][0] == 0) return 2;
        int seconds = argc == 4 ? _wtoi(argv[3]) : 60;
        return seconds > 0 ? Cancel(argv[2], seconds) : 2;
    }
    if (wcscmp(argv[1], L"box") == 0 && argc <= 3) {
        HWND box = nullptr;
        EnumWindows(FindBoxProc, reinterpret_cast<LPARAM>(&box));
        if (box == nullptr) return 1;
        wchar_t text[1024] = {};
        DWORD_PTR copied = 0;
        SendMessageTimeoutW(GetDlgItem(box, 0xFFFF), WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                            2000, &copied);
        PrintUtf8(text);
        std::printf("\n");
        if (argc == 3) Click(box, _wtoi(argv[2]));
        return 0;
    }
    HWND main = FindInstaller();
    if (wcscmp(argv[1], L"page") == 0 && argc == 2) {
        std::printf("%s\n", main != nullptr ? PageKind(main) : "none");
        return main != nullptr ? 0 : 1;
    }
    if (main == nullptr) return 1;
    if (wcscmp(argv[1], L"next") == 0 && argc == 2) {
        PostMessageW(main, 0x408, 1, 0);
        return 0;
    }
    if (wcscmp(argv[1], L"click") == 0 && argc == 3) {
        Click(main, _wtoi(argv[2]));
        return 0;
    }
    if (wcscmp(argv[1], L"progress") == 0 && argc == 2) {
        wchar_t text[1024];
        if (!StatusText(main, text)) return 1;
        DWORD_PTR position = 0;
        SendMessageTimeoutW(GetDlgItem(FindPage(main), 1004), PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 2000, &position);
        std::printf("%u ", static_cast<unsigned>(position));
        PrintUtf8(text);
        std::printf("\n");
        return 0;
    }
    if (wcscmp(argv[1], L"status") == 0 && argc == 2) {
        wchar_t text[1024];
        if (!StatusText(main, text)) return 1;
        PrintUtf8(text);
        std::printf("\n");
        return 0;
    }
    if (wcscmp(argv[1], L"windows") == 0 && argc == 2) {
        RECT client = {};
        GetClientRect(main, &client);
        std::printf("main client %ld %ld\n", client.right, client.bottom);
        EnumChildWindows(main, PrintWindowProc, reinterpret_cast<LPARAM>(main));
        return 0;
    }
    return 2;
}
