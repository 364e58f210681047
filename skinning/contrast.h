// High contrast. While the user's high-contrast setting is on, every styled window steps aside:
// the page, its buttons, containers and edit frames stop painting the host's colours and leave
// the window to the system's own look (or, where the skin has taken over painting for good, as
// with the edit frame, paint it in system colours). The setting is read at paint time, so a
// window follows a change at its next paint; the top-level windows that carry a subclass of
// this library repaint their whole tree when the system announces the change.
#pragma once
#include <windows.h>

// Whether high contrast is on now (SPI_GETHIGHCONTRAST with HCF_HIGHCONTRASTON).
bool HighContrastOn();

// Whether a message announces that high contrast or the system colours changed: WM_SYSCOLORCHANGE,
// WM_THEMECHANGED, or WM_SETTINGCHANGE for SPI_SETHIGHCONTRAST. The system sends them to
// top-level windows only.
bool IsContrastChange(UINT message, WPARAM wParam);

// Invalidates window's top-level window with every descendant, non-client areas included, so
// that all of it is painted again in the look that now applies.
void RepaintForContrast(HWND window);
