// DPI fonts in the 120-DPI prefix, where points * dpi / 72 is not whole and must be rounded.
#include <gtest/gtest.h>

#include "skinning/style.h"
#include "support/dialog_template.h"
#include "support/font_request.h"

namespace {

TEST(FontForDpiAt120, TenPointsAskForSeventeenPixels)
{
    TestDialog dialog({});
    ASSERT_EQ(GetDpiForWindow(dialog.Get()), 120u);
    struct Case {
        int points;
        LONG height;
    } const cases[] = {{10, -17}, {9, -15}, {8, -13}, {11, -18}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.points);
        HFONT font = FontForDpi(dialog.Get(), nullptr, L"Tahoma", c.points, FW_NORMAL);
        ASSERT_NE(font, nullptr);
        EXPECT_EQ(FontRequest(font).lfHeight, c.height);
        EXPECT_EQ(FontRequest(font).lfHeight, RequestedHeight(c.points, 120));
        DeleteObject(font);
    }
}

}  // namespace
