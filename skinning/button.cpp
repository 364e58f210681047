// StyleButton: push buttons drawn as flat rounded shapes on the skinned page background,
// through the custom-draw notification the button sends its parent.
#include "skinning/button.h"

#include "skinning/contrast.h"
#include "skinning/gdi.h"
#include "skinning/module_hold.h"
#include "skinning/own_thread.h"
#include "skinning/page_skin.h"
#include "skinning/paint.h"
#include "skinning/radius.h"
#include "skinning/style.h"

namespace {

constexpr UINT_PTR kSubclassId = 1;
constexpr int kCaptionCapacity = 128;

ButtonColors* ColorsOfButton(HWND button)
{
    DWORD_PTR data = 0;
    if (!GetWindowSubclass(button, ButtonSubclassProc, kSubclassId, &data)) return nullptr;
    return reinterpret_cast<ButtonColors*>(data);
}

bool HasFocusCue(HWND button, bool enabled, UINT itemState)
{
    if (!enabled || (itemState & CDIS_FOCUS) == 0) return false;
    LRESULT uiState = SendMessageW(button, WM_QUERYUISTATE, 0, 0);
    return (uiState & UISF_HIDEFOCUS) == 0;
}

}  // namespace

void DrawButton(HWND button, const NMCUSTOMDRAW* draw, const ButtonColors* colors)
{
    HDC dc = draw->hdc;
    bool enabled = IsWindowEnabled(button) != FALSE;
    bool pressed = (draw->uItemState & CDIS_SELECTED) != 0;
    bool hot = (draw->uItemState & CDIS_HOT) != 0;
    bool focusCue = HasFocusCue(button, enabled, draw->uItemState);

    UINT dpi = GetDpiForWindow(button);
    int w = MulDiv(1, dpi, 96);
    if (w < 1) w = 1;
    int h = w / 2;
    int r = ScaledRadius(colors->radius, dpi);
    RECT rc;
    GetClientRect(button, &rc);

    COLORREF fill = (hot || pressed) ? colors->activeFill : colors->fill;
    COLORREF caption = colors->text;
    if (!enabled) {
        fill = colors->disabledFill;
        caption = colors->disabledText;
    }

    UniquePen pen;  // declared before the saved state: deleted only after RestoreDC deselects it
    SavedDc saved(dc);
    if (!PaintPageBehind(button, dc)) return;

    bool idleOutlineOnly = colors->borderMode < 0 && enabled && !hot && !pressed;
    if (!(idleOutlineOnly && !focusCue)) {
        SelectObject(dc, GetStockObject(idleOutlineOnly ? NULL_BRUSH : DC_BRUSH));
        SetDCBrushColor(dc, fill);
        COLORREF outline;
        if (focusCue && colors->borderMode <= 0) {
            outline = colors->focusBorder;
        } else if (colors->borderMode < 0) {
            outline = fill;
        } else if (colors->borderMode == 0) {
            outline = colors->border;
        } else {
            outline = enabled ? fill : colors->border;
        }
        pen.Reset(CreatePen(PS_SOLID, w, outline));
        if (!pen) return;
        SelectObject(dc, pen.Get());
        RoundRect(dc, rc.left + h, rc.top + h, rc.right - h, rc.bottom - h, 2 * r, 2 * r);
    }

    HFONT font = reinterpret_cast<HFONT>(SendMessageW(button, WM_GETFONT, 0, 0));
    if (font != nullptr) SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, caption);
    RECT textRect = rc;
    if (pressed) OffsetRect(&textRect, 0, MulDiv(1, dpi, 96));
    wchar_t text[kCaptionCapacity];
    int length = GetWindowTextW(button, text, kCaptionCapacity);
    if (length > 0) {
        // As a standard push button: "&" underlines the mnemonic that follows, "&&" shows one
        // "&", and the underline stays hidden while the window hides keyboard cues.
        UINT format = DT_CENTER | DT_VCENTER | DT_SINGLELINE;
        if ((SendMessageW(button, WM_QUERYUISTATE, 0, 0) & UISF_HIDEACCEL) != 0) format |= DT_HIDEPREFIX;
        DrawTextW(dc, text, length, &textRect, format);
    }

    if (focusCue && colors->borderMode > 0) {
        int inset = MulDiv(4, dpi, 96);
        InflateRect(&textRect, -inset, -inset);
        SelectObject(dc, GetStockObject(DC_PEN));
        SelectObject(dc, GetStockObject(NULL_BRUSH));
        SetDCPenColor(dc, caption);
        RoundRect(dc, textRect.left, textRect.top, textRect.right, textRect.bottom, 2 * r, 2 * r);
    }
}

LRESULT CALLBACK ButtonSubclassProc(HWND button, UINT message, WPARAM wParam, LPARAM lParam,
                                    UINT_PTR id, DWORD_PTR data)
{
    SubclassCall call;
    if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(button, ButtonSubclassProc, id);
        LocalFree(reinterpret_cast<HLOCAL>(data));
        return FinishSubclass(button, message, wParam, lParam);
    }
    return DefSubclassProc(button, message, wParam, lParam);
}

LRESULT CALLBACK ContainerSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                       UINT_PTR id, DWORD_PTR)
{
    SubclassCall call;
    if (IsContrastChange(message, wParam)) RepaintForContrast(window);
    switch (message) {
    case WM_ERASEBKGND:
    case WM_PRINTCLIENT: {
        // A skinned page paints itself; any other container shows the page behind it, except
        // under high contrast, when the container erases itself as it always did.
        if (SkinOfPage(window) == nullptr && !HighContrastOn() &&
            PaintPageBehind(window, reinterpret_cast<HDC>(wParam))) {
            return 1;
        }
        break;
    }
    case WM_NOTIFY: {
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header == nullptr || header->code != NM_CUSTOMDRAW) break;
        const NMCUSTOMDRAW* draw = reinterpret_cast<const NMCUSTOMDRAW*>(lParam);
        if (draw->dwDrawStage != CDDS_PREPAINT && draw->dwDrawStage != CDDS_PREERASE) break;
        const ButtonColors* colors = ColorsOfButton(header->hwndFrom);
        if (colors == nullptr) break;
        // Under high contrast the button draws itself, in system colours.
        if (HighContrastOn()) break;
        DrawButton(header->hwndFrom, draw, colors);
        return CDRF_SKIPDEFAULT;
    }
    case WM_NCDESTROY: {
        RemoveWindowSubclass(window, ContainerSubclassProc, id);
        return FinishSubclass(window, message, wParam, lParam);
    }
    default:
        break;
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

extern "C" int WINAPI StyleButton(HWND button, COLORREF fill, COLORREF activeFill, COLORREF text,
                                  COLORREF disabledFill, COLORREF border, COLORREF disabledText,
                                  COLORREF focusBorder, int borderMode, int radius)
{
    if (!OnThisThread(button) || !OnThisThread(GetParent(button))) return 0;
    if (SendMessageW(button, WM_GETFONT, 0, 0) == 0) return 0;
    PageSkin* skin = nullptr;
    if (FindSkinnedPage(button, &skin) == nullptr) return 0;

    ButtonColors* colors = ColorsOfButton(button);
    if (colors == nullptr) {
        UniqueLocal block(LocalAlloc(LPTR, sizeof(ButtonColors)));
        if (!block) return 0;
        if (!InstallSubclass(button, ButtonSubclassProc, reinterpret_cast<DWORD_PTR>(block.Get()))) {
            return 0;
        }
        colors = static_cast<ButtonColors*>(block.Release());
    }
    *colors = {fill, activeFill, text, disabledFill, border, disabledText, focusBorder, borderMode, radius};

    if (!InstallSubclass(GetParent(button), ContainerSubclassProc, 0)) return 0;
    InvalidateRect(button, nullptr, FALSE);
    return 1;
}
