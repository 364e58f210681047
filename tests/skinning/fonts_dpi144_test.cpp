// DPI fonts in the 144-DPI prefix.
#include <gtest/gtest.h>

#include "skinning/style.h"
#include "support/dialog_template.h"
#include "support/font_request.h"

namespace {

TEST(FontForDpiAt144, NinePointsAskForEighteenPixels)
{
    TestDialog dialog({{L"STATIC", 1, 0, 10, 10, 50, 14, L"x"}});
    ASSERT_EQ(GetDpiForWindow(dialog.Item(1)), 144u);
    HFONT font = FontForDpi(dialog.Item(1), nullptr, L"Tahoma", 9, FW_NORMAL);
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(FontRequest(font).lfHeight, -18);
    EXPECT_EQ(FontRequest(font).lfHeight, RequestedHeight(9, 144));
    // The line height follows the bigger font.
    EXPECT_GT(FontLineHeight(dialog.Item(1), font), 18);
    DeleteObject(font);
}

}  // namespace
