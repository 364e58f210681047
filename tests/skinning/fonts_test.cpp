// DPI fonts at 96 DPI: the font asked for, the switch through a window tree, the old font's
// deletion and undo, and line heights.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "skinning/style.h"
#include "support/dialog_template.h"
#include "support/font_request.h"
#include "support/gdi_census.h"
#include "support/import_patch.h"

namespace {

HFONT TestFont(int height)
{
    return CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0, 0,
                       0, L"Tahoma");
}

HFONT FontOf(HWND window)
{
    return reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0));
}

// A window tree inside a dialog: a container (the root passed to FontForDpi) with two
// children, one of which holds a grandchild; and a dialog button outside the tree.
HWND Child(HWND parent, const wchar_t* className, int y)
{
    return CreateWindowExW(0, className, L"x", WS_CHILD | WS_VISIBLE, 5, y, 100, 20, parent,
                           nullptr, nullptr, nullptr);
}
struct FontTree {
    TestDialog dialog{{{L"BUTTON", 1, 0, 10, 10, 50, 14, L"outside"},
                       {L"STATIC", 3, 0, 10, 30, 200, 90, L""}}};
    HWND root = dialog.Item(3);
    HWND child = Child(root, L"BUTTON", 5);
    HWND otherChild = Child(root, L"EDIT", 30);
    HWND holder = Child(root, L"STATIC", 55);
    HWND grandchild = Child(holder, L"BUTTON", 0);
    HWND outside = dialog.Item(1);
    std::vector<HWND> All() const
    {
        return {root, child, otherChild, holder, grandchild, outside};
    }
};

TEST(FontForDpi, AsksForTheScaledHeightAndTheFixedParameters)
{
    TestDialog dialog({});
    ASSERT_EQ(GetDpiForWindow(dialog.Get()), 96u);
    struct Case {
        int points, weight;
        const wchar_t* face;
    } const cases[] = {{9, FW_NORMAL, L"Tahoma"}, {11, FW_BOLD, L"Tahoma"}, {10, 0, L"Arial"},
                       {1, 350, L"Tahoma"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.points);
        HFONT font = FontForDpi(dialog.Get(), nullptr, c.face, c.points, c.weight);
        ASSERT_NE(font, nullptr);
        const LOGFONTW request = FontRequest(font);
        EXPECT_EQ(request.lfHeight, RequestedHeight(c.points, 96));
        EXPECT_EQ(request.lfWidth, 0);
        EXPECT_EQ(request.lfEscapement, 0);
        EXPECT_EQ(request.lfOrientation, 0);
        EXPECT_EQ(request.lfWeight, c.weight);
        EXPECT_EQ(request.lfItalic, 0);
        EXPECT_EQ(request.lfUnderline, 0);
        EXPECT_EQ(request.lfStrikeOut, 0);
        EXPECT_EQ(request.lfCharSet, DEFAULT_CHARSET);
        EXPECT_EQ(request.lfOutPrecision, OUT_OUTLINE_PRECIS);
        EXPECT_EQ(request.lfClipPrecision, CLIP_DEFAULT_PRECIS);
        EXPECT_EQ(request.lfQuality, CLEARTYPE_NATURAL_QUALITY);
        EXPECT_EQ(request.lfPitchAndFamily, DEFAULT_PITCH | FF_DONTCARE);
        EXPECT_EQ(std::wstring(request.lfFaceName), c.face);
        DeleteObject(font);
    }
    // 9 points at 96 DPI: 12 pixels.
    HFONT nine = FontForDpi(dialog.Get(), nullptr, L"Tahoma", 9, FW_NORMAL);
    EXPECT_EQ(FontRequest(nine).lfHeight, -12);
    DeleteObject(nine);
}

TEST(FontForDpi, RefusesBadArgumentsAndCreatesNothing)
{
    TestDialog dialog({});
    const long before = LiveGdiObjects();
    ASSERT_GE(before, 0);
    EXPECT_EQ(FontForDpi(nullptr, nullptr, L"Tahoma", 9, 400), nullptr);
    EXPECT_EQ(FontForDpi(reinterpret_cast<HWND>(0x7654321), nullptr, L"Tahoma", 9, 400), nullptr);
    EXPECT_EQ(FontForDpi(dialog.Get(), nullptr, nullptr, 9, 400), nullptr);
    EXPECT_EQ(FontForDpi(dialog.Get(), nullptr, L"Tahoma", 0, 400), nullptr);
    EXPECT_EQ(FontForDpi(dialog.Get(), nullptr, L"Tahoma", -9, 400), nullptr);
    EXPECT_EQ(LiveGdiObjects(), before);
}

TEST(FontForDpi, WithoutOldFontNoWindowChanges)
{
    FontTree tree;
    HFONT mine = TestFont(-15);
    for (HWND window : {tree.root, tree.child, tree.grandchild}) {
        SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(mine), FALSE);
    }
    std::map<HWND, HFONT> before;
    for (HWND window : tree.All()) before[window] = FontOf(window);
    HFONT font = FontForDpi(tree.root, nullptr, L"Tahoma", 9, FW_NORMAL);
    ASSERT_NE(font, nullptr);
    for (HWND window : tree.All()) EXPECT_EQ(FontOf(window), before[window]);
    EXPECT_EQ(GetObjectType(mine), static_cast<DWORD>(OBJ_FONT));
    tree.dialog.Destroy();
    DeleteObject(font);
    DeleteObject(mine);
}

TEST(FontForDpi, SwitchesTheWindowAndEveryDescendantWithTheOldFont)
{
    FontTree tree;
    HFONT old = TestFont(-13);
    HFONT other = TestFont(-20);
    for (HWND window : tree.All()) {
        SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(old), FALSE);
    }
    SendMessageW(tree.otherChild, WM_SETFONT, reinterpret_cast<WPARAM>(other), FALSE);
    ASSERT_EQ(FontOf(tree.root), old);

    HFONT font = FontForDpi(tree.root, old, L"Tahoma", 9, FW_NORMAL);
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(FontOf(tree.root), font);  // the window passed in, not only its descendants
    EXPECT_EQ(FontOf(tree.child), font);
    EXPECT_EQ(FontOf(tree.holder), font);
    EXPECT_EQ(FontOf(tree.grandchild), font);  // children of children
    EXPECT_EQ(FontOf(tree.otherChild), other);  // another font stays
    EXPECT_EQ(FontOf(tree.outside), old);       // outside the tree: untouched
    EXPECT_EQ(GetObjectType(old), 0u);          // the old font is deleted
    EXPECT_EQ(GetObjectType(other), static_cast<DWORD>(OBJ_FONT));
    tree.dialog.Destroy();
    DeleteObject(font);
    DeleteObject(other);
}

// The fonts qelskin creates, seen through its import of CreateFontW.
std::vector<HFONT> created;
decltype(&CreateFontW) realCreateFont;
HFONT WINAPI RecordCreateFont(int height, int width, int escapement, int orientation, int weight,
                              DWORD italic, DWORD underline, DWORD strikeOut, DWORD charSet,
                              DWORD outPrecision, DWORD clipPrecision, DWORD quality,
                              DWORD pitchAndFamily, LPCWSTR face)
{
    HFONT font = realCreateFont(height, width, escapement, orientation, weight, italic, underline,
                                strikeOut, charSet, outPrecision, clipPrecision, quality,
                                pitchAndFamily, face);
    created.push_back(font);
    return font;
}

TEST(FontForDpi, UndoesTheSwitchWhenTheOldFontCannotBeDeleted)
{
    ImportPatch patch(SkinModule(), "gdi32.dll", "CreateFontW",
                      reinterpret_cast<void*>(RecordCreateFont));
    ASSERT_TRUE(patch.Active());
    realCreateFont = patch.OriginalAs<decltype(&CreateFontW)>();
    created.clear();

    // A handle that DeleteObject refuses: a font the windows still name but that is gone.
    FontTree tree;
    HFONT gone = TestFont(-13);
    for (HWND window : {tree.root, tree.grandchild}) {
        SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(gone), FALSE);
    }
    DeleteObject(gone);

    EXPECT_EQ(FontForDpi(tree.root, gone, L"Tahoma", 9, FW_NORMAL), nullptr);
    ASSERT_EQ(created.size(), 1u);
    EXPECT_NE(created[0], gone);
    EXPECT_EQ(GetObjectType(created[0]), 0u);  // the new font is deleted again
    EXPECT_EQ(FontOf(tree.root), gone);  // and every window is back on the old one
    EXPECT_EQ(FontOf(tree.grandchild), gone);
    EXPECT_NE(FontOf(tree.child), created[0]);
}

// The DCs qelskin takes with GetDC and gives back, and what is selected when it gives one back.
struct DcSeen {
    std::vector<HDC> taken;
    std::vector<HDC> released;
    std::vector<HGDIOBJ> fontAtRelease;
} dcs;
decltype(&GetDC) realGetDc;
decltype(&ReleaseDC) realReleaseDc;
HDC WINAPI RecordGetDc(HWND window)
{
    HDC dc = realGetDc(window);
    if (dc != nullptr) dcs.taken.push_back(dc);
    return dc;
}
int WINAPI RecordReleaseDc(HWND window, HDC dc)
{
    dcs.released.push_back(dc);
    dcs.fontAtRelease.push_back(GetCurrentObject(dc, OBJ_FONT));
    return realReleaseDc(window, dc);
}

TEST(FontLineHeight, EqualsTmHeightAndReleasesTheDc)
{
    ImportPatch getDc(SkinModule(), "user32.dll", "GetDC", reinterpret_cast<void*>(RecordGetDc));
    ImportPatch releaseDc(SkinModule(), "user32.dll", "ReleaseDC",
                          reinterpret_cast<void*>(RecordReleaseDc));
    ASSERT_TRUE(getDc.Active() && releaseDc.Active());
    realGetDc = getDc.OriginalAs<decltype(&GetDC)>();
    realReleaseDc = releaseDc.OriginalAs<decltype(&ReleaseDC)>();
    dcs = {};

    TestDialog dialog({{L"EDIT", 5, 0, 10, 10, 80, 14, L"x"}});
    HWND edit = dialog.Item(5);
    for (int height : {-11, -16, -24, 30}) {
        SCOPED_TRACE(height);
        HFONT font = TestFont(height);
        HDC dc = GetDC(edit);
        HGDIOBJ previous = SelectObject(dc, font);
        TEXTMETRICW metrics = {};
        GetTextMetricsW(dc, &metrics);
        SelectObject(dc, previous);
        ReleaseDC(edit, dc);
        ASSERT_GT(metrics.tmHeight, 0);

        EXPECT_EQ(FontLineHeight(edit, font), metrics.tmHeight);
        ASSERT_EQ(dcs.released.size(), dcs.taken.size());
        EXPECT_EQ(dcs.released.back(), dcs.taken.back());
        EXPECT_NE(dcs.fontAtRelease.back(), font);  // deselected before the release
        DeleteObject(font);
    }

    // Failures: no font to select, no DC. The DC is given back either way.
    const size_t taken = dcs.taken.size();
    EXPECT_EQ(FontLineHeight(edit, nullptr), 0);
    HFONT deleted = TestFont(-12);
    DeleteObject(deleted);
    EXPECT_EQ(FontLineHeight(edit, deleted), 0);
    EXPECT_EQ(dcs.taken.size(), taken + 2);
    EXPECT_EQ(dcs.released.size(), dcs.taken.size());
    EXPECT_EQ(FontLineHeight(reinterpret_cast<HWND>(0x7654321), TestFont(-12)), 0);
    EXPECT_EQ(dcs.released.size(), dcs.taken.size());
}

}  // namespace
