// StylePage takes only an 8-bit DIB section with a full colour table as the page's picture, and
// judges the host's bitmap itself, not the copy it makes of it.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "skinning/style.h"
#include "support/gdi_census.h"
#include "support/skin_windows.h"

using namespace skintest;

namespace {

constexpr COLORREF kBase = RGB(0xF4, 0xF0, 0xE8);
constexpr COLORREF kBand = RGB(0x20, 0x40, 0x80);
constexpr COLORREF kPicture = RGB(0xE0, 0x90, 0x30);

// A DIB section of 16 x 16 pixels (top-down when height is negative) with bits per pixel and
// colourCount table entries (biClrUsed), entry i grey i. rows[y] is the index of visual row y.
HBITMAP MakeDib(int bits, int height, DWORD colourCount, const std::vector<BYTE>& rows = {})
{
    std::vector<BYTE> storage(sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD));
    auto* info = reinterpret_cast<BITMAPINFO*>(storage.data());
    info->bmiHeader = {sizeof(BITMAPINFOHEADER), 16, height, 1, static_cast<WORD>(bits), BI_RGB, 0, 0, 0,
                       colourCount, 0};
    for (int i = 0; i < 256; ++i) info->bmiColors[i] = {BYTE(i), BYTE(i), BYTE(i), 0};
    void* memory = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, info, DIB_RGB_COLORS, &memory, nullptr, 0);
    if (bitmap == nullptr || rows.empty()) return bitmap;
    const int stride = ((16 * bits + 31) / 32) * 4;
    const int count = height < 0 ? -height : height;
    for (int y = 0; y < count; ++y) {
        const int memoryRow = height < 0 ? y : count - 1 - y;
        std::fill_n(static_cast<BYTE*>(memory) + memoryRow * stride, stride, rows[y]);
    }
    GdiFlush();
    return bitmap;
}

struct Page {
    HWND window;
    Page()
    {
        window = CreateDialogFromTemplate(nullptr, WS_POPUP, 100, 100, {});
        Place(window, 0, 0, 300, 200);
    }
    ~Page() { DestroyWindow(window); }
    int Style(HBITMAP bitmap, int strength = 255)
    {
        return StylePage(window, bitmap, kBase, kBand, kPicture, 60, 4, 10, 40, 40, strength);
    }
    // The dialog's own background shows where an unskinned page erases.
    bool Skinned() const
    {
        Canvas canvas(300, 200);
        Paint(window, canvas, WM_ERASEBKGND);
        return canvas.At(150, 10) != ToPixel(GetSysColor(COLOR_3DFACE));
    }
};

TEST(PictureCheck, RefusesEveryOtherKindOfBitmapAndKeepsNothing)
{
    struct Case {
        const char* name;
        int bits;
        DWORD colours;
    };
    const Case cases[] = {{"1-bit", 1, 0},          {"4-bit", 4, 0},          {"16-bit", 16, 0},
                          {"24-bit", 24, 0},        {"32-bit", 32, 0},        {"8-bit, 16 colours", 8, 16},
                          {"8-bit, 255 colours", 8, 255}};
    // The count is checked where the process's GDI objects can be counted (support/gdi_census.h).
    const bool counted = LiveGdiObjects() > 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Page page;
        HBITMAP bitmap = MakeDib(c.bits, 16, c.colours, std::vector<BYTE>(16, 7));
        ASSERT_NE(bitmap, nullptr);
        DIBSECTION described = {};
        GetObjectW(bitmap, sizeof described, &described);
        if (c.bits == 8 && described.dsBmih.biClrUsed != c.colours) {
            // Wine reports every 8-bit DIB section with a full table (README, Running under Wine).
            std::printf("skipped %s: the platform reports %lu colours\n", c.name,
                        static_cast<unsigned long>(described.dsBmih.biClrUsed));
            DeleteObject(bitmap);
            continue;
        }
        const long before = LiveGdiObjects();
        EXPECT_EQ(page.Style(bitmap), 0);
        if (counted) {
            EXPECT_EQ(LiveGdiObjects(), before) << "a copy or DC of the refused picture was left";
        }
        EXPECT_FALSE(page.Skinned());
        EXPECT_NE(GetWindowLongW(page.window, GWL_STYLE) & WS_CLIPCHILDREN, 0);
        EXPECT_EQ(GetObjectType(bitmap), static_cast<DWORD>(OBJ_BITMAP)) << "the host's bitmap stays";
        DeleteObject(bitmap);
    }
}

TEST(PictureCheck, RefusesAnEightBitDeviceDependentBitmap)
{
    Page page;
    std::vector<BYTE> bits(16 * 16, 3);
    HBITMAP ddb = CreateBitmap(16, 16, 1, 8, bits.data());
    ASSERT_NE(ddb, nullptr);
    BITMAP described;
    ASSERT_EQ(GetObjectW(ddb, sizeof described, &described), static_cast<int>(sizeof described));
    ASSERT_EQ(described.bmBitsPixel, 8) << "not the case this test is about";
    const long before = LiveGdiObjects();
    EXPECT_EQ(page.Style(ddb), 0);
    if (before > 0) {
        EXPECT_EQ(LiveGdiObjects(), before);
    }
    EXPECT_FALSE(page.Skinned());
    DeleteObject(ddb);
}

// The picture's top half is index 0 (kBand through the ramp) and its bottom half index 255
// (kPicture): the picture is shown upright whichever way the host's rows run.
TEST(PictureCheck, TakesTopDownAndBottomUpDibsWithAFullTable)
{
    std::vector<BYTE> rows(16, 255);
    std::fill_n(rows.begin(), 8, 0);
    for (int height : {16, -16}) {
        for (DWORD colours : {0u, 256u}) {
            SCOPED_TRACE(std::string(height < 0 ? "top-down" : "bottom-up") + ", biClrUsed " +
                         std::to_string(colours));
            Page page;
            HBITMAP bitmap = MakeDib(8, height, colours, rows);
            ASSERT_NE(bitmap, nullptr);
            ASSERT_EQ(page.Style(bitmap), 1);
            EXPECT_TRUE(page.Skinned());
            Canvas canvas(300, 200);
            Paint(page.window, canvas);
            RECT box = DialogToPixels(page.window, {4, 10, 40, 40});
            const int size = box.right < box.bottom ? box.right : box.bottom;  // square picture
            const int x = box.left + box.right / 2;
            const int top = box.top + (box.bottom - size) / 2;
            EXPECT_EQ(canvas.At(x, top + size / 4), ToPixel(kBand));
            EXPECT_EQ(canvas.At(x, top + 3 * size / 4), ToPixel(kPicture));
            DeleteObject(bitmap);
        }
    }
}

}  // namespace
