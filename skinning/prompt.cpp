#include "skinning/style.h"

extern "C" int WINAPI StylePrompt(HWND, HWND, HWND, HWND, HWND, HWND, int, int) { return 0; }
