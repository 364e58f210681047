#include "skinning/style.h"

extern "C" int WINAPI StyleWindow(HWND, COLORREF, COLORREF) { return 0; }
extern "C" int WINAPI StyleWindowFrame(HWND) { return 0; }
