// Internals of qelskin that no export reaches: the blend values, the noise tile in memory, what a
// page skin and a button record hold and release.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include "skinning/button.h"
#include "skinning/page_skin.h"
#include "skinning/paint.h"
#include "skinning/style.h"
#include "support/skin_windows.h"

namespace {

TEST(BlendColor, ListedValues)
{
    EXPECT_EQ(BlendColor(0x00FFFFFF, 0x00000000, 18), 0x00EDEDEDu);
    EXPECT_EQ(BlendColor(0x00102030, 0x00F0E0D0, 128), 0x00808080u);
    EXPECT_EQ(BlendColor(0x000000C8, 0x00000000, 1), 0x000000C8u);
    EXPECT_EQ(BlendColor(0x00000000, 0x000000C8, 1), 0x00000000u);
    EXPECT_EQ(BlendColor(0xFF123456, 0xAA654321, 0), 0x00123456u);
    EXPECT_EQ(BlendColor(0xFF123456, 0xAA654321, 255), 0x00654321u);
    for (int step = 0; step <= 255; step += 17) {
        EXPECT_EQ(BlendColor(RGB(3, 200, 90), RGB(250, 7, 91), step), skintest::Blend(RGB(3, 200, 90), RGB(250, 7, 91), step));
    }
}

TEST(NoiseBrush, TileInMemoryAndRelease)
{
    for (COLORREF second : {RGB(0x40, 0x80, 0xC0), RGB(0x11, 0x22, 0x33)}) {
        NoiseBrush noise;
        ASSERT_EQ(CreateNoiseBrush(&noise, RGB(0x11, 0x22, 0x33), second), 1);
        DIBSECTION dib;
        ASSERT_EQ(GetObjectW(noise.bitmap.Get(), sizeof dib, &dib), static_cast<int>(sizeof dib));
        EXPECT_EQ(dib.dsBmih.biWidth, 32);
        EXPECT_EQ(dib.dsBmih.biBitCount, 32);
        const DWORD* pixels = static_cast<const DWORD*>(dib.dsBm.bmBits);
        for (int i = 0; i < 1024; ++i) {
            COLORREF want = skintest::Texture(RGB(0x11, 0x22, 0x33), second, i % 32, i / 32);
            ASSERT_EQ(pixels[i], skintest::ToPixel(want)) << i;
        }
        HBITMAP bitmap = noise.bitmap.Get();
        HBRUSH brush = noise.brush.Get();
        DeleteNoiseBrush(&noise);
        EXPECT_EQ(GetObjectType(bitmap), 0u);
        EXPECT_EQ(GetObjectType(brush), 0u);
        DeleteNoiseBrush(&noise);  // safe when empty
    }
}

TEST(PageSkin, DestroyingThePageReleasesEveryObject)
{
    HWND page = skintest::CreateDialogFromTemplate(nullptr, WS_POPUP, 200, 150, {});
    HBITMAP host = skintest::MakeIndexedBitmap(8, 8, 1, std::vector<COLORREF>(256, RGB(9, 8, 7)));
    ASSERT_EQ(StylePage(page, host, 1, 2, 3, 10, 0, 0, 10, 10, 0), 1);
    DWORD_PTR data = 0;
    ASSERT_TRUE(GetWindowSubclass(page, PageSubclassProc, 1, &data));
    PageSkin* skin = reinterpret_cast<PageSkin*>(data);
    EXPECT_EQ(skin->pictureInfo.bmBitsPixel, 8);
    EXPECT_EQ(skin->sourceColors[255].rgbRed, 9);
    HGDIOBJ objects[] = {skin->pageNoise.brush.Get(), skin->pageNoise.bitmap.Get(), skin->bandNoise.brush.Get(),
                         skin->bandNoise.bitmap.Get(), skin->cardPageNoise.brush.Get(),
                         skin->cardPageNoise.bitmap.Get(), skin->picture.Get(), skin->pictureDC.Get()};
    for (HGDIOBJ h : objects) EXPECT_NE(GetObjectType(h), 0u);
    EXPECT_NE(skin->picture.Get(), host) << "the skin's own copy";
    DestroyWindow(page);
    for (HGDIOBJ h : objects) EXPECT_EQ(GetObjectType(h), 0u);
    EXPECT_EQ(GetObjectType(host), static_cast<DWORD>(OBJ_BITMAP));
    DeleteObject(host);
}

TEST(ButtonColors, SecondStyleReusesTheRecord)
{
    HWND page = skintest::CreateDialogFromTemplate(nullptr, WS_POPUP, 200, 150,
                                                   {{L"BUTTON", L"OK", BS_PUSHBUTTON, 10, 10, 40, 14, 1}});
    HBITMAP host = skintest::MakeIndexedBitmap(8, 8, 1, std::vector<COLORREF>(256, 0));
    ASSERT_EQ(StylePage(page, host, 1, 2, 3, 10, 0, 0, 10, 10, 0), 1);
    HWND button = GetDlgItem(page, 1);
    ASSERT_EQ(StyleButton(button, 1, 2, 3, 4, 5, 6, 7, -1, 4), 1);
    DWORD_PTR first = 0, second = 0, container = 99;
    ASSERT_TRUE(GetWindowSubclass(button, ButtonSubclassProc, 1, &first));
    ASSERT_EQ(StyleButton(button, 11, 12, 13, 14, 15, 16, 17, 1, 8), 1);
    ASSERT_TRUE(GetWindowSubclass(button, ButtonSubclassProc, 1, &second));
    EXPECT_EQ(first, second);
    const ButtonColors* colors = reinterpret_cast<const ButtonColors*>(second);
    EXPECT_EQ(colors->fill, 11u);
    EXPECT_EQ(colors->focusBorder, 17u);
    EXPECT_EQ(colors->borderMode, 1);
    EXPECT_EQ(colors->radius, 8);
    ASSERT_TRUE(GetWindowSubclass(page, ContainerSubclassProc, 1, &container));
    EXPECT_EQ(container, 0u);
    DestroyWindow(page);
    DeleteObject(host);
}

TEST(PaintPageBehind, NoSkinnedAncestorLeavesTheDcAlone)
{
    HWND dialog = skintest::CreateDialogFromTemplate(nullptr, WS_POPUP, 100, 100,
                                                     {{L"STATIC", L"", SS_LEFT, 0, 0, 20, 20, 1}});
    skintest::Canvas canvas(20, 20);
    SetViewportOrgEx(canvas.Dc(), 2, 2, nullptr);
    EXPECT_EQ(PaintPageBehind(GetDlgItem(dialog, 1), canvas.Dc()), 0);
    POINT p;
    GetViewportOrgEx(canvas.Dc(), &p);
    EXPECT_EQ(p.x, 2);
    EXPECT_EQ(canvas.At(5, 5), 0x00FF00FFu);
    DestroyWindow(dialog);
}

}  // namespace
