// The main window's frame: caption and border colours through the desktop window manager, and a
// fixed-size tool-window frame whose caption text stays empty and which closes when the failure
// page's close button is clicked.
#include <windows.h>

#include <commctrl.h>
#include <dwmapi.h>

#include "skinning/contrast.h"
#include "skinning/module_hold.h"
#include "skinning/own_thread.h"
#include "skinning/style.h"
#include "skinning/window_style.h"

namespace {

// Window manager attributes, by number: older SDK headers lack the colour ones.
constexpr DWORD kUseImmersiveDarkMode = 20;
constexpr DWORD kBorderColor = 34;
constexpr DWORD kCaptionColor = 35;
constexpr DWORD kTextColor = 36;

constexpr LONG kSizingAndBoxes = WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
constexpr LONG kToolFrame = WS_EX_DLGMODALFRAME | WS_EX_TOOLWINDOW | WS_EX_APPWINDOW;

// Perceived brightness of a colour, in integers: 299 R + 587 G + 114 B.
int Luminance(COLORREF color)
{
    return 299 * GetRValue(color) + 587 * GetGValue(color) + 114 * GetBValue(color);
}

int SetAttribute(HWND window, DWORD attribute, DWORD value)
{
    return SUCCEEDED(DwmSetWindowAttribute(window, attribute, &value, sizeof value)) ? 1 : 0;
}

LRESULT CALLBACK FrameSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                   UINT_PTR id, DWORD_PTR)
{
    SubclassCall call;
    if (IsContrastChange(message, wParam)) RepaintForContrast(window);
    switch (message) {
    case WM_SETTEXT: {
        // Whatever the host sets, the caption stays empty.
        return DefSubclassProc(window, message, wParam, reinterpret_cast<LPARAM>(L""));
    }
    case WM_COMMAND: {
        if (LOWORD(wParam) == FAILURE_CLOSE_ID && HIWORD(wParam) == 0) {
            PostMessageW(window, WM_CLOSE, 0, 0);
            return 0;
        }
        break;
    }
    case WM_NCDESTROY: {
        RemoveWindowSubclass(window, FrameSubclassProc, id);
        return FinishSubclass(window, message, wParam, lParam);
    }
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

}  // namespace

extern "C" int WINAPI StyleWindow(HWND window, COLORREF caption, COLORREF captionText)
{
    if (!OnThisThread(window)) return 0;
    // Dark caption mode when the caption is darker than its text; equal brightness is light.
    const DWORD dark = Luminance(caption) < Luminance(captionText) ? TRUE : FALSE;
    return SetAttribute(window, kUseImmersiveDarkMode, dark) &&
                   SetAttribute(window, kCaptionColor, caption) &&
                   SetAttribute(window, kTextColor, captionText) &&
                   SetAttribute(window, kBorderColor, caption)
               ? 1
               : 0;
}

extern "C" int WINAPI StyleWindowFrame(HWND window)
{
    if (!OnThisThread(window)) return 0;
    if (!InstallSubclass(window, FrameSubclassProc, 0)) return 0;
    if (!ChangeWindowLong(window, GWL_STYLE, kSizingAndBoxes, 0)) return 0;
    if (!ChangeWindowLong(window, GWL_EXSTYLE, 0, kToolFrame)) return 0;
    if (!SetWindowTextW(window, L"")) return 0;
    return RecomputeFrame(window);
}
