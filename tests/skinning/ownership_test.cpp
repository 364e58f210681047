// Destroying styled windows frees what their records owned; repeated styling does not leak.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include "skinning/style.h"
#include "support/gdi_census.h"
#include "support/skin_windows.h"

using namespace skintest;

namespace {

struct Styled {
    HWND page, button, text;
    HBRUSH bandBrush, pageBrush;
};

Styled MakeStyled(HBITMAP bitmap)
{
    Styled s{};
    s.page = CreateDialogFromTemplate(nullptr, WS_POPUP, 200, 150,
                                      {{L"BUTTON", L"OK", BS_PUSHBUTTON, 120, 100, 40, 14, 1},
                                       {L"STATIC", L"Text", SS_LEFT, 2, 2, 10, 8, 2},
                                       {L"STATIC", L"Text", SS_LEFT, 150, 20, 20, 8, 3}});
    s.button = GetDlgItem(s.page, 1);
    s.text = GetDlgItem(s.page, 2);
    if (!StylePage(s.page, bitmap, RGB(250, 250, 250), RGB(10, 20, 30), RGB(200, 100, 0), 20, 0, 0, 10, 10, 100)) {
        return s;
    }
    StyleButton(s.button, 1, 2, 3, 4, 5, 6, 7, 0, 4);
    Canvas probe(4, 4);
    s.bandBrush = reinterpret_cast<HBRUSH>(SendMessageW(s.page, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(probe.Dc()),
                                                        reinterpret_cast<LPARAM>(s.text)));
    s.pageBrush = reinterpret_cast<HBRUSH>(SendMessageW(s.page, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(probe.Dc()),
                                                        reinterpret_cast<LPARAM>(GetDlgItem(s.page, 3))));
    Canvas canvas(300, 250);
    Paint(s.page, canvas);
    Paint(s.button, canvas);
    return s;
}

TEST(Ownership, DestroyingThePageFreesItsBrushes)
{
    HBITMAP bitmap = MakeIndexedBitmap(8, 8, 3, std::vector<COLORREF>(256, RGB(1, 2, 3)));
    Styled s = MakeStyled(bitmap);
    ASSERT_EQ(GetObjectType(s.bandBrush), static_cast<DWORD>(OBJ_BRUSH));
    ASSERT_EQ(GetObjectType(s.pageBrush), static_cast<DWORD>(OBJ_BRUSH));
    // Restyling replaces the textures: the old brushes go at once.
    ASSERT_EQ(StylePage(s.page, bitmap, RGB(1, 1, 1), RGB(2, 2, 2), RGB(3, 3, 3), 20, 0, 0, 10, 10, 0), 1);
    EXPECT_EQ(GetObjectType(s.bandBrush), 0u);
    EXPECT_EQ(GetObjectType(s.pageBrush), 0u);
    Canvas probe(4, 4);
    HBRUSH now = reinterpret_cast<HBRUSH>(SendMessageW(s.page, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(probe.Dc()),
                                                       reinterpret_cast<LPARAM>(s.text)));
    ASSERT_EQ(GetObjectType(now), static_cast<DWORD>(OBJ_BRUSH));
    DestroyWindow(s.page);
    EXPECT_EQ(GetObjectType(now), 0u);
    EXPECT_EQ(GetObjectType(bitmap), static_cast<DWORD>(OBJ_BITMAP)) << "the host's bitmap stays the host's";
    DeleteObject(bitmap);
}

TEST(Ownership, FiveHundredCyclesDoNotGrowGdiObjects)
{
    HBITMAP bitmap = MakeIndexedBitmap(8, 8, 3, std::vector<COLORREF>(256, RGB(1, 2, 3)));
    // The counter itself must see objects come and go, or the test proves nothing.
    int base = LiveGdiObjects();
    ASSERT_GT(base, 0) << "no working GDI object counter";
    HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
    EXPECT_EQ(LiveGdiObjects(), base + 1);
    DeleteObject(brush);
    EXPECT_EQ(LiveGdiObjects(), base);

    DestroyWindow(MakeStyled(bitmap).page);  // warm-up: fonts and caches made once per process
    int before = LiveGdiObjects();
    Styled live = MakeStyled(bitmap);
    EXPECT_GE(LiveGdiObjects(), before + 8) << "three textures (two objects each), picture, memory DC";
    DestroyWindow(live.page);
    EXPECT_EQ(LiveGdiObjects(), before);
    for (int i = 0; i < 500; ++i) {
        Styled s = MakeStyled(bitmap);
        ASSERT_NE(s.pageBrush, nullptr);
        DestroyWindow(s.page);
    }
    EXPECT_EQ(LiveGdiObjects(), before);
    DeleteObject(bitmap);
}

}  // namespace
