// High contrast: styled pages, buttons, edit frames and the failure page give up the host's
// colours for the system's while the setting is on, at start and when it changes while they are
// shown, and take the skin back when it goes off. Wine 8 cannot switch high contrast on, so the
// test answers qelskin's SPI_GETHIGHCONTRAST itself (through qelskin.dll's import table) and sends
// the change messages the system would broadcast.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <algorithm>

#include "skinning/style.h"
#include "support/dialog_template.h"
#include "support/import_patch.h"
#include "support/own_desktop.h"
#include "support/skin_windows.h"

namespace {

using skintest::Canvas;
using skintest::FromPixel;
using skintest::Texture;
using skintest::ToPixel;

constexpr COLORREF kBase = RGB(0xF4, 0xF0, 0xE8);
constexpr COLORREF kBand = RGB(0x20, 0x40, 0x80);
constexpr COLORREF kPicture = RGB(0xE0, 0x90, 0x30);
constexpr COLORREF kButtonFill = RGB(0x20, 0x60, 0xC0);
constexpr COLORREF kOuter = RGB(10, 20, 30);
constexpr COLORREF kFill = RGB(250, 240, 230);
constexpr COLORREF kBorder = RGB(0, 128, 255);
constexpr COLORREF kFocusBorder = RGB(255, 64, 0);
constexpr int kBandDu = 40;

// The tests read what the focused edit frame and buttons look like.
const auto* const ownDesktop = ::testing::AddGlobalTestEnvironment(new OwnDesktop(L"qel-contrast"));

// What qelskin is told about high contrast; every other query goes to the system.
bool contrastOn = false;
int contrastQueries = 0;
decltype(&SystemParametersInfoW) realParameters;
BOOL WINAPI AnswerParameters(UINT action, UINT value, void* data, UINT update)
{
    if (action != SPI_GETHIGHCONTRAST) return realParameters(action, value, data, update);
    ++contrastQueries;
    auto* setting = static_cast<HIGHCONTRASTW*>(data);
    if (setting == nullptr || setting->cbSize != sizeof(HIGHCONTRASTW)) return FALSE;
    setting->dwFlags = HCF_AVAILABLE | (contrastOn ? HCF_HIGHCONTRASTON : 0);
    setting->lpszDefaultScheme = nullptr;
    return TRUE;
}

class ContrastSwitch {
public:
    ContrastSwitch()
        : patch_(SkinModule(), "user32.dll", "SystemParametersInfoW", reinterpret_cast<void*>(AnswerParameters))
    {
        realParameters = patch_.OriginalAs<decltype(&SystemParametersInfoW)>();
        contrastOn = false;
        contrastQueries = 0;
    }
    ~ContrastSwitch() { contrastOn = false; }
    bool Active() const { return patch_.Active(); }

private:
    ImportPatch patch_;
};

COLORREF System(int index) { return GetSysColor(index); }

// A shown top-level dialog skinned as a page, as an installer's main window is: a styled
// button, a styled edit field and a static on it, and a plain button of the same size and text
// (the system's look to compare with). No control has id 1, so no button is the default one.
struct Bed {
    TestDialog dialog;
    HBITMAP picture = nullptr;
    HWND button = nullptr, edit = nullptr, label = nullptr, twin = nullptr;
    Bed()
        : dialog({{L"BUTTON", 5, WS_TABSTOP | BS_PUSHBUTTON, 120, 20, 60, 20, L"OK"},
                  {L"EDIT", 2, WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL, 120, 60, 100, 16, L"text", WS_EX_CLIENTEDGE},
                  {L"STATIC", 3, 0, 120, 90, 80, 10, L"label"},
                  {L"BUTTON", 6, WS_TABSTOP | BS_PUSHBUTTON, 190, 20, 60, 20, L"OK"}},
                 true, 260, 130, WS_POPUP | DS_MODALFRAME)
    {
        button = dialog.Item(5);
        edit = dialog.Item(2);
        label = dialog.Item(3);
        twin = dialog.Item(6);
        picture = skintest::MakeIndexedBitmap(4, 4, 0, std::vector<COLORREF>(256, RGB(0, 128, 0)));
    }
    ~Bed()
    {
        dialog.Destroy();
        DeleteObject(picture);
    }
    bool Style() const
    {
        return StylePage(dialog.Get(), picture, kBase, kBand, kPicture, kBandDu, 0, 0, 10, 10, 0) == 1 &&
               StyleButton(button, kButtonFill, RGB(0x10, 0x40, 0x90), RGB(255, 255, 0), RGB(160, 160, 160), kBand,
                           RGB(64, 0, 64), RGB(0, 224, 32), 1, 4) == 1 &&
               StyleInput(edit, kOuter, kFill, kBorder, kFocusBorder, 4, 13) != 0;
    }
    int BandRight() const { return skintest::DialogToPixels(dialog.Get(), {0, 0, kBandDu, 0}).right; }
    void Show()
    {
        RedrawWindow(dialog.Get(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
        PumpMessages();
    }
};

// Counts pixels of a colour in a surface.
int Count(const WindowPixels& shot, COLORREF colour)
{
    int count = 0;
    for (DWORD pixel : shot.pixels) count += pixel == ToPixel(colour);
    return count;
}

TEST(HighContrast, PageErasesInTheDialogColourAndLeavesItsStaticsAlone)
{
    ContrastSwitch contrast;
    ASSERT_TRUE(contrast.Active());
    Bed bed;
    ASSERT_TRUE(bed.Style());
    RECT client;
    GetClientRect(bed.dialog.Get(), &client);
    const int band = bed.BandRight();
    ASSERT_GT(band, 4);

    for (bool on : {false, true, false}) {
        SCOPED_TRACE(on ? "high contrast" : "skin");
        contrastOn = on;
        Canvas canvas(client.right, client.bottom);
        skintest::Paint(bed.dialog.Get(), canvas, WM_ERASEBKGND);
        for (int y : {0, 10, static_cast<int>(client.bottom / 2)}) {
            for (int x : {0, band - 1, band + 5, static_cast<int>(client.right - 1)}) {
                const COLORREF want = !on ? x < band ? Texture(kBand, kPicture, x, y) : Texture(kBase, kBand, x, y)
                                          : System(COLOR_BTNFACE);
                EXPECT_EQ(canvas.ColourAt(x, y), want) << x << "," << y;
            }
        }

        // The static's colours: the skin's pattern brush with a transparent background, or the
        // dialog's own answer.
        Canvas dc(4, 4);
        auto brush = reinterpret_cast<HBRUSH>(
            SendMessageW(bed.dialog.Get(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc.Dc()),
                         reinterpret_cast<LPARAM>(bed.label)));
        LOGBRUSH logical = {};
        ASSERT_EQ(GetObjectW(brush, sizeof logical, &logical), static_cast<int>(sizeof logical));
        if (on) {
            EXPECT_EQ(logical.lbStyle, static_cast<UINT>(BS_SOLID));
            EXPECT_EQ(logical.lbColor, System(COLOR_BTNFACE));
            EXPECT_EQ(GetBkMode(dc.Dc()), OPAQUE);
        } else {
            EXPECT_NE(logical.lbStyle, static_cast<UINT>(BS_SOLID));
            EXPECT_EQ(GetBkMode(dc.Dc()), TRANSPARENT);
        }
    }
    EXPECT_GT(contrastQueries, 0) << "qelskin never asked for the setting";
}

// The pixels a button paints of itself (WM_PRINTCLIENT, custom draw included).
std::vector<uint32_t> PaintedBy(HWND button)
{
    RECT client;
    GetClientRect(button, &client);
    Canvas canvas(client.right, client.bottom);
    skintest::Paint(button, canvas);
    return canvas.Pixels();
}

TEST(HighContrast, ButtonIsDrawnByTheSystem)
{
    ContrastSwitch contrast;
    ASSERT_TRUE(contrast.Active());
    Bed bed;
    ASSERT_TRUE(bed.Style());
    SetFocus(bed.edit);  // neither button shows focus
    RECT client;
    GetClientRect(bed.button, &client);
    for (bool on : {false, true, false}) {
        SCOPED_TRACE(on ? "high contrast" : "skin");
        contrastOn = on;
        // The custom draw the button sends its parent: drawn and the default skipped, or left
        // to the button.
        Canvas drawn(client.right, client.bottom);
        NMCUSTOMDRAW draw = {};
        draw.hdr = {bed.button, 5, static_cast<UINT>(NM_CUSTOMDRAW)};
        draw.dwDrawStage = CDDS_PREPAINT;
        draw.hdc = drawn.Dc();
        draw.rc = client;
        const LRESULT result = SendMessageW(bed.dialog.Get(), WM_NOTIFY, 5, reinterpret_cast<LPARAM>(&draw));
        EXPECT_EQ(result, on ? CDRF_DODEFAULT : CDRF_SKIPDEFAULT);
        EXPECT_EQ(drawn.At(client.right / 2, 2) == 0x00FF00FFu, on) << "the skin drew under high contrast";

        // The button's own painting is the system's: pixel for pixel what the plain twin paints.
        const std::vector<uint32_t> painted = PaintedBy(bed.button);
        const int fill = static_cast<int>(std::count(painted.begin(), painted.end(), ToPixel(kButtonFill)));
        if (on) {
            EXPECT_EQ(fill, 0);
            EXPECT_EQ(painted, PaintedBy(bed.twin)) << "not the system's look";
        } else {
            EXPECT_GT(fill, client.right * client.bottom / 2);
        }
    }
}

TEST(HighContrast, EditFrameInSystemColoursWithAWiderFocusBorder)
{
    ContrastSwitch contrast;
    ASSERT_TRUE(contrast.Active());
    Bed bed;
    ASSERT_TRUE(bed.Style());
    RECT window;
    GetWindowRect(bed.edit, &window);
    const int middle = (window.bottom - window.top) / 2;
    auto repaint = [&] {
        RedrawWindow(bed.edit, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_UPDATENOW);
        PumpMessages();
    };
    for (bool focused : {false, true}) {
        SetFocus(focused ? bed.edit : bed.button);
        for (bool on : {false, true, false}) {
            SCOPED_TRACE(testing::Message() << (on ? "high contrast" : "skin") << (focused ? ", focused" : ""));
            contrastOn = on;
            repaint();
            const WindowPixels shot = CaptureWindow(bed.edit);
            const COLORREF border = on ? System(focused ? COLOR_HIGHLIGHT : COLOR_WINDOWTEXT) : focused ? kFocusBorder : kBorder;
            EXPECT_EQ(FromPixel(shot.At(0, middle)), border);
            EXPECT_EQ(FromPixel(shot.At(1, middle)), on && focused ? border : on ? System(COLOR_WINDOW) : kFill)
                << "second column: the focus border is twice as wide only under high contrast";
            EXPECT_EQ(FromPixel(shot.At(0, 0)), on ? System(COLOR_BTNFACE) : kOuter) << "corner outside the frame";
            EXPECT_EQ(Count(shot, kBorder) + Count(shot, kFocusBorder) + Count(shot, kOuter) + Count(shot, kFill) == 0, on);
        }
    }
}

TEST(HighContrast, FailurePageShowsSystemColouredTextAndButton)
{
    ContrastSwitch contrast;
    ASSERT_TRUE(contrast.Active());
    TestDialog dialog({{L"BUTTON", 1, WS_TABSTOP | BS_DEFPUSHBUTTON, 120, 106, 50, 14, L"Next"},
                       {L"BUTTON", 2, WS_TABSTOP, 230, 106, 50, 14, L"Cancel"},
                       {L"BUTTON", 3, WS_TABSTOP, 175, 106, 50, 14, L"Back"}},
                      true, 300, 130, WS_POPUP | DS_MODALFRAME);
    HBITMAP picture = skintest::MakeIndexedBitmap(4, 4, 0, std::vector<COLORREF>(256, RGB(0, 128, 0)));
    ASSERT_EQ(StylePage(dialog.Get(), picture, kBase, kBand, kPicture, kBandDu, 0, 0, 10, 10, 0), 1);
    auto font = reinterpret_cast<HFONT>(SendMessageW(dialog.Get(), WM_GETFONT, 0, 0));
    HWND close = CreateFailureClose(dialog.Get(), font);
    HWND text = CreateFailureText(dialog.Get(), font, L"应用包 SHA-256 校验失败，未开始安装。");
    ASSERT_NE(close, nullptr);
    ASSERT_NE(text, nullptr);
    ASSERT_EQ(StyleButton(close, kButtonFill, RGB(0x10, 0x40, 0x90), RGB(255, 255, 255), RGB(160, 160, 160), kBand,
                          RGB(64, 0, 64), RGB(0, 224, 32), 1, 4),
              1);
    // A plain button like the close button, beside it: the system's look to compare with.
    RECT place = skintest::RectIn(close, dialog.Get());
    HWND twin = CreateWindowExW(0, L"BUTTON", L"关闭", WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON, 4, 4,
                                place.right - place.left, place.bottom - place.top, dialog.Get(), nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    SendMessageW(twin, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    RECT box;
    GetClientRect(text, &box);
    for (bool on : {false, true, false}) {
        SCOPED_TRACE(on ? "high contrast" : "skin");
        contrastOn = on;
        RedrawWindow(dialog.Get(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
        PumpMessages();
        // Below the one line of text: the read-only box's background.
        const WindowPixels textShot = CaptureWindow(text);
        const int x = box.right / 2, y = box.bottom - 3;
        const POINT inText = {x, y};
        POINT onPage = inText;
        MapWindowPoints(text, dialog.Get(), &onPage, 1);
        const COLORREF want = on ? System(COLOR_BTNFACE) : Texture(kBase, kBand, onPage.x, onPage.y);
        EXPECT_EQ(FromPixel(textShot.At(x, y)), want);
        const std::vector<uint32_t> painted = PaintedBy(close);
        EXPECT_EQ(std::count(painted.begin(), painted.end(), ToPixel(kButtonFill)) == 0, on);
        EXPECT_EQ(painted == PaintedBy(twin), on) << "the close button is not the system's";
    }
    dialog.Destroy();
    DeleteObject(picture);
}

// What a user sees when high contrast goes on while the window is shown: the system's broadcast
// to the top-level window repaints the whole tree in system colours; going off brings every
// pixel of the skin back.
TEST(HighContrast, SwitchedOnAndOffWhileShown)
{
    ContrastSwitch contrast;
    ASSERT_TRUE(contrast.Active());
    Bed bed;
    ASSERT_TRUE(bed.Style());
    SetFocus(bed.edit);
    bed.Show();
    // Places in the surface (which includes the frame), from client coordinates.
    const Insets frame = ClientInsets(bed.dialog.Get());
    auto at = [&](const WindowPixels& shot, int x, int y) { return FromPixel(shot.At(frame.left + x, frame.top + y)); };
    // The styled button against its plain twin, pixel by pixel.
    auto sameAsTwin = [&](const WindowPixels& shot) {
        const RECT a = skintest::RectIn(bed.button, bed.dialog.Get()), b = skintest::RectIn(bed.twin, bed.dialog.Get());
        for (int y = 0; y < a.bottom - a.top; ++y) {
            for (int x = 0; x < a.right - a.left; ++x) {
                if (at(shot, a.left + x, a.top + y) != at(shot, b.left + x, b.top + y)) return false;
            }
        }
        return true;
    };
    const WindowPixels skinned = CaptureWindow(bed.dialog.Get());
    const RECT buttonRect = skintest::RectIn(bed.button, bed.dialog.Get());
    const POINT bandPoint = {2, 2};
    const POINT buttonFace = {(buttonRect.left + buttonRect.right) / 2, buttonRect.top + 4};
    ASSERT_EQ(at(skinned, bandPoint.x, bandPoint.y), Texture(kBand, kPicture, bandPoint.x, bandPoint.y));
    ASSERT_EQ(at(skinned, buttonFace.x, buttonFace.y), kButtonFill);
    ASSERT_FALSE(sameAsTwin(skinned));

    struct Step {
        const char* name;
        UINT message;
        WPARAM wParam;
    } const steps[] = {{"WM_SETTINGCHANGE", WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST},
                       {"WM_SYSCOLORCHANGE", WM_SYSCOLORCHANGE, 0}};
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        contrastOn = true;
        // Nothing repaints before the system says so: what is shown stays as it was.
        EXPECT_FALSE(GetUpdateRect(bed.button, nullptr, FALSE));
        SendMessageW(bed.dialog.Get(), step.message, step.wParam, 0);
        EXPECT_TRUE(GetUpdateRect(bed.button, nullptr, FALSE)) << "the button is not repainted";
        EXPECT_TRUE(GetUpdateRect(bed.dialog.Get(), nullptr, FALSE));
        UpdateWindow(bed.dialog.Get());
        PumpMessages();
        const WindowPixels system = CaptureWindow(bed.dialog.Get());
        EXPECT_EQ(at(system, bandPoint.x, bandPoint.y), System(COLOR_BTNFACE));
        EXPECT_TRUE(sameAsTwin(system)) << "the button does not look like the system's";
        const RECT edit = skintest::RectIn(bed.edit, bed.dialog.Get());
        EXPECT_EQ(at(system, edit.left, (edit.top + edit.bottom) / 2), System(COLOR_HIGHLIGHT)) << "edit frame";
        EXPECT_EQ(Count(system, kButtonFill) + Count(system, kFocusBorder) + Count(system, kOuter), 0);

        contrastOn = false;
        SendMessageW(bed.dialog.Get(), step.message, step.wParam, 0);
        UpdateWindow(bed.dialog.Get());
        PumpMessages();
        const WindowPixels back = CaptureWindow(bed.dialog.Get());
        int differing = 0;
        for (size_t i = 0; i < back.pixels.size(); ++i) differing += back.pixels[i] != skinned.pixels[i];
        EXPECT_EQ(differing, 0) << "the skin did not come back as it was";
    }

    // Another setting changing is no reason to repaint.
    SendMessageW(bed.dialog.Get(), WM_SETTINGCHANGE, SPI_SETWORKAREA, 0);
    EXPECT_FALSE(GetUpdateRect(bed.button, nullptr, FALSE));
}

}  // namespace
