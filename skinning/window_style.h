// Style changes on the host's windows: clearing and setting bits of GWL_STYLE / GWL_EXSTYLE and
// having the non-client frame recomputed afterwards.
#pragma once
#include <windows.h>

// SetWindowPos flags that change nothing but make the window recompute its frame.
constexpr UINT kFrameChangedFlags =
    SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED;

// Clears the bits of clear and sets the bits of set in the window long at index. SetWindowLongW
// returns the previous value, which may be 0, so a zero result counts as failure only when the
// last error (cleared first) is then set. 1 or 0.
int ChangeWindowLong(HWND window, int index, LONG clear, LONG set);

// SetWindowPos with kFrameChangedFlags: WM_NCCALCSIZE and a frame repaint. Its result.
int RecomputeFrame(HWND window);
