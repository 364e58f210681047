#include "skinning/contrast.h"

bool HighContrastOn()
{
    HIGHCONTRASTW setting = {};
    setting.cbSize = sizeof setting;
    if (!SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof setting, &setting, 0)) return false;
    return (setting.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

bool IsContrastChange(UINT message, WPARAM wParam)
{
    if (message == WM_SYSCOLORCHANGE || message == WM_THEMECHANGED) return true;
    return message == WM_SETTINGCHANGE && wParam == SPI_SETHIGHCONTRAST;
}

void RepaintForContrast(HWND window)
{
    HWND root = GetAncestor(window, GA_ROOT);
    RedrawWindow(root != nullptr ? root : window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
}
