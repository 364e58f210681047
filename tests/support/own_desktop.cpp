#include "support/own_desktop.h"

void OwnDesktop::SetUp()
{
    original_ = GetThreadDesktop(GetCurrentThreadId());
    desktop_ = CreateDesktopW(name_, nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    ASSERT_NE(desktop_, nullptr);
    // Only a thread without windows may change its desktop: this runs before any test.
    ASSERT_TRUE(SetThreadDesktop(desktop_));
}

void OwnDesktop::TearDown()
{
    // Every window of the tests is gone: the thread goes back and the desktop is closed.
    if (desktop_ == nullptr) return;
    EXPECT_TRUE(SetThreadDesktop(original_));
    EXPECT_TRUE(CloseDesktop(desktop_));
    desktop_ = nullptr;
}
