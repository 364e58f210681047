// A desktop of the test program's own. Keyboard focus follows activation, which every program
// on a desktop shares: tests that run at the same time in the same Wine prefix would take it
// from a program's windows between two of its steps. A program whose tests depend on the focus
// registers this environment, and its main thread's windows then live on a desktop of their own.
#pragma once
#include <gtest/gtest.h>

#include <windows.h>

class OwnDesktop : public ::testing::Environment {
public:
    explicit OwnDesktop(const wchar_t* name) : name_(name) {}
    void SetUp() override;
    void TearDown() override;

private:
    const wchar_t* name_;
    HDESK original_ = nullptr;  // the thread's desktop: not this program's to close
    HDESK desktop_ = nullptr;
};
