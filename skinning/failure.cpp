// The failure page: the host's three push buttons hidden for good, one close button in their
// place, and a read-only, wrapping text box for the failure text.
#include <windows.h>

#include <commctrl.h>

#include "skinning/module_hold.h"
#include "skinning/own_thread.h"
#include "skinning/stay_hidden.h"
#include "skinning/style.h"

namespace {

constexpr DWORD kCloseStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON;
// Without ES_AUTOHSCROLL the lines wrap at the box's width.
constexpr DWORD kTextStyle = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_VSCROLL | WS_TABSTOP |
                             ES_READONLY | ES_AUTOVSCROLL | ES_MULTILINE;

// Converts a place given as x, y, width, height in dialog units of the top-level dialog into
// pixels, in place. 1 or 0.
int PlaceInPixels(HWND dialog, RECT* place)
{
    return MapDialogRect(GetAncestor(dialog, GA_ROOT), place) ? 1 : 0;
}

// The failure text box is a multi-line edit, and a multi-line edit asks the dialog manager for
// every key, Tab, Enter and Esc included: a keyboard user who tabbed into it could not leave it,
// nor close the page. The box reads, it is not written in; those keys go back to the dialog
// (next control, default button, cancel), the box keeps the arrows and page keys for scrolling.
LRESULT CALLBACK FailureTextSubclassProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                         DWORD_PTR)
{
    SubclassCall call;
    switch (message) {
    case WM_GETDLGCODE: {
        return DefSubclassProc(box, message, wParam, lParam) & ~static_cast<LRESULT>(DLGC_WANTALLKEYS);
    }
    case WM_NCDESTROY: {
        RemoveWindowSubclass(box, FailureTextSubclassProc, id);
        return FinishSubclass(box, message, wParam, lParam);
    }
    }
    return DefSubclassProc(box, message, wParam, lParam);
}

}  // namespace

extern "C" HWND WINAPI CreateFailureClose(HWND dialog, HFONT font)
{
    if (!OnThisThread(dialog) || font == nullptr) return nullptr;
    // The host's push buttons, in the order they are handled.
    const HWND hostButtons[3] = {GetDlgItem(dialog, 1), GetDlgItem(dialog, 3),
                                 GetDlgItem(dialog, 2)};
    for (HWND button : hostButtons) {
        if (!OnThisThread(button)) return nullptr;
    }
    RECT place = {224, 106, 56, 14};
    if (!PlaceInPixels(dialog, &place)) return nullptr;

    for (HWND button : hostButtons) {
        if (!KeepHidden(button)) return nullptr;
    }
    for (HWND button : hostButtons) ShowWindow(button, SW_HIDE);

    HWND close = CreateWindowExW(0, L"BUTTON", L"关闭", kCloseStyle, place.left, place.top,
                                 place.right, place.bottom, dialog,
                                 reinterpret_cast<HMENU>(static_cast<UINT_PTR>(FAILURE_CLOSE_ID)),
                                 GetModuleHandleW(nullptr), nullptr);
    if (close != nullptr) SendMessageW(close, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return close;
}

extern "C" HWND WINAPI CreateFailureText(HWND dialog, HFONT font, const wchar_t* text)
{
    if (!OnThisThread(dialog) || font == nullptr || text == nullptr || text[0] == L'\0') {
        return nullptr;
    }
    RECT place = {114, 54, 166, 46};
    if (!PlaceInPixels(dialog, &place)) return nullptr;

    HWND box = CreateWindowExW(0, L"EDIT", text, kTextStyle, place.left, place.top, place.right,
                               place.bottom, dialog, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (box == nullptr) return nullptr;
    SendMessageW(box, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    SendMessageW(box, EM_SETSEL, 0, 0);
    // Without it the box still shows its text; only the keys would stay in it.
    InstallSubclass(box, FailureTextSubclassProc, 0);

    // The scroll bar stays only when the wrapped text is taller than the box.
    const LONGLONG lines = SendMessageW(box, EM_GETLINECOUNT, 0, 0);
    const LONGLONG lineHeight = FontLineHeight(box, font);
    if (lines * lineHeight <= place.bottom) ShowScrollBar(box, SB_VERT, FALSE);
    return box;
}
