// Windows of another thread are refused: subclassing, painting and window-long changes are only
// sound on the thread that owns the window, which is the thread every export must be called on.
#pragma once
#include <windows.h>

// Whether window is a window owned by the calling thread (false for null or a stale handle).
inline bool OnThisThread(HWND window)
{
    return window != nullptr && GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId();
}
