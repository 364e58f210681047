#include "skinning/style.h"

extern "C" HFONT WINAPI FontForDpi(HWND, HFONT, const wchar_t*, int, int) { return nullptr; }
extern "C" int WINAPI FontLineHeight(HWND, HFONT) { return 0; }
