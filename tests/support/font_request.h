// What a font asked for, read back with GetObjectW, and the height the DPI rule gives.
#pragma once
#include <windows.h>

#include <cmath>

inline LOGFONTW FontRequest(HFONT font)
{
    LOGFONTW request = {};
    GetObjectW(font, sizeof request, &request);
    return request;
}

// -(points * dpi / 72), rounded to the nearest pixel.
inline LONG RequestedHeight(int points, unsigned dpi)
{
    return -static_cast<LONG>(std::floor(points * static_cast<double>(dpi) / 72.0 + 0.5));
}
