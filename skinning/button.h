// Custom-drawn push buttons, and the container subclass that draws them and paints the page
// behind containers.
#pragma once
#include <windows.h>

LRESULT CALLBACK ContainerSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                       UINT_PTR id, DWORD_PTR data);
