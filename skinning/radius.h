// Corner radii given by the host, scaled to a window's DPI.
#pragma once
#include <windows.h>

// Larger than any window: a rounded rectangle's ellipse never exceeds the rectangle itself, so
// every radius from here on draws the same shape.
constexpr int kLargestRadius = 0x7FFF;

// A radius in 96-DPI pixels scaled to dpi. The host's value is clamped first, so that twice the
// scaled radius (the ellipse of RoundRect) cannot overflow; a negative radius counts as 0.
inline int ScaledRadius(int radius, UINT dpi)
{
    if (radius < 0) radius = 0;
    if (radius > kLargestRadius) radius = kLargestRadius;
    return MulDiv(radius, static_cast<int>(dpi), 96);
}
