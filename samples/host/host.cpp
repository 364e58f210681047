// A sample host installer: skins its window and pages with qelskin, delivers a payload with
// qelfetch, and shows the failure page when the delivery fails.
//
//   samplehost MANIFEST PACKAGE WORKDIR [--auto]
//
// With --auto it walks through the screens by itself and exits with 0 when the files were ready
// and 1 otherwise. It writes one line per screen and per status change to standard output, so a
// script can follow it (and take screenshots at the right moments).
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <string>

#include "libraries.h"
#include "picture.h"
#include "resource.h"

#define WM_PREVIEW_SETPOS (WM_APP + 1)
#define FAILURE_CLOSE_ID_VALUE 0x7111

namespace {

// Colours of the sample's look (COLORREF, 0x00BBGGRR).
constexpr COLORREF kBase = RGB(0xF4, 0xF2, 0xEE);
constexpr COLORREF kBand = RGB(0x24, 0x3B, 0x6B);
constexpr COLORREF kPicture = RGB(0xE8, 0xC0, 0x70);
constexpr COLORREF kText = RGB(0x1E, 0x1E, 0x1E);
constexpr COLORREF kWhite = RGB(0xFF, 0xFF, 0xFF);

constexpr UINT_PTR kPollTimer = 1;
constexpr UINT_PTR kAutoTimer = 2;
constexpr UINT kPayloadPollMs = 100;
constexpr UINT kAutoStepMs = 1500;
// The status lines are Chinese: the UI font is the Chinese UI face.
constexpr wchar_t kFace[] = L"Microsoft YaHei UI";

enum class Screen { Welcome, Progress, Ready, Failure };

struct Host {
    Libraries lib;
    std::wstring manifest, package, work;
    bool automatic = false;
    HWND main = nullptr, welcome = nullptr, progress = nullptr;
    HFONT font = nullptr;
    HBITMAP picture = nullptr;
    DeliveryJob* job = nullptr;
    Screen screen = Screen::Welcome;
    int lastPhase = 0, lastPercent = -1;
    std::wstring lastText;
    int exitCode = 1;
};

Host g_host;

void Say(const std::wstring& line)
{
    std::wstring text = line + L"\n";
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

const wchar_t* PhaseName(int phase)
{
    switch (phase) {
    case 1: return L"Preparing";
    case 2: return L"Downloading";
    case 3: return L"Verifying";
    case 4: return L"Unpacking";
    case 5: return L"Ready";
    case 6: return L"Failed";
    case 7: return L"Cancelled";
    default: return L"";
    }
}

void StyleButtons(HWND parent, std::initializer_list<int> ids)
{
    for (int id : ids) {
        g_host.lib.StyleButton(GetDlgItem(parent, id), kBand, RGB(0x34, 0x55, 0x96), kWhite, RGB(0xC8, 0xC8, 0xC8),
                               kBand, RGB(0x80, 0x80, 0x80), RGB(0xE8, 0xA0, 0x30), 1, 5);
    }
}

BOOL CALLBACK SetFontProc(HWND window, LPARAM font)
{
    SendMessageW(window, WM_SETFONT, static_cast<WPARAM>(font), FALSE);
    return TRUE;
}

// The whole tree gets one font made for the window's DPI; later DPI changes swap it through
// FontForDpi, which replaces it everywhere and deletes the old one.
void ApplyFont()
{
    g_host.font = g_host.lib.FontForDpi(g_host.main, nullptr, kFace, 9, FW_NORMAL);
    if (g_host.font == nullptr) return;
    SetFontProc(g_host.main, reinterpret_cast<LPARAM>(g_host.font));
    EnumChildWindows(g_host.main, SetFontProc, reinterpret_cast<LPARAM>(g_host.font));
}

void SkinPage(HWND page)
{
    g_host.lib.StylePage(page, g_host.picture, kBase, kBand, kPicture, 100, 10, 16, 80, 80, 255);
}

void ShowScreen(Screen screen)
{
    g_host.screen = screen;
    ShowWindow(g_host.welcome, screen == Screen::Welcome ? SW_SHOW : SW_HIDE);
    ShowWindow(g_host.progress, screen == Screen::Progress || screen == Screen::Ready ? SW_SHOW : SW_HIDE);
    EnableWindow(GetDlgItem(g_host.main, IDC_NEXT), screen == Screen::Welcome);
    EnableWindow(GetDlgItem(g_host.main, IDC_BACK), FALSE);
    const wchar_t* names[] = {L"welcome", L"progress", L"ready", L"failure"};
    Say(std::wstring(L"screen ") + names[static_cast<int>(screen)]);
    // --auto shows every screen for one full step before it moves on.
    if (g_host.automatic) SetTimer(g_host.main, kAutoTimer, kAutoStepMs, nullptr);
}

void ShowFailure(const std::wstring& text)
{
    ShowScreen(Screen::Failure);
    HWND close = g_host.lib.CreateFailureClose(g_host.main, g_host.font);
    HWND box = g_host.lib.CreateFailureText(g_host.main, g_host.font, text.c_str());
    if (close != nullptr) {
        StyleButtons(g_host.main, {FAILURE_CLOSE_ID_VALUE});
        SetFocus(close);
    }
    if (box == nullptr) Say(L"the failure page could not be built");
    InvalidateRect(g_host.main, nullptr, TRUE);
}

void StartDelivery()
{
    ShowScreen(Screen::Progress);
    g_host.job = g_host.lib.PayloadStart(g_host.manifest.c_str(), g_host.package.c_str(), g_host.work.c_str());
    if (g_host.job == nullptr) {
        ShowFailure(L"The delivery could not start.");
        return;
    }
    SetTimer(g_host.main, kPollTimer, kPayloadPollMs, nullptr);
}

void PollDelivery()
{
    int phase = 0, percent = 0;
    wchar_t text[1024];
    g_host.lib.PayloadPoll(g_host.job, &phase, &percent, text, 1024);
    if (phase != g_host.lastPhase || percent != g_host.lastPercent || text != g_host.lastText) {
        g_host.lastPhase = phase;
        g_host.lastPercent = percent;
        g_host.lastText = text;
        SetDlgItemTextW(g_host.progress, IDC_PHASE, PhaseName(phase));
        SetDlgItemTextW(g_host.progress, IDC_STATUS, text);
        // The bar is frozen against the host's own progress messages; the private one moves it.
        SendDlgItemMessageW(g_host.progress, IDC_PROGRESS, WM_PREVIEW_SETPOS, static_cast<WPARAM>(percent), 0);
        Say(L"status " + std::to_wstring(phase) + L" " + std::to_wstring(percent) + L" " + text);
    }
    if (phase < 5) return;
    KillTimer(g_host.main, kPollTimer);
    if (phase == 5) {
        g_host.exitCode = 0;
        ShowScreen(Screen::Ready);
        SetDlgItemTextW(g_host.progress, IDC_STATUS, (L"The files are ready in " + g_host.work).c_str());
    } else {
        ShowFailure(text);
    }
}

// Every step of --auto: welcome -> Install; ready or failure -> close.
void AutoStep()
{
    switch (g_host.screen) {
    case Screen::Welcome:
        SendDlgItemMessageW(g_host.welcome, IDC_INSTALL, BM_CLICK, 0, 0);
        break;
    case Screen::Progress:
        break;
    case Screen::Ready:
        PostMessageW(g_host.main, WM_CLOSE, 0, 0);
        break;
    case Screen::Failure: {
        // The close button is a real button: clicking it goes through the frame's handling.
        HWND close = GetDlgItem(g_host.main, FAILURE_CLOSE_ID_VALUE);
        if (close != nullptr) {
            SendMessageW(close, BM_CLICK, 0, 0);
        } else {
            PostMessageW(g_host.main, WM_CLOSE, 0, 0);
        }
        KillTimer(g_host.main, kAutoTimer);
        break;
    }
    }
}

INT_PTR CALLBACK PageProc(HWND page, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_COMMAND) {
        switch (LOWORD(wParam)) {
        case IDC_INSTALL: StartDelivery(); return TRUE;
        case IDC_QUIT: PostMessageW(g_host.main, WM_CLOSE, 0, 0); return TRUE;
        }
    }
    (void)page;
    return message == WM_INITDIALOG;
}

void BuildWindow(HWND main)
{
    g_host.main = main;
    g_host.welcome = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_WELCOME), main, PageProc, 0);
    g_host.progress = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_PROGRESS), main, PageProc, 0);
    RECT client;
    GetClientRect(main, &client);
    RECT pageRect = {0, 0, 300, 122};
    MapDialogRect(main, &pageRect);
    for (HWND page : {g_host.welcome, g_host.progress}) {
        SetWindowPos(page, HWND_BOTTOM, 0, 0, client.right, pageRect.bottom, SWP_NOACTIVATE);
    }

    const Libraries& lib = g_host.lib;
    lib.StyleWindow(main, kBand, kWhite);
    lib.StyleWindowFrame(main);
    ApplyFont();
    g_host.picture = MakeBandPicture(96, kPicture);
    SkinPage(main);
    SkinPage(g_host.welcome);
    SkinPage(g_host.progress);
    StyleButtons(main, {IDC_BACK, IDC_NEXT, IDC_CANCEL});
    StyleButtons(g_host.welcome, {IDC_INSTALL, IDC_QUIT});
    HWND folder = GetDlgItem(g_host.progress, IDC_FOLDER);
    SetWindowTextW(folder, g_host.work.c_str());
    lib.StyleInput(folder, kBase, kWhite, RGB(0xB0, 0xB4, 0xBC), kBand, 4, lib.FontLineHeight(folder, g_host.font));
    lib.StylePrompt(g_host.welcome, GetDlgItem(g_host.welcome, IDC_TITLE), GetDlgItem(g_host.welcome, IDC_BODY),
                    GetDlgItem(g_host.welcome, IDC_NOTE), GetDlgItem(g_host.welcome, IDC_INSTALL),
                    GetDlgItem(g_host.welcome, IDC_QUIT), 1, 8);
    lib.HideProgressDetails(g_host.progress);
    lib.StylePreviewProgress(GetDlgItem(g_host.progress, IDC_PROGRESS));
    ShowScreen(Screen::Welcome);
}

INT_PTR CALLBACK MainProc(HWND main, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        BuildWindow(main);
        return TRUE;
    case WM_TIMER:
        if (wParam == kPollTimer) PollDelivery();
        if (wParam == kAutoTimer) AutoStep();
        return TRUE;
    case WM_DPICHANGED: {
        HFONT font = g_host.lib.FontForDpi(main, g_host.font, kFace, 9, FW_NORMAL);
        if (font != nullptr) g_host.font = font;
        return FALSE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_NEXT:
            if (g_host.screen == Screen::Welcome) StartDelivery();
            return TRUE;
        case IDC_CANCEL:
            if (g_host.job != nullptr && g_host.screen == Screen::Progress) {
                g_host.lib.PayloadCancel(g_host.job);
            } else {
                PostMessageW(main, WM_CLOSE, 0, 0);
            }
            return TRUE;
        }
        return FALSE;
    case WM_CLOSE:
        KillTimer(main, kPollTimer);
        KillTimer(main, kAutoTimer);
        if (g_host.job != nullptr) {
            // The host has taken what it needs; closing the job removes everything it created.
            int removed = g_host.lib.PayloadClose(g_host.job);
            g_host.job = nullptr;
            Say(std::wstring(L"closed ") + (removed ? L"clean" : L"with leftovers"));
        }
        DestroyWindow(main);
        return TRUE;
    case WM_DESTROY:
        PostQuitMessage(g_host.exitCode);
        return TRUE;
    }
    return FALSE;
}

// Centres the window in the work area of the monitor it is on.
void CentreOnMonitor(HWND window)
{
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    RECT rect;
    if (!GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &monitor) ||
        !GetWindowRect(window, &rect)) {
        return;
    }
    const RECT& area = monitor.rcWork;
    int width = rect.right - rect.left, height = rect.bottom - rect.top;
    SetWindowPos(window, nullptr, area.left + (area.right - area.left - width) / 2,
                 area.top + (area.bottom - area.top - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr || argc < 4) {
        Say(L"usage: samplehost MANIFEST PACKAGE WORKDIR [--auto]");
        return 2;
    }
    g_host.manifest = argv[1];
    g_host.package = argv[2];
    g_host.work = argv[3];
    g_host.automatic = argc > 4 && std::wstring(argv[4]) == L"--auto";
    LocalFree(argv);

    SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    const wchar_t* missing = nullptr;
    if (!g_host.lib.Load(&missing)) {
        Say(std::wstring(L"cannot load ") + missing);
        return 2;
    }
    HWND main = CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainProc, 0);
    if (main == nullptr) return 2;
    CentreOnMonitor(main);
    ShowWindow(main, SW_SHOW);
    MSG msg;
    int code = 1;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (!IsDialogMessageW(main, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    if (msg.message == WM_QUIT) code = static_cast<int>(msg.wParam);
    if (g_host.font != nullptr) DeleteObject(g_host.font);
    if (g_host.picture != nullptr) DeleteObject(g_host.picture);
    return code;
}
