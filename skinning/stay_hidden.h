// A subclass that keeps a window hidden whatever the host later does with ShowWindow or
// SetWindowPos. Installed with subclass identifier 1 and no reference data.
#pragma once
#include <windows.h>

LRESULT CALLBACK StayHiddenSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                        UINT_PTR id, DWORD_PTR data);

// Installs StayHiddenSubclassProc on window. 1 or 0.
int KeepHidden(HWND window);
