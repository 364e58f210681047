#include "support/dialog_template.h"

#include "samples/gallery/dialog_template.h"

TestDialog::TestDialog(const std::vector<DialogItem>& items, bool shown, short cx, short cy,
                       DWORD style)
{
    std::vector<dialogtemplate::Item> laid;
    for (const DialogItem& item : items) {
        laid.push_back({item.className.c_str(), item.text.c_str(), item.style, item.x, item.y,
                        item.cx, item.cy, item.id, item.exStyle});
    }
    window_ = dialogtemplate::Create({style, 10, 10, cx, cy, L"qel test"}, laid);
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

Insets ClientInsets(HWND window)
{
    RECT outer, client;
    GetWindowRect(window, &outer);
    GetClientRect(window, &client);
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    return {origin.x - outer.left, origin.y - outer.top, outer.right - (origin.x + client.right),
            outer.bottom - (origin.y + client.bottom)};
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
