#include "skinning/style.h"

extern "C" HWND WINAPI CreateFailureClose(HWND, HFONT) { return nullptr; }
extern "C" HWND WINAPI CreateFailureText(HWND, HFONT, const wchar_t*) { return nullptr; }
