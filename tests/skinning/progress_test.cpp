// The progress page: details hidden for good, and the frozen preview progress bar.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include "skinning/style.h"
#include "support/dialog_template.h"
#include "support/skin_subclasses.h"

namespace {

constexpr int kShowDetails = 1027;
constexpr int kDetails = 1016;
constexpr int kBar = 1004;

std::vector<DialogItem> ProgressPage()
{
    return {{L"BUTTON", kShowDetails, WS_TABSTOP, 10, 40, 60, 14, L"Details"},
            {L"LISTBOX", kDetails, WS_VSCROLL, 10, 60, 200, 50, L""},
            {L"msctls_progress32", kBar, 0, 10, 10, 200, 10, L""},
            {L"STATIC", 5, 0, 80, 40, 60, 14, L"status"}};
}

TEST(HideProgressDetails, KeepsButtonAndListHiddenForGood)
{
    SubclassWatch subclasses;
    ASSERT_TRUE(subclasses.Active());
    TestDialog page(ProgressPage());
    ASSERT_TRUE(IsWindowVisible(page.Item(kShowDetails)));
    ASSERT_EQ(HideProgressDetails(page.Get()), 1);
    for (int id : {kShowDetails, kDetails}) {
        SCOPED_TRACE(id);
        HWND control = page.Item(id);
        EXPECT_FALSE(IsWindowVisible(control));
        ShowWindow(control, SW_SHOW);
        EXPECT_FALSE(IsWindowVisible(control));
        ShowWindow(control, SW_SHOWNORMAL);
        SetWindowPos(control, HWND_TOP, 5, 5, 50, 20, SWP_SHOWWINDOW);
        EXPECT_FALSE(IsWindowVisible(control));
        EXPECT_FALSE(GetWindowLongW(control, GWL_STYLE) & WS_VISIBLE);
    }
    EXPECT_TRUE(IsWindowVisible(page.Item(kBar)));
    EXPECT_TRUE(IsWindowVisible(page.Item(5)));

    // The page gets the container subclass (identifier 1, no data).
    const std::vector<SubclassCall> onPage = subclasses.InstalledOn(page.Get());
    ASSERT_EQ(onPage.size(), 1u);
    EXPECT_EQ(onPage[0].id, 1u);
    EXPECT_EQ(onPage[0].data, 0u);

    HWND button = page.Item(kShowDetails);
    HWND list = page.Item(kDetails);
    page.Destroy();
    EXPECT_TRUE(subclasses.AllRemovedFrom(button));
    EXPECT_TRUE(subclasses.AllRemovedFrom(list));
}

TEST(HideProgressDetails, FailsUnlessBothControlsExist)
{
    TestDialog noList({{L"BUTTON", kShowDetails, 0, 10, 40, 60, 14, L"Details"}});
    EXPECT_EQ(HideProgressDetails(noList.Get()), 0);
    EXPECT_TRUE(IsWindowVisible(noList.Item(kShowDetails)));
    TestDialog noButton({{L"LISTBOX", kDetails, 0, 10, 60, 200, 50, L""}});
    EXPECT_EQ(HideProgressDetails(noButton.Get()), 0);
    EXPECT_TRUE(IsWindowVisible(noButton.Item(kDetails)));
    EXPECT_EQ(HideProgressDetails(nullptr), 0);
}

LRESULT Send(HWND bar, UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
{
    return SendMessageW(bar, message, wParam, lParam);
}

TEST(PreviewProgress, MovesOnlyByThePreviewMessage)
{
    TestDialog page(ProgressPage());
    HWND bar = page.Item(kBar);
    Send(bar, PBM_SETRANGE32, 0, 400);
    Send(bar, PBM_SETPOS, 120);
    ASSERT_EQ(Send(bar, PBM_GETPOS), 120);

    ASSERT_NE(StylePreviewProgress(bar), 0);
    EXPECT_EQ(Send(bar, PBM_GETPOS), 0);  // frozen at 0 of 0..100
    EXPECT_EQ(Send(bar, PBM_GETRANGE, TRUE), 0);
    EXPECT_EQ(Send(bar, PBM_GETRANGE, FALSE), 100);

    EXPECT_EQ(Send(bar, PBM_SETPOS, 50), 0);  // ignored
    EXPECT_EQ(Send(bar, PBM_GETPOS), 0);
    EXPECT_EQ(Send(bar, WM_PREVIEW_SETPOS, 50), 0);  // the previous position
    EXPECT_EQ(Send(bar, PBM_GETPOS), 50);
    EXPECT_EQ(Send(bar, PBM_DELTAPOS, 10), 50);
    EXPECT_EQ(Send(bar, PBM_STEPIT), 50);
    EXPECT_EQ(Send(bar, PBM_GETPOS), 50);
    EXPECT_EQ(Send(bar, PBM_SETRANGE32, 0, 1000), 0x00640000);
    EXPECT_EQ(Send(bar, PBM_SETRANGE, 0, MAKELPARAM(10, 500)), 0x00640000);
    EXPECT_EQ(Send(bar, PBM_GETRANGE, TRUE), 0);
    EXPECT_EQ(Send(bar, PBM_GETRANGE, FALSE), 100);
    EXPECT_EQ(Send(bar, WM_PREVIEW_SETPOS, 80), 50);
    EXPECT_EQ(Send(bar, PBM_GETPOS), 80);
}

TEST(PreviewProgress, RefusesSecondCallAndOtherClasses)
{
    SubclassWatch subclasses;
    ASSERT_TRUE(subclasses.Active());
    TestDialog page(ProgressPage());
    HWND bar = page.Item(kBar);
    ASSERT_NE(StylePreviewProgress(bar), 0);
    Send(bar, WM_PREVIEW_SETPOS, 30);
    EXPECT_EQ(StylePreviewProgress(bar), 0);
    EXPECT_EQ(Send(bar, PBM_GETPOS), 30);  // the second call did not reset the bar
    EXPECT_EQ(StylePreviewProgress(page.Item(5)), 0);
    EXPECT_EQ(StylePreviewProgress(page.Item(kDetails)), 0);
    EXPECT_EQ(StylePreviewProgress(page.Get()), 0);
    EXPECT_EQ(StylePreviewProgress(nullptr), 0);
    EXPECT_EQ(subclasses.Installed().size(), 1u);
    page.Destroy();
    EXPECT_TRUE(subclasses.AllRemovedFrom(bar));
}

}  // namespace
