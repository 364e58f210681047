// A skinned page with a picture in its band, a prompt card and styled buttons. Saves the window
// as a 24-bit BMP to the path given on the command line, then exits.
#include <windows.h>

#include <commctrl.h>

#include <vector>

#include "samples/gallery/dialog_template.h"
#include "skinning/style.h"

namespace {

// An 8-bit picture: concentric rings of indices, so the ramp shows as shades.
HBITMAP MakePicture()
{
    std::vector<BYTE> info(sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD));
    BITMAPINFO* bi = reinterpret_cast<BITMAPINFO*>(info.data());
    bi->bmiHeader = {sizeof(BITMAPINFOHEADER), 128, -128, 1, 8, BI_RGB, 0, 0, 0, 256, 0};
    for (int i = 0; i < 256; ++i) bi->bmiColors[i] = {BYTE(i), BYTE(i), BYTE(i), 0};
    bi->bmiColors[255] = {0xD0, 0x80, 0x20, 0};  // accent for the waves
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    BYTE* p = static_cast<BYTE*>(bits);
    for (int y = 0; y < 128; ++y) {
        for (int x = 0; x < 128; ++x) {
            int dx = x - 64, dy = y - 64, d2 = dx * dx + dy * dy;
            p[y * 128 + x] = d2 > 60 * 60 ? 0 : static_cast<BYTE>(255 - (d2 % 900) / 4);
        }
    }
    GdiFlush();
    return bitmap;
}

void SaveBmp(HWND window, const wchar_t* path)
{
    RECT r;
    GetClientRect(window, &r);
    HDC screen = GetDC(window);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO bi = {};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), r.right, -r.bottom, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(memory, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, dib);
    BitBlt(memory, 0, 0, r.right, r.bottom, screen, 0, 0, SRCCOPY);
    GdiFlush();
    DWORD stride = (r.right * 3 + 3) & ~3u, size = stride * r.bottom;
    BITMAPFILEHEADER file = {0x4D42, static_cast<DWORD>(sizeof file + sizeof bi.bmiHeader + size), 0, 0,
                             static_cast<DWORD>(sizeof file + sizeof bi.bmiHeader)};
    HANDLE out = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written;
    WriteFile(out, &file, sizeof file, &written, nullptr);
    WriteFile(out, &bi.bmiHeader, sizeof bi.bmiHeader, &written, nullptr);
    WriteFile(out, bits, size, &written, nullptr);
    CloseHandle(out);
    SelectObject(memory, old);
    DeleteObject(dib);
    DeleteDC(memory);
    ReleaseDC(window, screen);
}

void Pump(DWORD milliseconds)
{
    DWORD end = GetTickCount() + milliseconds;
    MSG msg;
    while (GetTickCount() < end) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(10);
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    // Every control at (0, 0, 40, 10): StylePrompt places them.
    HWND page = dialogtemplate::Create(
        {WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE, 0, 0, 300, 250, L"Setup"},
        {{L"STATIC", L"Install the application", SS_LEFT, 0, 0, 40, 10, 11},
         {L"STATIC", L"The application and its files will be copied to this computer. "
                     L"This takes about a minute.", SS_LEFT, 0, 0, 40, 10, 12},
         {L"STATIC", L"Version 1.0", SS_LEFT, 0, 0, 40, 10, 13},
         {L"BUTTON", L"Install", BS_DEFPUSHBUTTON | WS_TABSTOP, 0, 0, 40, 10, 1},
         {L"BUTTON", L"Cancel", BS_PUSHBUTTON | WS_TABSTOP, 0, 0, 40, 10, 2}});
    HBITMAP picture = MakePicture();
    const COLORREF base = RGB(0xF7, 0xF4, 0xEE), band = RGB(0x2A, 0x4B, 0x7C), pictureColor = RGB(0xF2, 0xC1, 0x6B);
    StylePage(page, picture, base, band, pictureColor, 90, 5, 20, 80, 80, 200);
    StylePrompt(page, GetDlgItem(page, 11), GetDlgItem(page, 12), GetDlgItem(page, 13), GetDlgItem(page, 1),
                GetDlgItem(page, 2), 1, 10);
    StyleButton(GetDlgItem(page, 1), band, RGB(0x1C, 0x36, 0x5C), RGB(255, 255, 255), RGB(0xB0, 0xB0, 0xB0),
                band, RGB(0x70, 0x70, 0x70), RGB(0xF2, 0xC1, 0x6B), 1, 6);
    StyleButton(GetDlgItem(page, 2), RGB(0xF7, 0xF4, 0xEE), RGB(0xE4, 0xDE, 0xD2), band, RGB(0xB0, 0xB0, 0xB0),
                band, RGB(0x70, 0x70, 0x70), RGB(0xF2, 0xC1, 0x6B), 0, 6);
    RedrawWindow(page, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Pump(1500);
    if (argc > 1) SaveBmp(page, argv[1]);
    DestroyWindow(page);
    DeleteObject(picture);
    LocalFree(argv);
    return 0;
}
