// Gallery: a host-like dialog turned into a failure page (close button, failure text), with two
// styled edit fields (one focused) and a frozen preview progress bar, saved as a picture.
//
//   failure_gallery.exe OUTPUT.bmp
//
// The dialog is built from an in-memory template in "MS Shell Dlg" 8, like the host's pages,
// shown, painted, and its whole window (frame included) copied into a 32-bit BMP file.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include "samples/gallery/dialog_template.h"
#include "skinning/style.h"

namespace {

constexpr int kFieldId = 200;
constexpr int kFocusedFieldId = 201;
constexpr int kBarId = 202;

// The host's page: its three push buttons (which the failure page hides), a heading, two edit
// fields and a progress bar.
HWND CreateHostDialog()
{
    return dialogtemplate::Create(
        {WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, 0, 0, 300, 130, L"安装程序"},
        {{L"BUTTON", L"下一步", WS_TABSTOP | BS_DEFPUSHBUTTON, 120, 106, 50, 14, 1},
         {L"BUTTON", L"上一步", WS_TABSTOP, 175, 106, 50, 14, 3},
         {L"BUTTON", L"取消", WS_TABSTOP, 230, 106, 50, 14, 2},
         {L"STATIC", L"安装未完成", 0, 10, 10, 96, 40, 100},
         {L"EDIT", L"C:\\Program Files", WS_TABSTOP | ES_AUTOHSCROLL, 114, 8, 80, 16, kFieldId},
         {L"EDIT", L"焦点", WS_TABSTOP | ES_AUTOHSCROLL, 200, 8, 80, 16, kFocusedFieldId},
         {L"msctls_progress32", L"", 0, 114, 34, 166, 10, kBarId}});
}

void Pump()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// Copies one window's surface, frame included, into dc at the window's place relative to origin.
void CopyWindow(HWND window, HDC dc, POINT origin)
{
    RECT rect;
    GetWindowRect(window, &rect);
    HDC source = GetWindowDC(window);
    BitBlt(dc, rect.left - origin.x, rect.top - origin.y, rect.right - rect.left,
           rect.bottom - rect.top, source, 0, 0, SRCCOPY);
    ReleaseDC(window, source);
}

// Copies the window and its visible children into a bottom-up 32-bit BMP file. Under Wine's
// null display driver the top-level window's DC does not show its children's pixels, so each
// child is copied from its own DC, bottom of the Z order first.
bool SaveWindow(HWND window, const wchar_t* path)
{
    RECT rect;
    GetWindowRect(window, &rect);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 32;
    header.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC memory = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateDIBSection(memory, reinterpret_cast<BITMAPINFO*>(&header),
                                      DIB_RGB_COLORS, &bits, nullptr, 0);
    bool saved = false;
    if (bitmap != nullptr) {
        HGDIOBJ previous = SelectObject(memory, bitmap);
        const POINT origin = {rect.left, rect.top};
        CopyWindow(window, memory, origin);
        for (HWND child = GetWindow(GetWindow(window, GW_CHILD), GW_HWNDLAST); child != nullptr;
             child = GetWindow(child, GW_HWNDPREV)) {
            if (IsWindowVisible(child)) CopyWindow(child, memory, origin);
        }
        GdiFlush();
        // Opaque everywhere: GDI leaves the fourth byte as it pleases, and image converters read
        // a BMP with any nonzero fourth byte as one with transparency.
        auto* pixel = static_cast<DWORD*>(bits);
        for (int i = 0; i < width * height; ++i) pixel[i] |= 0xFF000000u;
        const DWORD size = static_cast<DWORD>(width) * height * 4;
        BITMAPFILEHEADER file = {};
        file.bfType = 0x4D42;  // "BM"
        file.bfOffBits = sizeof file + sizeof header;
        file.bfSize = file.bfOffBits + size;
        HANDLE out = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
        if (out != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            saved = WriteFile(out, &file, sizeof file, &written, nullptr) &&
                    WriteFile(out, &header, sizeof header, &written, nullptr) &&
                    WriteFile(out, bits, size, &written, nullptr) && written == size;
            CloseHandle(out);
        }
        SelectObject(memory, previous);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    return saved;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr || argc < 2) return 2;
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    HWND dialog = CreateHostDialog();
    if (dialog == nullptr) return 1;
    HFONT font = FontForDpi(dialog, nullptr, L"Tahoma", 9, FW_NORMAL);
    HFONT heading = FontForDpi(dialog, nullptr, L"Tahoma", 14, FW_BOLD);
    SendMessageW(GetDlgItem(dialog, 100), WM_SETFONT, reinterpret_cast<WPARAM>(heading), FALSE);

    StyleWindow(dialog, RGB(32, 36, 44), RGB(240, 240, 240));
    StyleWindowFrame(dialog);
    SetWindowTextW(dialog, L"安装程序");  // stays empty
    CreateFailureClose(dialog, font);
    CreateFailureText(dialog, font,
                      L"应用包准备失败，未开始安装。请检查网络连接和磁盘空间后重新运行安装程序。"
                      L"（错误码 12002）");

    const int line = FontLineHeight(dialog, font);
    for (int id : {kFieldId, kFocusedFieldId}) {
        HWND field = GetDlgItem(dialog, id);
        SendMessageW(field, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        StyleInput(field, GetSysColor(COLOR_BTNFACE), RGB(255, 255, 255), RGB(160, 166, 176),
                   RGB(0, 120, 215), 6, line > 0 ? line : 16);
    }
    HWND bar = GetDlgItem(dialog, kBarId);
    StylePreviewProgress(bar);
    SendMessageW(bar, PBM_SETPOS, 90, 0);           // ignored: the bar is frozen
    SendMessageW(bar, WM_PREVIEW_SETPOS, 40, 0);    // only this moves it

    ShowWindow(dialog, SW_SHOW);
    SetFocus(GetDlgItem(dialog, kFocusedFieldId));
    Pump();
    RedrawWindow(dialog, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Pump();
    Sleep(200);  // an X server may need a moment to show the window
    Pump();

    const bool saved = SaveWindow(dialog, argv[1]);
    DestroyWindow(dialog);
    DeleteObject(font);
    DeleteObject(heading);
    LocalFree(argv);
    return saved ? 0 : 1;
}
