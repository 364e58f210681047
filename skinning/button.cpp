#include <windows.h>

#include <commctrl.h>

#include "skinning/button.h"
#include "skinning/style.h"

LRESULT CALLBACK ContainerSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR)
{
    return DefSubclassProc(window, message, wParam, lParam);
}

extern "C" int WINAPI StyleButton(HWND, COLORREF, COLORREF, COLORREF, COLORREF, COLORREF, COLORREF, COLORREF, int, int) { return 0; }
