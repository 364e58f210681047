#include "skinning/style.h"

extern "C" int WINAPI StyleInput(HWND, COLORREF, COLORREF, COLORREF, COLORREF, int, int) { return 0; }
