#include "skinning/window_style.h"

int ChangeWindowLong(HWND window, int index, LONG clear, LONG set)
{
    LONG value = (GetWindowLongW(window, index) & ~clear) | set;
    SetLastError(0);
    if (SetWindowLongW(window, index, value) == 0 && GetLastError() != 0) return 0;
    return 1;
}

int RecomputeFrame(HWND window)
{
    return SetWindowPos(window, nullptr, 0, 0, 0, 0, kFrameChangedFlags) ? 1 : 0;
}
