#include "skinning/style.h"

extern "C" int WINAPI StylePage(HWND, HBITMAP, COLORREF, COLORREF, COLORREF, int, int, int, int, int, int) { return 0; }
