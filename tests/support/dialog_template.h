// Real dialogs for window tests, built from in-memory templates in "MS Shell Dlg" 8 so that
// dialog units convert as on a host installer's dialogs.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

struct DialogItem {
    std::wstring className;  // "BUTTON", "EDIT", "STATIC", "msctls_progress32", ...
    WORD id;
    DWORD style;             // WS_CHILD | WS_VISIBLE are added
    short x, y, cx, cy;      // dialog units
    std::wstring text;
    DWORD exStyle = 0;
};

// A modeless dialog destroyed with the object. Shown unless asked otherwise.
class TestDialog {
public:
    explicit TestDialog(const std::vector<DialogItem>& items, bool shown = true,
                        short cx = 300, short cy = 130,
                        DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME);
    ~TestDialog();
    TestDialog(const TestDialog&) = delete;
    TestDialog& operator=(const TestDialog&) = delete;

    HWND Get() const { return window_; }
    HWND Item(int id) const { return GetDlgItem(window_, id); }
    void Destroy();

private:
    HWND window_ = nullptr;
};

// Dispatches every message waiting for this thread.
void PumpMessages();

// A window's rectangle in its parent's client coordinates.
RECT RectInParent(HWND window);

// The client area's distance from each edge of the window rectangle.
struct Insets {
    int left, top, right, bottom;
};
Insets ClientInsets(HWND window);

// A copy of a window's whole surface (non-client area included) as 0x00RRGGBB pixels.
struct WindowPixels {
    int width = 0;
    int height = 0;
    std::vector<DWORD> pixels;
    DWORD At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};
WindowPixels CaptureWindow(HWND window);
