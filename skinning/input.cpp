// Edit fields: a flat rounded frame painted in the field's non-client area, with a border colour
// that follows keyboard focus and the text area centred vertically inside the frame. The edit
// control keeps painting its own client area.
#include <windows.h>

#include <commctrl.h>

#include "skinning/contrast.h"
#include "skinning/gdi.h"
#include "skinning/module_hold.h"
#include "skinning/own_thread.h"
#include "skinning/radius.h"
#include "skinning/style.h"
#include "skinning/window_style.h"

namespace {

constexpr UINT_PTR kSubclassId = 1;

// One styled field; the reference data of its subclass, freed on WM_NCDESTROY.
struct InputFrame {
    COLORREF outer;        // non-client area outside the rounded frame (the corners)
    COLORREF fill;         // inside the frame, between the border and the text area
    COLORREF border;       // border without keyboard focus
    COLORREF focusBorder;  // border while GetFocus returns the field
    int radius;            // corner radius in 96-DPI pixels
    int textHeight;        // one text line in pixels at styledDpi, at least 1
    UINT styledDpi;        // the field's DPI when it was styled
};

// Shrinks the window rectangle to the client area: 8 (96-DPI) pixels from the sides, and the
// text line, rescaled to the field's DPI now, centred vertically but at least 2 (96-DPI) pixels
// from the top and bottom.
void PlaceTextArea(HWND edit, const InputFrame& frame, RECT* rect)
{
    const int dpi = static_cast<int>(GetDpiForWindow(edit));
    const int line = MulDiv(frame.textHeight, dpi, static_cast<int>(frame.styledDpi));
    const int horizontal = MulDiv(8, dpi, 96);
    const int minimum = MulDiv(2, dpi, 96);
    int vertical = (rect->bottom - rect->top - line) / 2;
    if (minimum > vertical) vertical = minimum;
    InflateRect(rect, -horizontal, -vertical);
}

// The frame's colours under high contrast: the dialog's face around the frame, the window colour
// inside it, a border in the window text colour, and with focus one twice as wide in the
// highlight colour, so that focus shows by more than a change of colour.
InputFrame SystemColouredFrame(const InputFrame& frame)
{
    InputFrame system = frame;
    system.outer = GetSysColor(COLOR_BTNFACE);
    system.fill = GetSysColor(COLOR_WINDOW);
    system.border = GetSysColor(COLOR_WINDOWTEXT);
    system.focusBorder = GetSysColor(COLOR_HIGHLIGHT);
    return system;
}

// Paints the whole non-client area: outer colour everywhere, then the rounded frame in the fill
// colour with a border in the focus-dependent colour. The client rectangle is clipped away.
void PaintInputFrame(HWND edit, const InputFrame& hostFrame)
{
    const bool contrast = HighContrastOn();
    const InputFrame frame = contrast ? SystemColouredFrame(hostFrame) : hostFrame;
    const bool focused = GetFocus() == edit;
    const int dpi = static_cast<int>(GetDpiForWindow(edit));
    int penWidth = MulDiv(1, dpi, 96);
    if (penWidth < 1) penWidth = 1;
    if (contrast && focused) penWidth *= 2;
    const int half = penWidth / 2;
    const int radius = ScaledRadius(frame.radius, static_cast<UINT>(dpi));

    UniquePen pen(CreatePen(PS_SOLID, penWidth, focused ? frame.focusBorder : frame.border));
    WindowDc dc(edit, GetWindowDC(edit));
    if (!dc || !pen) return;

    RECT window;
    RECT client;
    if (!GetWindowRect(edit, &window) || !GetClientRect(edit, &client)) return;
    const int width = window.right - window.left;
    const int height = window.bottom - window.top;
    const RECT whole = {0, 0, width, height};
    // The client area in window coordinates. In a right-to-left window the client origin is its
    // right edge and the window DC is mirrored: the rectangle goes through the screen (where
    // MapWindowPoints keeps left below right for a mirrored window) and is then mirrored into
    // the DC's coordinates.
    MapWindowPoints(edit, nullptr, reinterpret_cast<POINT*>(&client), 2);
    OffsetRect(&client, -window.left, -window.top);
    if ((GetLayout(dc.Get()) & LAYOUT_RTL) != 0) {
        const LONG left = width - client.right;
        client.right = width - client.left;
        client.left = left;
    }

    SavedDc saved(dc.Get());  // restores the DC's own pen and brush before the pen is deleted
    ExcludeClipRect(dc.Get(), client.left, client.top, client.right, client.bottom);
    auto* brush = static_cast<HBRUSH>(GetStockObject(DC_BRUSH));
    SetDCBrushColor(dc.Get(), frame.outer);
    FillRect(dc.Get(), &whole, brush);
    SetDCBrushColor(dc.Get(), frame.fill);
    SelectObject(dc.Get(), pen.Get());
    SelectObject(dc.Get(), brush);
    RoundRect(dc.Get(), half, half, width - half, height - half, 2 * radius, 2 * radius);
}

// The record is read afresh for every message and never after DefSubclassProc has run, so a
// repeated StyleInput (which frees the record it replaces) during a nested message is safe.
LRESULT CALLBACK InputSubclassProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam,
                                   UINT_PTR id, DWORD_PTR data)
{
    SubclassCall call;
    auto* frame = reinterpret_cast<InputFrame*>(data);
    switch (message) {
    case WM_NCCALCSIZE: {
        // The first rectangle of NCCALCSIZE_PARAMS is at the same address as the lone
        // rectangle sent when wParam is FALSE.
        if (lParam != 0) PlaceTextArea(edit, *frame, reinterpret_cast<RECT*>(lParam));
        return 0;
    }
    case WM_NCPAINT: {
        PaintInputFrame(edit, *frame);
        return 0;
    }
    case WM_SETFOCUS:
    case WM_KILLFOCUS: {
        LRESULT result = DefSubclassProc(edit, message, wParam, lParam);
        RedrawWindow(edit, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_NOCHILDREN);
        return result;
    }
    case WM_DPICHANGED_AFTERPARENT: {
        RecomputeFrame(edit);
        break;
    }
    case WM_NCDESTROY: {
        RemoveWindowSubclass(edit, InputSubclassProc, id);
        LocalFree(frame);
        return FinishSubclass(edit, message, wParam, lParam);
    }
    }
    return DefSubclassProc(edit, message, wParam, lParam);
}

}  // namespace

extern "C" int WINAPI StyleInput(HWND edit, COLORREF outer, COLORREF fill, COLORREF border,
                                 COLORREF focusBorder, int radius, int textHeight)
{
    if (!OnThisThread(edit) || textHeight < 1) return 0;
    const UINT dpi = GetDpiForWindow(edit);
    if (dpi == 0) return 0;

    UniqueLocal block(LocalAlloc(LMEM_ZEROINIT, sizeof(InputFrame)));
    if (!block) return 0;
    auto* frame = static_cast<InputFrame*>(block.Get());
    frame->outer = outer;
    frame->fill = fill;
    frame->border = border;
    frame->focusBorder = focusBorder;
    frame->radius = radius;
    frame->textHeight = textHeight;
    frame->styledDpi = dpi;

    // Styling a field again replaces its record; the earlier one is freed once the new one is
    // installed, so nothing is left behind and a failed install keeps the field as it was.
    DWORD_PTR earlier = 0;
    if (!GetWindowSubclass(edit, InputSubclassProc, kSubclassId, &earlier)) earlier = 0;
    if (!InstallSubclass(edit, InputSubclassProc, reinterpret_cast<DWORD_PTR>(frame))) {
        return 0;
    }
    block.Release();
    if (earlier != 0) LocalFree(reinterpret_cast<HLOCAL>(earlier));

    if (!ChangeWindowLong(edit, GWL_STYLE, WS_BORDER, 0)) return 0;
    if (!ChangeWindowLong(edit, GWL_EXSTYLE, WS_EX_CLIENTEDGE, 0)) return 0;
    return RecomputeFrame(edit);
}
