// The main window's frame: window manager attributes, the tool-window styles, the caption that
// stays empty, and the close command of the failure page.
#include <gtest/gtest.h>

#include <dwmapi.h>

#include <string>
#include <vector>

#include "skinning/style.h"
#include "support/dialog_template.h"
#include "support/import_patch.h"
#include "support/skin_subclasses.h"

namespace {

// DwmSetWindowAttribute as qelskin calls it. Wine's window manager accepts every attribute (it
// is a stub returning S_OK), so the values are observed here, on their way to the real call.
// To see StyleWindow stop at a refusal, which Wine never gives, the recorder can refuse one
// attribute: it still makes the real call, then reports E_ACCESSDENIED.
struct Attribute {
    HWND window;
    DWORD attribute;
    DWORD size;
    DWORD value;
};
std::vector<Attribute> attributes;
DWORD refused = 0;
decltype(&DwmSetWindowAttribute) realSetAttribute;
HRESULT WINAPI RecordAttribute(HWND window, DWORD attribute, LPCVOID value, DWORD size)
{
    attributes.push_back({window, attribute, size,
                          size == 4 && value != nullptr ? *static_cast<const DWORD*>(value) : 0xDEAD});
    HRESULT result = realSetAttribute(window, attribute, value, size);
    return attribute == refused ? E_ACCESSDENIED : result;
}

class AttributeWatch {
public:
    AttributeWatch()
        : patch_(SkinModule(), "dwmapi.dll", "DwmSetWindowAttribute",
                 reinterpret_cast<void*>(RecordAttribute))
    {
        realSetAttribute = patch_.OriginalAs<decltype(&DwmSetWindowAttribute)>();
        attributes.clear();
        refused = 0;
    }
    bool Active() const { return patch_.Active(); }

private:
    ImportPatch patch_;
};

int Luminance(COLORREF c)
{
    return 299 * GetRValue(c) + 587 * GetGValue(c) + 114 * GetBValue(c);
}

TEST(StyleWindow, SetsDarkModeAndColoursInOrder)
{
    AttributeWatch watch;
    ASSERT_TRUE(watch.Active());
    TestDialog dialog({});
    struct Case {
        COLORREF caption, text;
        DWORD dark;
    } const cases[] = {
        {RGB(0, 0, 0), RGB(255, 255, 255), TRUE},    // black caption, white text: dark
        {RGB(255, 255, 255), RGB(0, 0, 0), FALSE},   // the reverse: light
        {RGB(51, 10, 10), RGB(55, 0, 51), FALSE},    // equal luminance, other colours: light
        {RGB(40, 40, 40), RGB(40, 40, 40), FALSE},   // the same colour: light
        {RGB(0, 0, 254), RGB(0, 0, 255), TRUE},      // one step darker is dark
        {RGB(200, 0, 0), RGB(0, 120, 0), TRUE},      // red 59800 against green 70440
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.caption << " / " << c.text);
        ASSERT_EQ(Luminance(c.caption) < Luminance(c.text), c.dark != FALSE);  // the table itself
        attributes.clear();
        EXPECT_EQ(StyleWindow(dialog.Get(), c.caption, c.text), 1);
        ASSERT_EQ(attributes.size(), 4u);
        const DWORD order[4] = {20, 35, 36, 34};
        const DWORD values[4] = {c.dark, c.caption, c.text, c.caption};
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(attributes[i].window, dialog.Get());
            EXPECT_EQ(attributes[i].attribute, order[i]);
            EXPECT_EQ(attributes[i].size, 4u);
            EXPECT_EQ(attributes[i].value, values[i]) << "attribute " << order[i];
        }
    }
}

TEST(StyleWindow, StopsAtTheFirstRefusedAttribute)
{
    AttributeWatch watch;
    ASSERT_TRUE(watch.Active());
    TestDialog dialog({});
    const DWORD order[4] = {20, 35, 36, 34};
    for (int refusedAt = 0; refusedAt < 4; ++refusedAt) {
        SCOPED_TRACE(order[refusedAt]);
        attributes.clear();
        refused = order[refusedAt];
        EXPECT_EQ(StyleWindow(dialog.Get(), RGB(0, 0, 0), RGB(255, 255, 255)), 0);
        ASSERT_EQ(attributes.size(), static_cast<size_t>(refusedAt + 1));
        EXPECT_EQ(attributes.back().attribute, order[refusedAt]);
    }
}

// A top-level window whose own procedure records the WM_COMMAND it receives.
std::vector<WPARAM> commands;
LRESULT CALLBACK HostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND) commands.push_back(wParam);
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND HostWindow(DWORD style, DWORD exStyle)
{
    static ATOM atom = [] {
        WNDCLASSW type = {};
        type.lpfnWndProc = HostProc;
        type.hInstance = GetModuleHandleW(nullptr);
        type.lpszClassName = L"QelFrameHost";
        return RegisterClassW(&type);
    }();
    return CreateWindowExW(exStyle, reinterpret_cast<LPCWSTR>(static_cast<UINT_PTR>(atom)),
                           L"Host title", style, 50, 50, 400, 300, nullptr, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

std::wstring TextOf(HWND window)
{
    wchar_t text[64] = L"unread";
    GetWindowTextW(window, text, 64);
    return text;
}

bool CloseWaiting(HWND window)
{
    MSG message;
    return PeekMessageW(&message, window, WM_CLOSE, WM_CLOSE, PM_REMOVE) != FALSE;
}

TEST(StyleWindowFrame, ClearsSizingAndBoxesAndSetsToolFrame)
{
    struct Case {
        DWORD style, exStyle;
    } const cases[] = {
        {WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, WS_EX_ACCEPTFILES},
        {WS_POPUP | WS_CAPTION | WS_SYSMENU, 0},
        {WS_POPUP | WS_CAPTION | WS_THICKFRAME | WS_MINIMIZEBOX, WS_EX_CONTROLPARENT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.style);
        HWND window = HostWindow(c.style, c.exStyle);
        ASSERT_NE(window, nullptr);
        const LONG style = GetWindowLongW(window, GWL_STYLE);
        const LONG exStyle = GetWindowLongW(window, GWL_EXSTYLE);
        ASSERT_NE(StyleWindowFrame(window), 0);
        EXPECT_EQ(GetWindowLongW(window, GWL_STYLE),
                  style & ~(WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
        // The window manager adds WS_EX_WINDOWEDGE to a window with a modal frame by itself.
        EXPECT_EQ(GetWindowLongW(window, GWL_EXSTYLE) & ~WS_EX_WINDOWEDGE,
                  (exStyle | WS_EX_DLGMODALFRAME | WS_EX_TOOLWINDOW | WS_EX_APPWINDOW) &
                      ~WS_EX_WINDOWEDGE);
        EXPECT_TRUE(GetWindowLongW(window, GWL_STYLE) & WS_CAPTION);
        DestroyWindow(window);
    }
}

TEST(StyleWindowFrame, CaptionTextStaysEmpty)
{
    HWND window = HostWindow(WS_OVERLAPPEDWINDOW, 0);
    ASSERT_EQ(TextOf(window), L"Host title");
    ASSERT_NE(StyleWindowFrame(window), 0);
    EXPECT_EQ(TextOf(window), L"");
    EXPECT_TRUE(SetWindowTextW(window, L"Installer 2.0"));
    EXPECT_EQ(TextOf(window), L"");
    EXPECT_EQ(GetWindowTextLengthW(window), 0);
    SendMessageW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"by message"));
    EXPECT_EQ(TextOf(window), L"");
    DestroyWindow(window);
}

TEST(StyleWindowFrame, CloseCommandPostsCloseOnlyForCodeZero)
{
    HWND window = HostWindow(WS_OVERLAPPEDWINDOW, 0);
    ASSERT_NE(StyleWindowFrame(window), 0);
    PumpMessages();
    commands.clear();

    EXPECT_EQ(SendMessageW(window, WM_COMMAND, MAKEWPARAM(FAILURE_CLOSE_ID, 0), 0), 0);
    EXPECT_TRUE(CloseWaiting(window));
    EXPECT_TRUE(commands.empty());  // not passed on

    for (WORD code : {WORD(1), WORD(BN_SETFOCUS), WORD(0x8000)}) {
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(FAILURE_CLOSE_ID, code), 0);
        EXPECT_FALSE(CloseWaiting(window)) << code;
    }
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, 0), 0);
    EXPECT_FALSE(CloseWaiting(window));
    // The other codes and ids went on to the window's own procedure.
    EXPECT_EQ(commands.size(), 4u);
    DestroyWindow(window);
}

TEST(StyleWindowFrame, FailurePageCloseButtonClosesTheWindow)
{
    TestDialog dialog({{L"BUTTON", 1, 0, 10, 10, 40, 14, L"1"},
                       {L"BUTTON", 2, 0, 60, 10, 40, 14, L"2"},
                       {L"BUTTON", 3, 0, 110, 10, 40, 14, L"3"}});
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(dialog.Get(), WM_GETFONT, 0, 0));
    HWND close = CreateFailureClose(dialog.Get(), font);
    ASSERT_NE(close, nullptr);
    ASSERT_NE(StyleWindowFrame(dialog.Get()), 0);
    PumpMessages();
    SendMessageW(close, BM_CLICK, 0, 0);
    EXPECT_TRUE(CloseWaiting(dialog.Get()));
}

TEST(StyleWindowFrame, RefusesNoWindowAndRemovesItselfOnDestroy)
{
    EXPECT_EQ(StyleWindowFrame(nullptr), 0);
    EXPECT_EQ(StyleWindowFrame(reinterpret_cast<HWND>(0x7654321)), 0);

    SubclassWatch subclasses;
    ASSERT_TRUE(subclasses.Active());
    HWND window = HostWindow(WS_OVERLAPPEDWINDOW, 0);
    ASSERT_NE(StyleWindowFrame(window), 0);
    ASSERT_EQ(subclasses.InstalledOn(window).size(), 1u);
    EXPECT_EQ(subclasses.InstalledOn(window)[0].id, 1u);
    EXPECT_EQ(subclasses.InstalledOn(window)[0].data, 0u);
    DestroyWindow(window);
    EXPECT_TRUE(subclasses.AllRemovedFrom(window));
}

}  // namespace
