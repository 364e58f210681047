// A host may unload qelskin.dll right after its last call while styled windows live on (NSIS
// does with "?u"). This program does not link the library: it loads it, styles every kind of
// window, frees it, keeps using the windows and then destroys them; the library must stay
// mapped for as long as a styled window lives and be gone once the last one is destroyed.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <vector>

#include "skinning/style.h"
#include "support/skin_windows.h"

using namespace skintest;

namespace {

constexpr wchar_t kLibrary[] = L"qelskin.dll";

// The exports, looked up in a library loaded at run time.
struct Skin {
    HMODULE module = nullptr;
    decltype(&StylePage) stylePage = nullptr;
    decltype(&StylePrompt) stylePrompt = nullptr;
    decltype(&StyleButton) styleButton = nullptr;
    decltype(&StyleInput) styleInput = nullptr;
    decltype(&StyleWindowFrame) styleWindowFrame = nullptr;
    decltype(&StylePreviewProgress) stylePreviewProgress = nullptr;
    decltype(&HideProgressDetails) hideProgressDetails = nullptr;
    decltype(&StyleStatusLine) styleStatusLine = nullptr;
    decltype(&CreateFailureClose) createFailureClose = nullptr;
    decltype(&CreateFailureText) createFailureText = nullptr;
};

template <typename F>
void Find(HMODULE module, const char* name, F* out)
{
    *out = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

Skin LoadSkin()
{
    Skin s;
    s.module = LoadLibraryW(kLibrary);
    if (s.module == nullptr) return s;
    Find(s.module, "StylePage", &s.stylePage);
    Find(s.module, "StylePrompt", &s.stylePrompt);
    Find(s.module, "StyleButton", &s.styleButton);
    Find(s.module, "StyleInput", &s.styleInput);
    Find(s.module, "StyleWindowFrame", &s.styleWindowFrame);
    Find(s.module, "StylePreviewProgress", &s.stylePreviewProgress);
    Find(s.module, "HideProgressDetails", &s.hideProgressDetails);
    Find(s.module, "StyleStatusLine", &s.styleStatusLine);
    Find(s.module, "CreateFailureClose", &s.createFailureClose);
    Find(s.module, "CreateFailureText", &s.createFailureText);
    return s;
}

bool Complete(const Skin& s)
{
    return s.module && s.stylePage && s.stylePrompt && s.styleButton && s.styleInput &&
           s.styleWindowFrame && s.stylePreviewProgress && s.hideProgressDetails &&
           s.styleStatusLine && s.createFailureClose && s.createFailureText;
}

void Pump()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// The thread pool lets go of the last reference shortly after the last window went; allow a
// loaded machine several seconds.
bool LibraryGone()
{
    for (int i = 0; i < 500; ++i) {
        Pump();
        if (GetModuleHandleW(kLibrary) == nullptr) return true;
        Sleep(10);
    }
    return false;
}

// Every kind of window the library subclasses, on one main window with an inner page.
struct Host {
    HWND main = nullptr;   // buttons 1, 2, 3; frame styled; failure close button and text
    HWND page = nullptr;   // skinned page with prompt, progress bar, details, an edit field
    HWND group = nullptr;  // a container inside the page holding a styled button
    HBITMAP bitmap = nullptr;
    HFONT font = nullptr;
};

Host MakeHost()
{
    Host h;
    h.main = CreateDialogFromTemplate(nullptr, WS_POPUP | WS_VISIBLE, 300, 200,
                                      {{L"BUTTON", L"Next", BS_PUSHBUTTON, 160, 180, 40, 14, 1},
                                       {L"BUTTON", L"Cancel", BS_PUSHBUTTON, 250, 180, 40, 14, 2},
                                       {L"BUTTON", L"Back", BS_PUSHBUTTON, 110, 180, 40, 14, 3}});
    h.page = CreateDialogFromTemplate(
        h.main, WS_CHILD | WS_VISIBLE, 300, 170,
        {{L"STATIC", L"One", SS_LEFT, 120, 10, 60, 8, 10},
         {L"STATIC", L"Two", SS_LEFT, 120, 20, 60, 8, 11},
         {L"STATIC", L"Three", SS_LEFT, 120, 30, 60, 8, 12},
         {L"BUTTON", L"Yes", BS_PUSHBUTTON, 120, 40, 40, 14, 13},
         {L"BUTTON", L"No", BS_PUSHBUTTON, 170, 40, 30, 14, 14},
         {L"EDIT", L"text", WS_BORDER | ES_AUTOHSCROLL, 120, 60, 100, 14, 15},
         {L"msctls_progress32", L"", 0, 120, 80, 100, 10, 16},
         {L"BUTTON", L"Details", BS_PUSHBUTTON, 120, 100, 40, 14, 1027},
         {L"LISTBOX", L"", 0, 120, 120, 100, 30, 1016},
         {L"STATIC", L"status", SS_LEFT, 120, 155, 100, 8, 1006}});
    h.group = CreateDialogFromTemplate(h.page, WS_CHILD | WS_VISIBLE, 60, 30,
                                       {{L"BUTTON", L"Inner", BS_PUSHBUTTON, 5, 5, 40, 14, 20}});
    h.bitmap = MakeIndexedBitmap(16, 16, 200, std::vector<COLORREF>(256, RGB(9, 9, 9)));
    h.font = reinterpret_cast<HFONT>(SendMessageW(h.main, WM_GETFONT, 0, 0));
    return h;
}

// Styles every kind; each step must succeed or the test proves less than it claims.
void StyleEverything(const Skin& s, const Host& h)
{
    ASSERT_EQ(s.stylePage(h.page, h.bitmap, RGB(240, 240, 240), RGB(20, 40, 60), RGB(200, 100, 0),
                          40, 2, 2, 30, 30, 200), 1);
    ASSERT_EQ(s.stylePrompt(h.page, GetDlgItem(h.page, 10), GetDlgItem(h.page, 11),
                            GetDlgItem(h.page, 12), GetDlgItem(h.page, 13), GetDlgItem(h.page, 14),
                            1, 8), 1);
    ASSERT_EQ(s.styleButton(GetDlgItem(h.page, 13), 1, 2, 3, 4, 5, 6, 7, 0, 4), 1);
    ASSERT_EQ(s.styleButton(GetDlgItem(h.group, 20), 1, 2, 3, 4, 5, 6, 7, 1, 4), 1);
    ASSERT_NE(s.styleInput(GetDlgItem(h.page, 15), 1, 2, 3, 4, 4, 13), 0);
    ASSERT_NE(s.stylePreviewProgress(GetDlgItem(h.page, 16)), 0);
    ASSERT_EQ(s.hideProgressDetails(h.page), 1);
    ASSERT_NE(s.styleStatusLine(GetDlgItem(h.page, 1006)), 0);
    ASSERT_NE(s.styleWindowFrame(h.main), 0);
    ASSERT_NE(s.createFailureClose(h.main, h.font), nullptr);
    ASSERT_NE(s.createFailureText(h.main, h.font, L"failed"), nullptr);
}

// Messages that reach every subclass procedure.
void Exercise(const Host& h)
{
    Canvas canvas(700, 500);
    for (HWND w : {h.page, h.group, GetDlgItem(h.page, 13), GetDlgItem(h.group, 20)}) {
        Paint(w, canvas);
        Paint(w, canvas, WM_ERASEBKGND);
    }
    SendMessageW(h.page, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(canvas.Dc()),
                 reinterpret_cast<LPARAM>(GetDlgItem(h.page, 10)));
    RedrawWindow(h.main, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    HWND edit = GetDlgItem(h.page, 15);
    SetFocus(edit);
    SetFocus(GetDlgItem(h.page, 13));
    SetWindowPos(edit, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_FRAMECHANGED);
    HWND bar = GetDlgItem(h.page, 16);
    SendMessageW(bar, PBM_SETPOS, 40, 0);
    SendMessageW(bar, WM_PREVIEW_SETPOS, 30, 0);
    EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 30) << "the frozen bar's subclass answered";
    for (const wchar_t* status : {L"one", L"one", L"two"}) SetWindowTextW(GetDlgItem(h.page, 1006), status);
    ShowWindow(GetDlgItem(h.page, 1027), SW_SHOW);
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(h.page, 1027)));
    ShowWindow(GetDlgItem(h.main, 1), SW_SHOW);
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(h.main, 1)));
    SetWindowTextW(h.main, L"caption");
    wchar_t caption[16] = L"x";
    GetWindowTextW(h.main, caption, 16);
    EXPECT_STREQ(caption, L"") << "the frame's subclass answered";
    Pump();
}

class Unload : public ::testing::Test {
protected:
    void SetUp() override
    {
        INITCOMMONCONTROLSEX init = {sizeof init, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&init);
        ASSERT_EQ(GetModuleHandleW(kLibrary), nullptr) << "this program must not link the library";
    }
};

TEST_F(Unload, StyledWindowsKeepTheLibraryUntilTheyAreDestroyed)
{
    Skin s = LoadSkin();
    ASSERT_TRUE(Complete(s));
    Host h = MakeHost();
    ASSERT_NE(h.group, nullptr);
    StyleEverything(s, h);
    if (HasFatalFailure()) return;

    EXPECT_TRUE(FreeLibrary(s.module));
    Sleep(50);
    Pump();
    ASSERT_NE(GetModuleHandleW(kLibrary), nullptr) << "unloaded while styled windows live";
    Exercise(h);  // would crash in unmapped code without the library's own references
    ASSERT_NE(GetModuleHandleW(kLibrary), nullptr);

    DestroyWindow(h.main);
    EXPECT_TRUE(LibraryGone()) << "a reference outlived the windows";
    DeleteObject(h.bitmap);
}

TEST_F(Unload, RestylingTakesNoFurtherReference)
{
    Skin s = LoadSkin();
    ASSERT_TRUE(Complete(s));
    Host h = MakeHost();
    StyleEverything(s, h);
    if (HasFatalFailure()) return;
    // Every export again on the same windows (a frozen bar refuses a second freeze).
    ASSERT_EQ(s.stylePage(h.page, h.bitmap, 1, 2, 3, 40, 2, 2, 30, 30, 100), 1);
    ASSERT_EQ(s.styleButton(GetDlgItem(h.page, 13), 1, 2, 3, 4, 5, 6, 7, 1, 4), 1);
    ASSERT_EQ(s.styleButton(GetDlgItem(h.group, 20), 1, 2, 3, 4, 5, 6, 7, 0, 4), 1);
    ASSERT_NE(s.styleInput(GetDlgItem(h.page, 15), 1, 2, 3, 4, 4, 13), 0);
    ASSERT_EQ(s.stylePreviewProgress(GetDlgItem(h.page, 16)), 0);
    ASSERT_EQ(s.hideProgressDetails(h.page), 1);
    ASSERT_NE(s.styleStatusLine(GetDlgItem(h.page, 1006)), 0);
    ASSERT_NE(s.styleWindowFrame(h.main), 0);
    FreeLibrary(s.module);
    Exercise(h);
    DestroyWindow(h.main);
    EXPECT_TRUE(LibraryGone());
    DeleteObject(h.bitmap);
}

TEST_F(Unload, WindowsDestroyedFirstLeaveOnlyTheHostsReference)
{
    Skin s = LoadSkin();
    ASSERT_TRUE(Complete(s));
    Host h = MakeHost();
    StyleEverything(s, h);
    if (HasFatalFailure()) return;
    DestroyWindow(h.main);
    // Failed calls take nothing either.
    EXPECT_EQ(s.hideProgressDetails(nullptr), 0);
    EXPECT_EQ(s.stylePreviewProgress(GetDesktopWindow()), 0);
    FreeLibrary(s.module);
    EXPECT_TRUE(LibraryGone());
    DeleteObject(h.bitmap);
}

TEST_F(Unload, RepeatedLoadStyleFreeDestroy)
{
    for (int i = 0; i < 20; ++i) {
        Skin s = LoadSkin();
        ASSERT_TRUE(Complete(s));
        Host h = MakeHost();
        StyleEverything(s, h);
        if (HasFatalFailure()) return;
        FreeLibrary(s.module);
        Exercise(h);
        DestroyWindow(h.main);
        ASSERT_TRUE(LibraryGone()) << "cycle " << i;
        DeleteObject(h.bitmap);
    }
}

}  // namespace

namespace {

constexpr UINT kDestroyYourself = WM_APP + 5;

// The host's own handling below the library's subclasses: destroys the window from inside a
// message and then takes its time before returning through them.
LRESULT CALLBACK HostDestroysOnRequest(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                       DWORD_PTR)
{
    if (message == kDestroyYourself) {
        DestroyWindow(window);
        Sleep(300);  // time enough for a thread pool to unload the library if it was let go now
        return 1;
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

TEST_F(Unload, WindowDestroyedInsideItsOwnMessageKeepsTheLibraryUntilItReturns)
{
    Skin s = LoadSkin();
    ASSERT_TRUE(Complete(s));
    HWND page = CreateDialogFromTemplate(nullptr, WS_POPUP | WS_VISIBLE, 200, 100,
                                         {{L"BUTTON", L"OK", BS_PUSHBUTTON, 10, 10, 40, 14, 1}});
    ASSERT_NE(page, nullptr);
    // Installed first, so it runs after (below) the library's page and container subclasses.
    ASSERT_TRUE(SetWindowSubclass(page, HostDestroysOnRequest, 3, 0));
    HBITMAP bitmap = MakeIndexedBitmap(8, 8, 1, std::vector<COLORREF>(256, RGB(1, 2, 3)));
    ASSERT_EQ(s.stylePage(page, bitmap, RGB(240, 240, 240), RGB(20, 40, 60), RGB(200, 100, 0), 40, 0, 0,
                          10, 10, 0), 1);
    ASSERT_EQ(s.styleButton(GetDlgItem(page, 1), 1, 2, 3, 4, 5, 6, 7, 0, 4), 1);
    FreeLibrary(s.module);
    EXPECT_EQ(SendMessageW(page, kDestroyYourself, 0, 0), 1);
    EXPECT_FALSE(IsWindow(page));
    EXPECT_TRUE(LibraryGone());
    DeleteObject(bitmap);
}

}  // namespace
