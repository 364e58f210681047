// The two libraries, loaded by name at run time and called through their stdcall exports, as a
// host installer's script would call them.
#pragma once
#include <windows.h>

struct DeliveryJob;

struct Libraries {
    HMODULE fetch = nullptr;
    HMODULE skin = nullptr;

    DeliveryJob*(WINAPI* PayloadStart)(const wchar_t*, const wchar_t*, const wchar_t*) = nullptr;
    int(WINAPI* PayloadPoll)(DeliveryJob*, int*, int*, wchar_t*, int) = nullptr;
    int(WINAPI* PayloadCancel)(DeliveryJob*) = nullptr;
    int(WINAPI* PayloadClose)(DeliveryJob*) = nullptr;

    int(WINAPI* StylePage)(HWND, HBITMAP, COLORREF, COLORREF, COLORREF, int, int, int, int, int, int) = nullptr;
    int(WINAPI* StylePrompt)(HWND, HWND, HWND, HWND, HWND, HWND, int, int) = nullptr;
    int(WINAPI* StyleButton)(HWND, COLORREF, COLORREF, COLORREF, COLORREF, COLORREF, COLORREF, COLORREF, int,
                             int) = nullptr;
    int(WINAPI* StyleInput)(HWND, COLORREF, COLORREF, COLORREF, COLORREF, int, int) = nullptr;
    int(WINAPI* StyleWindow)(HWND, COLORREF, COLORREF) = nullptr;
    int(WINAPI* StyleWindowFrame)(HWND) = nullptr;
    int(WINAPI* StylePreviewProgress)(HWND) = nullptr;
    int(WINAPI* HideProgressDetails)(HWND) = nullptr;
    HWND(WINAPI* CreateFailureClose)(HWND, HFONT) = nullptr;
    HWND(WINAPI* CreateFailureText)(HWND, HFONT, const wchar_t*) = nullptr;
    HFONT(WINAPI* FontForDpi)(HWND, HFONT, const wchar_t*, int, int) = nullptr;
    int(WINAPI* FontLineHeight)(HWND, HFONT) = nullptr;

    // Loads both DLLs from beside the program; false (with the missing name) if any export is missing.
    bool Load(const wchar_t** missing);
    ~Libraries();
};
