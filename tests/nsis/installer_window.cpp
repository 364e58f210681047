#include "installer_window.h"

#include <cwchar>

namespace {

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
    if (wcscmp(cls, L"#32770") != 0 || !IsWindowVisible(window) || !OwnedByTheInstaller(window)) return TRUE;
    if (InstallerPage(window) == nullptr || GetDlgItem(window, 1) == nullptr || GetDlgItem(window, 2) == nullptr ||
        GetDlgItem(window, 3) == nullptr) {
        return TRUE;
    }
    *reinterpret_cast<HWND*>(data) = window;
    return FALSE;
}

}  // namespace

HWND FindInstaller()
{
    HWND main = nullptr;
    EnumWindows(FindInstallerProc, reinterpret_cast<LPARAM>(&main));
    return main;
}

HWND InstallerPage(HWND main) { return FindWindowExW(main, nullptr, L"#32770", nullptr); }

const char* InstallerPageKind(HWND main)
{
    HWND close = GetDlgItem(main, 0x7111);
    if (close != nullptr && IsWindowVisible(close)) return "failure";
    HWND page = InstallerPage(main);
    if (page == nullptr) return "none";
    wchar_t cls[32] = {};
    HWND bar = GetDlgItem(page, 1004);
    if (bar != nullptr && GetClassNameW(bar, cls, 32) > 0 && wcscmp(cls, L"msctls_progress32") == 0) return "progress";
    if (GetDlgItem(page, 1019) != nullptr) return "directory";
    return "custom";
}
