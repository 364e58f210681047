// Prompt layout: the centred column of three texts and two buttons, and the card behind it.
#include <gtest/gtest.h>

#include <functional>

#include "skinning/style.h"
#include "support/skin_windows.h"

using namespace skintest;

namespace {

constexpr COLORREF kBase = RGB(0xF8, 0xF4, 0xEC);
constexpr COLORREF kBand = RGB(0x30, 0x50, 0x90);
constexpr COLORREF kPicture = RGB(0xE0, 0x90, 0x30);

// A Tahoma font whose line height (tmHeight) is exactly pixels, or null.
HFONT FontWithLineHeight(int pixels)
{
    HDC screen = GetDC(nullptr);
    HFONT found = nullptr;
    for (int height = 4; height < 40 && found == nullptr; ++height) {
        HFONT font = CreateFontW(height, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"Tahoma");
        HGDIOBJ old = SelectObject(screen, font);
        TEXTMETRICW metrics;
        GetTextMetricsW(screen, &metrics);
        SelectObject(screen, old);
        if (metrics.tmHeight == pixels) {
            found = font;
        } else {
            DeleteObject(font);
        }
    }
    ReleaseDC(nullptr, screen);
    return found;
}

struct Prompt {
    HWND page = nullptr;
    HWND w[5] = {};
    HBITMAP bitmap = nullptr;
    HFONT font10 = FontWithLineHeight(10);
    HFONT font16 = FontWithLineHeight(16);

    explicit Prompt(int width = 480, int height = 400)
    {
        page = CreateDialogFromTemplate(nullptr, WS_POPUP, 100, 100,
                                        {{L"STATIC", L"Text\none", SS_LEFT, 0, 0, 40, 8, 11},
                                         {L"STATIC", L"First line\nSecond line\nThird line\nFourth line", SS_LEFT, 0, 10, 40, 8, 12},
                                         {L"STATIC", L"Text three", SS_LEFT, 0, 20, 40, 8, 13},
                                         {L"BUTTON", L"Install", BS_PUSHBUTTON, 0, 30, 40, 14, 1},
                                         {L"BUTTON", L"Exit", BS_PUSHBUTTON, 50, 30, 40, 14, 2}});
        Place(page, 0, 0, width, height);
        for (int i = 0; i < 5; ++i) w[i] = GetDlgItem(page, i < 3 ? 11 + i : i - 2);
        SendMessageW(w[0], WM_SETFONT, reinterpret_cast<WPARAM>(font10), FALSE);
        SendMessageW(w[1], WM_SETFONT, reinterpret_cast<WPARAM>(font10), FALSE);
        SendMessageW(w[2], WM_SETFONT, reinterpret_cast<WPARAM>(font16), FALSE);
        bitmap = MakeIndexedBitmap(4, 4, 0, std::vector<COLORREF>(256, RGB(0, 128, 0)));
        StylePage(page, bitmap, kBase, kBand, kPicture, 20, 0, 0, 10, 10, 0);
    }
    ~Prompt()
    {
        DestroyWindow(page);
        DeleteObject(bitmap);
        DeleteObject(font10);
        DeleteObject(font16);
    }
    int Style(int shown, int radius) { return StylePrompt(page, w[0], w[1], w[2], w[3], w[4], shown, radius); }
    std::vector<RECT> Rects() const
    {
        std::vector<RECT> out;
        for (HWND h : w) out.push_back(RectIn(h, page));
        return out;
    }
    std::vector<uint32_t> Capture() const
    {
        RECT client;
        GetClientRect(page, &client);
        Canvas canvas(client.right, client.bottom);
        Paint(page, canvas);
        return canvas.Pixels();
    }
};

bool SameRects(const std::vector<RECT>& a, const std::vector<RECT>& b)
{
    for (size_t i = 0; i < a.size(); ++i) {
        if (!EqualRect(&a[i], &b[i])) return false;
    }
    return a.size() == b.size();
}

TEST(Prompt, WorkedExampleOnAFourHundredPixelPage)
{
    Prompt p;
    ASSERT_NE(p.font10, nullptr);
    ASSERT_NE(p.font16, nullptr);
    ASSERT_EQ(p.Style(1, 8), 1);
    std::vector<RECT> r = p.Rects();
    RECT column = DialogToPixels(p.page, {114, 0, 166, 14});
    ASSERT_EQ(column.left, 171);
    ASSERT_EQ(column.right, 249);
    ASSERT_EQ(column.bottom, 23);
    const int tops[5] = {128, 160, 212, 248, 248};
    const int heights[5] = {20, 40, 16, 23, 23};
    const int lefts[5] = {171, 171, 171, 171, 171 + 84 + 12};
    const int widths[5] = {249, 249, 249, 84, 54};
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(r[i].top, tops[i]);
        EXPECT_EQ(r[i].bottom - r[i].top, heights[i]);
        EXPECT_EQ(r[i].left, lefts[i]);
        EXPECT_EQ(r[i].right - r[i].left, widths[i]);
    }
    // Texts of 20, 40 and 16 pixels: two and four lines of a 10-pixel font, one of a 16-pixel one.
    // The spare height 257 is odd: 128 above the block, 129 below it.
    EXPECT_EQ(400 - r[3].bottom, 129);

    // The card from 112 to 287 (face) and 155 to 436, its shadow 2 px lower, on the card-mode
    // background; the face is the page's ordinary texture.
    RECT client;
    GetClientRect(p.page, &client);
    Canvas canvas(client.right, client.bottom);
    Paint(p.page, canvas);
    const COLORREF cardBase = Blend(kBase, kBand, 18);
    const COLORREF shadow = Blend(cardBase, kBand, 12);
    auto face = [&](int x, int y) { return ToPixel(Texture(kBase, kBand, x, y)); };
    auto back = [&](int x, int y) { return ToPixel(Texture(cardBase, kBand, x, y)); };
    for (int x : {200, 300, 420}) {
        EXPECT_EQ(canvas.At(x, 111), back(x, 111)) << x;
        EXPECT_EQ(canvas.At(x, 112), face(x, 112)) << x;
        EXPECT_EQ(canvas.At(x, 286), face(x, 286)) << x;
        EXPECT_EQ(canvas.At(x, 287), ToPixel(shadow)) << x;
        EXPECT_EQ(canvas.At(x, 289), back(x, 289)) << x;
    }
    for (int y : {150, 250}) {
        EXPECT_EQ(canvas.At(154, y), back(154, y));
        EXPECT_EQ(canvas.At(155, y), face(155, y));
        EXPECT_EQ(canvas.At(435, y), face(435, y));
        EXPECT_EQ(canvas.At(436, y), back(436, y));
    }
    // Rounded corners of radius 8; the background outside the card is card-mode everywhere.
    EXPECT_EQ(canvas.At(155, 112), back(155, 112));
    EXPECT_EQ(canvas.At(155 + 8, 112 + 8), face(163, 120));
    EXPECT_EQ(canvas.At(60, 20), back(60, 20));
    // The waves start from the card-mode background colour.
    const int waveTop = 400 - MulDiv(400, 30, 148);
    int x = 30 + MulDiv(48, 480 - 30, 206);
    EXPECT_EQ(canvas.At(x, 399), ToPixel(Blend(cardBase, RGB(0, 128, 0), 20)));
    EXPECT_EQ(canvas.At(x, waveTop + 2), back(x, waveTop + 2));
}

TEST(Prompt, SquareCardAndCardOff)
{
    Prompt p;
    ASSERT_EQ(p.Style(1, 0), 1);
    Canvas canvas(480, 400);
    Paint(p.page, canvas);
    EXPECT_EQ(canvas.At(155, 112), ToPixel(Texture(kBase, kBand, 155, 112)));

    std::vector<RECT> before = p.Rects();
    ASSERT_EQ(p.Style(0, 8), 1);
    EXPECT_TRUE(SameRects(before, p.Rects()));
    Paint(p.page, canvas);
    for (int y : {111, 112, 200, 287}) EXPECT_EQ(canvas.At(300, y), ToPixel(Texture(kBase, kBand, 300, y))) << y;
}

TEST(Prompt, FailuresMoveNothingAndKeepTheCard)
{
    struct Case {
        const char* name;
        std::function<void(Prompt&)> apply, undo;
        int radius;
    };
    const std::wstring long512(512, L'x');
    const Case cases[] = {
        {"negative radius", [](Prompt&) {}, [](Prompt&) {}, -1},
        {"text of 512 characters", [&](Prompt& p) { SetWindowTextW(p.w[0], long512.c_str()); },
         [](Prompt& p) { SetWindowTextW(p.w[0], L"Text\none"); }, 20},
        {"empty text", [](Prompt& p) { SetWindowTextW(p.w[2], L""); },
         [](Prompt& p) { SetWindowTextW(p.w[2], L"Text three"); }, 20},
        {"text without a font", [](Prompt& p) { SendMessageW(p.w[1], WM_SETFONT, 0, FALSE); },
         [](Prompt& p) { SendMessageW(p.w[1], WM_SETFONT, reinterpret_cast<WPARAM>(p.font10), FALSE); }, 20},
        {"word wider than the column",
         [](Prompt& p) { SetWindowTextW(p.w[0], L"Averyveryveryveryveryveryveryveryveryveryveryveryveryveryverylongword"); },
         [](Prompt& p) { SetWindowTextW(p.w[0], L"Text\none"); }, 20},
        {"page too low for the block", [](Prompt& p) { Place(p.page, 0, 0, 480, 174); },
         [](Prompt& p) { Place(p.page, 0, 0, 480, 400); }, 20},
        {"page too narrow for the card", [](Prompt& p) { Place(p.page, 0, 0, 435, 400); },
         [](Prompt& p) { Place(p.page, 0, 0, 480, 400); }, 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Prompt p;
        ASSERT_EQ(p.Style(1, 8), 1);
        std::vector<RECT> rects = p.Rects();
        std::vector<uint32_t> pixels = p.Capture();
        c.apply(p);
        EXPECT_EQ(p.Style(1, c.radius), 0);
        EXPECT_TRUE(SameRects(rects, p.Rects()));
        c.undo(p);
        EXPECT_TRUE(p.Capture() == pixels) << "card, radius or background changed";
    }

    // Just fitting: 174 + 1 pixels high holds total 143 plus two margins of 16.
    Prompt p(480, 175);
    EXPECT_EQ(p.Style(1, 8), 1);
    EXPECT_EQ(p.Rects()[0].top, 16);
}

TEST(Prompt, RefusesForeignWindowsAndUnskinnedPages)
{
    Prompt p, other;
    EXPECT_EQ(StylePrompt(p.page, p.w[0], p.w[1], p.w[2], p.w[3], other.w[4], 1, 8), 0);
    EXPECT_EQ(StylePrompt(p.page, p.w[0], p.w[1], p.w[2], p.w[3], nullptr, 1, 8), 0);
    HWND plain = CreateDialogFromTemplate(nullptr, WS_POPUP, 100, 100, {{L"STATIC", L"a", SS_LEFT, 0, 0, 40, 8, 5}});
    HWND s = GetDlgItem(plain, 5);
    EXPECT_EQ(StylePrompt(plain, s, s, s, s, s, 1, 8), 0);
    EXPECT_EQ(StylePrompt(plain, s, s, s, s, s, 0, 8), 0);
    DestroyWindow(plain);
}

TEST(Prompt, TextOf511CharactersIsMeasured)
{
    Prompt p;
    HFONT small = FontWithLineHeight(11);
    ASSERT_NE(small, nullptr);
    std::wstring text;
    while (text.size() < 511) text += text.size() % 2 ? L' ' : L'a';
    text.resize(511);
    SendMessageW(p.w[0], WM_SETFONT, reinterpret_cast<WPARAM>(small), FALSE);
    SetWindowTextW(p.w[0], text.c_str());
    ASSERT_EQ(p.Style(1, 8), 1);
    std::vector<RECT> r = p.Rects();
    int h1 = r[0].bottom - r[0].top;
    EXPECT_GT(h1, 11);
    EXPECT_EQ(h1 % 11, 0);  // whole lines
    int total = h1 + 12 + 40 + 12 + 16 + 20 + 23;  // texts 2 and 3 as in the worked example
    EXPECT_EQ(r[0].top, (400 - total) / 2);
    EXPECT_EQ(r[1].top, r[0].bottom + 12);
    EXPECT_EQ(r[3].top, r[2].bottom + 20);
    DestroyWindow(p.page);
    p.page = nullptr;
    DeleteObject(small);
}

}  // namespace

namespace {

// What the screen shows of the page and its children, read back through the page's DC.
std::vector<uint32_t> Screen(HWND page)
{
    RECT client;
    GetClientRect(page, &client);
    Canvas canvas(client.right, client.bottom);
    HDC dc = GetDC(page);
    BitBlt(canvas.Dc(), 0, 0, client.right, client.bottom, dc, 0, 0, SRCCOPY);
    ReleaseDC(page, dc);
    return canvas.Pixels();
}

void PumpMessages()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

TEST(Prompt, RepaintsTheWindowsItMovesOnAVisiblePage)
{
    Prompt p;
    ShowWindow(p.page, SW_SHOWNOACTIVATE);
    UpdateWindow(p.page);
    PumpMessages();
    const std::vector<uint32_t> before = Screen(p.page);
    ASSERT_EQ(p.Style(1, 8), 1);
    PumpMessages();
    const std::vector<uint32_t> shown = Screen(p.page);
    ASSERT_NE(shown, before) << "the prompt did not change the screen at all";
    RedrawWindow(p.page, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    const std::vector<uint32_t> repainted = Screen(p.page);
    ASSERT_EQ(shown.size(), repainted.size());
    size_t stale = 0;
    for (size_t i = 0; i < shown.size(); ++i) stale += shown[i] != repainted[i];
    EXPECT_EQ(stale, 0u) << "pixels left over from before the layout";
}

}  // namespace
