#include "skinning/stay_hidden.h"

#include <commctrl.h>

#include "skinning/module_hold.h"

LRESULT CALLBACK StayHiddenSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                        UINT_PTR id, DWORD_PTR)
{
    SubclassCall call;
    switch (message) {
    case WM_WINDOWPOSCHANGING: {
        // Every show goes through here: turn it into a hide before the window manager acts.
        auto* position = reinterpret_cast<WINDOWPOS*>(lParam);
        if (position != nullptr) {
            position->flags = (position->flags & ~SWP_SHOWWINDOW) | SWP_HIDEWINDOW;
        }
        break;
    }
    case WM_NCDESTROY: {
        RemoveWindowSubclass(window, StayHiddenSubclassProc, id);
        return FinishSubclass(window, message, wParam, lParam);
    }
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

int KeepHidden(HWND window)
{
    return InstallSubclass(window, StayHiddenSubclassProc, 0);
}
