// The status line: a text window whose text the host replaces as work goes on. Each new text is
// announced to assistive technology as a change of the window's accessible name; a text equal
// to the one shown is neither set again nor announced, so a host that repeats the same status
// on every poll neither flickers nor makes a screen reader repeat itself.
#include <windows.h>

#include <commctrl.h>

#include "skinning/module_hold.h"
#include "skinning/own_thread.h"
#include "skinning/style.h"

namespace {

// Texts up to this many units (the terminator included) are compared with the one shown;
// longer ones always count as new.
constexpr int kCompareCapacity = 1024;

bool ShowsAlready(HWND window, const wchar_t* text)
{
    const int length = lstrlenW(text);
    if (length >= kCompareCapacity || GetWindowTextLengthW(window) != length) return false;
    wchar_t shown[kCompareCapacity];
    if (GetWindowTextW(window, shown, kCompareCapacity) != length) return false;
    return lstrcmpW(shown, text) == 0;
}

LRESULT CALLBACK StatusLineSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                        UINT_PTR id, DWORD_PTR)
{
    SubclassCall call;
    switch (message) {
    case WM_SETTEXT: {
        const auto* text = reinterpret_cast<const wchar_t*>(lParam);
        if (text != nullptr && ShowsAlready(window, text)) return TRUE;
        const LRESULT result = DefSubclassProc(window, message, wParam, lParam);
        // The client object is the one whose name is the text (what AccessibleObjectFromWindow
        // with OBJID_CLIENT gives).
        if (result) NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, window, OBJID_CLIENT, CHILDID_SELF);
        return result;
    }
    case WM_NCDESTROY: {
        RemoveWindowSubclass(window, StatusLineSubclassProc, id);
        return FinishSubclass(window, message, wParam, lParam);
    }
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

}  // namespace

extern "C" int WINAPI StyleStatusLine(HWND status)
{
    if (!OnThisThread(status)) return 0;
    return InstallSubclass(status, StatusLineSubclassProc, 0);
}
