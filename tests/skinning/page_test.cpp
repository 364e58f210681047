// Skinned page: noise textures, band, picture, waves, WM_CTLCOLORSTATIC, by the pixels painted.
#include <gtest/gtest.h>

#include <algorithm>

#include "skinning/style.h"
#include "support/skin_windows.h"

using namespace skintest;

namespace {

constexpr COLORREF kBase = RGB(0xF4, 0xF0, 0xE8);
constexpr COLORREF kBand = RGB(0x20, 0x40, 0x80);
constexpr COLORREF kPicture = RGB(0xE0, 0x90, 0x30);
constexpr COLORREF kAccent = RGB(0x10, 0xA0, 0x50);

// The host's colour table: entry 255 is the accent the waves use.
std::vector<COLORREF> HostColours()
{
    std::vector<COLORREF> colours(256);
    for (int i = 0; i < 256; ++i) colours[i] = RGB(i, 255 - i, i / 2);
    colours[255] = kAccent;
    return colours;
}

// A top-level test dialog used as the page, sized in pixels, with the host's 8-bit picture.
struct TestPage {
    HWND page = nullptr;
    HBITMAP bitmap = nullptr;
    TestPage(int width, int height, const std::vector<Control>& controls = {}, int pictureW = 16,
             int pictureH = 8, BYTE index = 255)
    {
        page = CreateDialogFromTemplate(nullptr, WS_POPUP, 100, 100, controls);
        Place(page, 0, 0, width, height);
        bitmap = MakeIndexedBitmap(pictureW, pictureH, index, HostColours());
    }
    ~TestPage()
    {
        DestroyWindow(page);
        DeleteObject(bitmap);
    }
    int Style(int bandWidth, RECT box = {4, 10, 40, 40}, int strength = 0, COLORREF base = kBase,
              COLORREF band = kBand, COLORREF picture = kPicture)
    {
        return StylePage(page, bitmap, base, band, picture, bandWidth, box.left, box.top, box.right,
                         box.bottom, strength);
    }
    int BandRight(int bandWidth) const { return DialogToPixels(page, {0, 0, bandWidth, 0}).right; }
};

int WaveHeight(int pageHeight) { return MulDiv(pageHeight, 30, 148); }

TEST(Noise, StepsOfTheTileGenerator)
{
    const int expected[16] = {2, 0, 1, 3, 1, 2, 1, 0, 2, 0, 3, 3, 1, 2, 0, 2};
    for (int i = 0; i < 16; ++i) EXPECT_EQ(TileStep(i, 0), expected[i]) << i;

    // From black to white every step shows as its own value in each channel.
    TestPage t(200, 148);
    ASSERT_EQ(t.Style(10, {4, 10, 40, 40}, 0, RGB(0, 0, 0), RGB(255, 255, 255)), 1);
    Canvas canvas(200, 148);
    Paint(t.page, canvas);
    ASSERT_LT(t.BandRight(10), 64);
    for (int i = 0; i < 16; ++i) {
        uint32_t step = static_cast<uint32_t>(expected[i]);
        EXPECT_EQ(canvas.At(64 + i, 0), step << 16 | step << 8 | step) << "x " << 64 + i;
        EXPECT_EQ(canvas.At(64 + i, 32), step << 16 | step << 8 | step) << "tile repeats downwards";
    }
}

TEST(Noise, PagePixelsAreTheTileAboveTheWaves)
{
    for (COLORREF second : {kBand, kBase}) {  // kBase twice: a flat tile
        TestPage t(300, 200);
        ASSERT_EQ(t.Style(20, {4, 10, 40, 40}, 0, kBase, second), 1);
        Canvas canvas(300, 200);
        Paint(t.page, canvas, WM_ERASEBKGND);
        int left = t.BandRight(20);
        int failures = 0;
        for (int y = 0; y < 200 - WaveHeight(200); ++y) {
            for (int x = left; x < 300; ++x) {
                uint32_t want = ToPixel(Texture(kBase, second, x, y));
                if (second == kBase) {
                    EXPECT_EQ(want, ToPixel(kBase));
                }
                if (canvas.At(x, y) != want && failures++ < 5) {
                    ADD_FAILURE() << "(" << x << "," << y << ") " << Hex(canvas.At(x, y)) << " want " << Hex(want);
                }
            }
        }
        EXPECT_EQ(failures, 0);
    }
}

TEST(PagePaint, BandUsesBandTextureOverFullHeight)
{
    TestPage t(300, 200);
    ASSERT_EQ(t.Style(20), 1);
    Canvas canvas(300, 200);
    Paint(t.page, canvas);
    int band = t.BandRight(20);
    EXPECT_EQ(band, 30);  // 20 horizontal dialog units of "MS Shell Dlg" 8
    for (int y : {0, 1, 77, 150, 199}) {
        for (int x : {0, 5, band - 1}) {
            EXPECT_EQ(canvas.At(x, y), ToPixel(Texture(kBand, kPicture, x, y))) << x << "," << y;
        }
        if (y < 200 - WaveHeight(200)) {
            EXPECT_EQ(canvas.At(band, y), ToPixel(Texture(kBase, kBand, band, y))) << "page at " << y;
        }
    }
}

TEST(PagePaint, BandWidthUsesTheTopLevelDialogUnits)
{
    // A child page whose own font is larger: the band follows the root's units.
    HWND root = CreateDialogFromTemplate(nullptr, WS_POPUP, 200, 150, {});
    HWND page = CreateDialogFromTemplate(root, WS_CHILD | WS_VISIBLE | DS_CONTROL, 150, 100, {}, 14);
    Place(root, 0, 0, 320, 240);
    Place(page, 10, 10, 300, 200);
    HBITMAP bitmap = MakeIndexedBitmap(4, 4, 0, HostColours());
    ASSERT_EQ(StylePage(page, bitmap, kBase, kBand, kPicture, 40, 0, 0, 10, 10, 0), 1);
    RECT rootBand = DialogToPixels(root, {0, 0, 40, 0});
    RECT ownBand = {0, 0, 40, 0};
    MapDialogRect(page, &ownBand);
    ASSERT_NE(rootBand.right, ownBand.right);
    Canvas canvas(300, 200);
    Paint(page, canvas);
    int x = rootBand.right;
    EXPECT_EQ(canvas.At(x - 1, 5), ToPixel(Texture(kBand, kPicture, x - 1, 5)));
    EXPECT_EQ(canvas.At(x, 5), ToPixel(Texture(kBase, kBand, x, 5)));
    DestroyWindow(root);
    DeleteObject(bitmap);
}

struct PictureCase {
    const char* name;
    RECT box;                 // dialog units: left, top, width, height
    int pictureW, pictureH;   // host bitmap size
    BYTE index;               // every picture pixel
    int strength;
    int bandWidth;
};

TEST(PagePaint, PictureFitsItsBoxInRampColoursOnlyInsideTheBand)
{
    const PictureCase cases[] = {
        {"wide picture, full width, centred vertically", {4, 10, 40, 40}, 16, 8, 255, 255, 80},
        {"box twice as wide: full height, centred horizontally", {4, 10, 60, 15}, 16, 16, 200, 100, 80},
        {"box twice as tall: full width, centred vertically", {2, 4, 20, 40}, 10, 10, 128, 255, 80},
        {"box reaches past the band", {4, 10, 60, 30}, 16, 8, 255, 255, 30},
        {"strength 0: no picture", {4, 10, 40, 40}, 16, 8, 255, 0, 80},
    };
    for (const PictureCase& c : cases) {
        SCOPED_TRACE(c.name);
        TestPage t(400, 300, {}, c.pictureW, c.pictureH, c.index);
        ASSERT_EQ(t.Style(c.bandWidth, c.box, c.strength), 1);
        Canvas canvas(400, 300);
        Paint(t.page, canvas);

        RECT box = DialogToPixels(t.page, c.box);
        int w = box.right, h = box.bottom;
        int dw = w, dh = MulDiv(w, c.pictureH, c.pictureW);
        if (dh > h) {
            dh = h;
            dw = MulDiv(h, c.pictureW, c.pictureH);
        }
        int x0 = box.left + (w - dw) / 2, y0 = box.top + (h - dh) / 2;
        int band = t.BandRight(c.bandWidth);
        COLORREF ramp = Blend(kBand, kPicture, c.strength * c.index / 255);
        auto expected = [&](int x, int y) {
            bool inPicture = c.strength > 0 && x >= x0 && x < x0 + dw && y >= y0 && y < y0 + dh;
            if (x >= band) return Texture(kBase, kBand, x, y);
            return inPicture ? ramp : Texture(kBand, kPicture, x, y);
        };
        int failures = 0;
        for (int y = y0 - 3; y < y0 + dh + 3; ++y) {
            for (int x = std::max(0, x0 - 3); x < x0 + dw + 3; ++x) {
                uint32_t want = ToPixel(expected(x, y));
                if (canvas.At(x, y) != want && failures++ < 5) {
                    ADD_FAILURE() << "(" << x << "," << y << ") " << Hex(canvas.At(x, y)) << " want " << Hex(want)
                                  << " picture " << x0 << "," << y0 << " " << dw << "x" << dh;
                }
            }
        }
        EXPECT_EQ(failures, 0);
    }
}

TEST(PagePaint, WavesScaleWithPageHeightInLayerColours)
{
    for (int height : {148, 296}) {
        SCOPED_TRACE(height);
        const int width = 400, bandWidth = 20;
        TestPage t(width, height);
        ASSERT_EQ(t.Style(bandWidth), 1);
        Canvas canvas(width, height);
        Paint(t.page, canvas);
        const int h = height == 148 ? 30 : 60;  // the wave band's height
        int left = t.BandRight(bandWidth);
        int x = left + MulDiv(48, width - left, 206);  // design x 48: layers at y 7, 13.5 and 25
        auto row = [&](int designY) { return height - h + MulDiv(designY, h, 30); };
        auto layer = [&](int n) { return ToPixel(Blend(kBase, kAccent, 8 + 6 * (n - 1))); };
        EXPECT_EQ(canvas.At(x, row(4)), ToPixel(Texture(kBase, kBand, x, row(4))));
        EXPECT_EQ(canvas.At(x, row(7) - 1), ToPixel(Texture(kBase, kBand, x, row(7) - 1)));
        EXPECT_EQ(canvas.At(x, row(7) + 1), layer(1));
        EXPECT_EQ(canvas.At(x, row(10)), layer(1));
        EXPECT_EQ(canvas.At(x, row(19)), layer(2));
        EXPECT_EQ(canvas.At(x, row(28)), layer(3));
        // Design (131, 28) lies inside layer 3, whose edge is at y 25 there.
        int x3 = left + MulDiv(131, width - left, 206);
        EXPECT_EQ(canvas.At(x3, row(28)), layer(3));
        EXPECT_EQ(canvas.At(x3, row(22)), layer(2));
        // The waves start at the band's edge: the band keeps its texture at the foot.
        EXPECT_EQ(canvas.At(left - 1, height - 2), ToPixel(Texture(kBand, kPicture, left - 1, height - 2)));
        EXPECT_EQ(canvas.At(left + 1, height - 1), layer(3));
    }
}

TEST(PagePaint, LeavesTheDcAsItWas)
{
    TestPage t(300, 200);
    ASSERT_EQ(t.Style(20, {4, 10, 40, 40}, 255), 1);
    Canvas canvas(300, 200);
    HDC dc = canvas.Dc();
    HPEN pen = CreatePen(PS_SOLID, 3, RGB(1, 2, 3));
    HBRUSH brush = CreateSolidBrush(RGB(4, 5, 6));
    HFONT font = static_cast<HFONT>(GetStockObject(ANSI_FIXED_FONT));
    SelectObject(dc, pen);
    SelectObject(dc, brush);
    SelectObject(dc, font);
    SetViewportOrgEx(dc, 3, 2, nullptr);
    SetBrushOrgEx(dc, 5, 7, nullptr);
    SetStretchBltMode(dc, COLORONCOLOR);
    HRGN clip = CreateRectRgn(1, 1, 250, 190);
    SelectClipRgn(dc, clip);

    for (UINT message : {WM_PRINTCLIENT, WM_ERASEBKGND}) {
        Paint(t.page, canvas, message);
        EXPECT_EQ(GetCurrentObject(dc, OBJ_PEN), pen);
        EXPECT_EQ(GetCurrentObject(dc, OBJ_BRUSH), brush);
        EXPECT_EQ(GetCurrentObject(dc, OBJ_FONT), font);
        POINT p;
        GetViewportOrgEx(dc, &p);
        EXPECT_EQ(p.x, 3);
        EXPECT_EQ(p.y, 2);
        GetBrushOrgEx(dc, &p);
        EXPECT_EQ(p.x, 5);
        EXPECT_EQ(p.y, 7);
        EXPECT_EQ(GetStretchBltMode(dc), COLORONCOLOR);
        HRGN now = CreateRectRgn(0, 0, 0, 0);
        ASSERT_EQ(GetClipRgn(dc, now), 1);
        EXPECT_TRUE(EqualRgn(now, clip));
        DeleteObject(now);
        EXPECT_EQ(GetMapMode(dc), MM_TEXT);
        EXPECT_EQ(GetBkMode(dc), OPAQUE);
    }
    // The paint honoured the clip and the viewport: the page's (0, 0) landed at (3, 2), and the
    // tiles start at device (0, 0).
    EXPECT_EQ(canvas.At(0, 0), 0x00FF00FFu);
    EXPECT_EQ(canvas.At(3, 2), ToPixel(Texture(kBand, kPicture, 3, 2)));
    EXPECT_NE(ToPixel(Texture(kBand, kPicture, 3, 2)), ToPixel(Texture(kBand, kPicture, 0, 0)));
    EXPECT_EQ(canvas.At(250, 100), 0x00FF00FFu);
    SelectObject(dc, GetStockObject(BLACK_PEN));
    SelectObject(dc, GetStockObject(WHITE_BRUSH));
    DeleteObject(pen);
    DeleteObject(brush);
    DeleteObject(clip);
}

TEST(StylePage, RejectsBadArgumentsWithoutTouchingThePage)
{
    struct Bad {
        const char* name;
        int bandWidth, pictureWidth, pictureHeight, strength;
        bool nullBitmap;
    };
    const Bad cases[] = {
        {"strength 256", 20, 10, 10, 256, false}, {"strength -1", 20, 10, 10, -1, false},
        {"band width 0", 0, 10, 10, 0, false},    {"picture width 0", 20, 0, 10, 0, false},
        {"picture height 0", 20, 10, 0, 0, false}, {"no bitmap", 20, 10, 10, 0, true},
    };
    for (const Bad& c : cases) {
        SCOPED_TRACE(c.name);
        TestPage t(200, 150);
        LONG style = GetWindowLongW(t.page, GWL_STYLE);
        EXPECT_EQ(StylePage(t.page, c.nullBitmap ? nullptr : t.bitmap, kBase, kBand, kPicture, c.bandWidth, 0,
                            0, c.pictureWidth, c.pictureHeight, c.strength),
                  0);
        EXPECT_EQ(GetWindowLongW(t.page, GWL_STYLE), style);
        Canvas canvas(200, 150);
        Paint(t.page, canvas, WM_ERASEBKGND);  // the dialog's own background: not skinned
        EXPECT_EQ(canvas.At(100, 10), ToPixel(GetSysColor(COLOR_3DFACE)));
    }
    EXPECT_EQ(StylePage(nullptr, nullptr, 0, 0, 0, 1, 0, 0, 1, 1, 0), 0);
}

TEST(StylePage, RejectsPicturesThatAreNotEightBitWithAFullTable)
{
    TestPage t(200, 150);
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), 8, 8, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP deep = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(deep, nullptr);
    EXPECT_EQ(StylePage(t.page, deep, kBase, kBand, kPicture, 20, 0, 0, 10, 10, 0), 0);
    EXPECT_NE(GetWindowLongW(t.page, GWL_STYLE) & WS_CLIPCHILDREN, 0);  // the style change stays
    Canvas canvas(200, 150);
    Paint(t.page, canvas, WM_ERASEBKGND);
    EXPECT_EQ(canvas.At(100, 10), ToPixel(GetSysColor(COLOR_3DFACE)));
    DeleteObject(deep);
    EXPECT_EQ(GetObjectType(t.bitmap), static_cast<DWORD>(OBJ_BITMAP));
}

TEST(StylePage, SecondCallKeepsThePictureAndTakesNewColours)
{
    TestPage t(400, 300, {}, 16, 8, 255);
    ASSERT_EQ(t.Style(80, {4, 10, 40, 40}, 255), 1);
    HBITMAP other = MakeIndexedBitmap(16, 8, 0, HostColours());  // index 0: would show kBand2
    const COLORREF base2 = RGB(0x30, 0x30, 0x30), band2 = RGB(0x90, 0x10, 0x10), picture2 = RGB(0x10, 0xF0, 0xF0);
    ASSERT_EQ(StylePage(t.page, other, base2, band2, picture2, 60, 4, 10, 40, 40, 128), 1);
    Canvas canvas(400, 300);
    Paint(t.page, canvas);
    RECT box = DialogToPixels(t.page, {4, 10, 40, 40});
    int cx = box.left + box.right / 2, cy = box.top + box.bottom / 2;
    // Still the first picture's index 255, through the new ramp: 128 * 255 / 255 of the way.
    EXPECT_EQ(canvas.At(cx, cy), ToPixel(Blend(band2, picture2, 128)));
    int band = t.BandRight(60);
    EXPECT_EQ(canvas.At(band - 1, 2), ToPixel(Texture(band2, picture2, band - 1, 2)));
    EXPECT_EQ(canvas.At(band, 2), ToPixel(Texture(base2, band2, band, 2)));
    DeleteObject(other);
}

TEST(CtlColorStatic, BandEdgeDecidesTheTextureAndTheOriginAlignsIt)
{
    TestPage t(300, 200,
               {{L"STATIC", L"", SS_LEFT, 0, 0, 10, 10, 101}, {L"STATIC", L"", SS_LEFT, 0, 0, 10, 10, 102}});
    ASSERT_EQ(t.Style(20), 1);
    int band = t.BandRight(20);
    HWND inside = GetDlgItem(t.page, 101), over = GetDlgItem(t.page, 102);
    Place(inside, band - 21, 37, 21, 15);  // right edge exactly on the band's edge
    Place(over, band - 20, 70, 21, 15);    // one pixel further
    Canvas probe(8, 8);
    HBRUSH bandBrush = reinterpret_cast<HBRUSH>(
        SendMessageW(t.page, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(probe.Dc()), reinterpret_cast<LPARAM>(inside)));
    POINT origin;
    GetBrushOrgEx(probe.Dc(), &origin);
    EXPECT_EQ(origin.x, -(band - 21));
    EXPECT_EQ(origin.y, -37);
    EXPECT_EQ(GetBkMode(probe.Dc()), TRANSPARENT);
    HBRUSH pageBrush = reinterpret_cast<HBRUSH>(
        SendMessageW(t.page, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(probe.Dc()), reinterpret_cast<LPARAM>(over)));
    EXPECT_EQ(GetObjectType(bandBrush), static_cast<DWORD>(OBJ_BRUSH));
    EXPECT_EQ(GetObjectType(pageBrush), static_cast<DWORD>(OBJ_BRUSH));
    EXPECT_NE(bandBrush, pageBrush);

    // What the statics paint lines up with the page behind them.
    struct Expect {
        HWND window;
        COLORREF first, second;
    } expects[] = {{inside, kBand, kPicture}, {over, kBase, kBand}};
    for (const Expect& e : expects) {
        RECT r = RectIn(e.window, t.page);
        Canvas canvas(r.right - r.left, r.bottom - r.top);
        Paint(e.window, canvas);
        int failures = 0;
        for (int y = 0; y < canvas.Height(); ++y) {
            for (int x = 0; x < canvas.Width(); ++x) {
                uint32_t want = ToPixel(Texture(e.first, e.second, x + r.left, y + r.top));
                if (canvas.At(x, y) != want && failures++ < 3) {
                    ADD_FAILURE() << "static at " << r.left << "," << r.top << " pixel " << x << "," << y << " "
                                  << Hex(canvas.At(x, y)) << " want " << Hex(want);
                }
            }
        }
        EXPECT_EQ(failures, 0);
    }
    DestroyWindow(t.page);
    t.page = nullptr;
    EXPECT_EQ(GetObjectType(bandBrush), 0u);
    EXPECT_EQ(GetObjectType(pageBrush), 0u);
}

}  // namespace
