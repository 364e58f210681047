#include "support/dialog_template.h"

namespace {

void Align(std::vector<WORD>& words, size_t units)
{
    while (words.size() % units != 0) words.push_back(0);
}

void PushDword(std::vector<WORD>& words, DWORD value)
{
    words.push_back(LOWORD(value));
    words.push_back(HIWORD(value));
}

void PushText(std::vector<WORD>& words, const std::wstring& text)
{
    for (wchar_t c : text) words.push_back(static_cast<WORD>(c));
    words.push_back(0);
}

INT_PTR CALLBACK QuietDialogProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

}  // namespace

TestDialog::TestDialog(const std::vector<DialogItem>& items, bool shown, short cx, short cy,
                       DWORD style)
{
    std::vector<WORD> words;  // DLGTEMPLATE: DWORD-aligned, items DWORD-aligned
    PushDword(words, style | DS_SETFONT);
    PushDword(words, 0);
    words.push_back(static_cast<WORD>(items.size()));
    words.push_back(10);  // x
    words.push_back(10);  // y
    words.push_back(static_cast<WORD>(cx));
    words.push_back(static_cast<WORD>(cy));
    words.push_back(0);  // no menu
    words.push_back(0);  // default class
    PushText(words, L"qel test");
    words.push_back(8);
    PushText(words, L"MS Shell Dlg");
    for (const DialogItem& item : items) {
        Align(words, 2);
        PushDword(words, item.style | WS_CHILD | WS_VISIBLE);
        PushDword(words, item.exStyle);
        words.push_back(static_cast<WORD>(item.x));
        words.push_back(static_cast<WORD>(item.y));
        words.push_back(static_cast<WORD>(item.cx));
        words.push_back(static_cast<WORD>(item.cy));
        words.push_back(item.id);
        PushText(words, item.className);
        PushText(words, item.text);
        words.push_back(0);  // no creation data
    }
    Align(words, 2);
    window_ = CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                         reinterpret_cast<DLGTEMPLATE*>(words.data()), nullptr,
                                         QuietDialogProc, 0);
    if (window_ != nullptr && shown) {
        ShowWindow(window_, SW_SHOW);
        UpdateWindow(window_);
    }
}

TestDialog::~TestDialog()
{
    Destroy();
}

void TestDialog::Destroy()
{
    if (window_ != nullptr) DestroyWindow(window_);
    window_ = nullptr;
}

void PumpMessages()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

RECT RectInParent(HWND window)
{
    RECT rect = {};
    GetWindowRect(window, &rect);
    MapWindowPoints(HWND_DESKTOP, GetParent(window), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

WindowPixels CaptureWindow(HWND window)
{
    WindowPixels shot;
    RECT rect = {};
    GetWindowRect(window, &rect);
    shot.width = rect.right - rect.left;
    shot.height = rect.bottom - rect.top;
    if (shot.width <= 0 || shot.height <= 0) return shot;

    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = shot.width;
    info.bmiHeader.biHeight = -shot.height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC screen = GetWindowDC(window);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, shot.width, shot.height, screen, 0, 0, SRCCOPY);
    GdiFlush();
    const DWORD* source = static_cast<const DWORD*>(bits);
    shot.pixels.assign(source, source + static_cast<size_t>(shot.width) * shot.height);
    for (DWORD& pixel : shot.pixels) pixel &= 0x00FFFFFF;
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(window, screen);
    return shot;
}
