#include "skinning/style.h"

extern "C" int WINAPI StylePreviewProgress(HWND) { return 0; }
extern "C" int WINAPI HideProgressDetails(HWND) { return 0; }
