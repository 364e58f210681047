// The progress page: its details hidden for good, and a preview progress bar frozen against the
// host's own progress messages so that only WM_PREVIEW_SETPOS moves it.
#include <windows.h>

#include <commctrl.h>

#include "skinning/button.h"
#include "skinning/module_hold.h"
#include "skinning/own_thread.h"
#include "skinning/stay_hidden.h"
#include "skinning/style.h"

namespace {

constexpr UINT_PTR kSubclassId = 1;
constexpr int kShowDetailsButton = 1027;
constexpr int kDetailsList = 1016;
constexpr int kFrozenRangeEnd = 100;

LRESULT CALLBACK PreviewProgressSubclassProc(HWND bar, UINT message, WPARAM wParam,
                                             LPARAM lParam, UINT_PTR id, DWORD_PTR)
{
    SubclassCall call;
    switch (message) {
    case WM_PREVIEW_SETPOS: {
        return DefSubclassProc(bar, PBM_SETPOS, wParam, 0);  // the previous position
    }
    case PBM_SETPOS:
    case PBM_DELTAPOS:
    case PBM_STEPIT: {
        return DefSubclassProc(bar, PBM_GETPOS, 0, 0);  // the bar does not move
    }
    case PBM_SETRANGE:
    case PBM_SETRANGE32: {
        return MAKELRESULT(0, kFrozenRangeEnd);  // the range stays 0..100
    }
    case WM_NCDESTROY: {
        RemoveWindowSubclass(bar, PreviewProgressSubclassProc, id);
        return FinishSubclass(bar, message, wParam, lParam);
    }
    }
    return DefSubclassProc(bar, message, wParam, lParam);
}

}  // namespace

extern "C" int WINAPI StylePreviewProgress(HWND bar)
{
    if (!OnThisThread(bar)) return 0;
    wchar_t name[32];
    if (GetClassNameW(bar, name, 32) == 0 || lstrcmpW(name, L"msctls_progress32") != 0) return 0;
    DWORD_PTR data = 0;
    if (GetWindowSubclass(bar, PreviewProgressSubclassProc, kSubclassId, &data)) return 0;

    SendMessageW(bar, PBM_SETRANGE32, 0, kFrozenRangeEnd);
    SendMessageW(bar, PBM_SETPOS, 0, 0);
    return InstallSubclass(bar, PreviewProgressSubclassProc, 0);
}

extern "C" int WINAPI HideProgressDetails(HWND page)
{
    if (!OnThisThread(page)) return 0;
    HWND button = GetDlgItem(page, kShowDetailsButton);
    HWND list = GetDlgItem(page, kDetailsList);
    if (!OnThisThread(button) || !OnThisThread(list)) return 0;
    if (!InstallSubclass(page, ContainerSubclassProc, 0)) return 0;

    // Taken off the button again below only if this call put it there.
    DWORD_PTR data = 0;
    const bool buttonWasHidden =
        GetWindowSubclass(button, StayHiddenSubclassProc, kSubclassId, &data) != FALSE;
    if (!KeepHidden(button)) return 0;
    if (!KeepHidden(list)) {
        if (!buttonWasHidden) UninstallSubclass(button, StayHiddenSubclassProc);
        return 0;
    }
    ShowWindow(button, SW_HIDE);
    ShowWindow(list, SW_HIDE);
    return 1;
}
