// The picture shown in the page's band: an 8-bit bitmap with a full 256-colour table, whose
// pixel values the skin recolours through its own ramp. Entry 255 is the page's accent colour.
#pragma once
#include <windows.h>

HBITMAP MakeBandPicture(int size, COLORREF accent);
