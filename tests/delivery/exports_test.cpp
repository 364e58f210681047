// Argument handling of the four exports.
#include <gtest/gtest.h>

#include <string>

#include "delivery/payload.h"
#include "support/files.h"
#include "support/jobs.h"

namespace {

TEST(Exports, NullHandles)
{
    EXPECT_EQ(PayloadCancel(nullptr), 0);
    EXPECT_EQ(PayloadClose(nullptr), 1);
    int phase = -5, percent = -5;
    wchar_t text[8] = L"keep";
    EXPECT_EQ(PayloadPoll(nullptr, &phase, &percent, text, 8), 0);
    EXPECT_EQ(phase, -5);
    EXPECT_EQ(std::wstring(text), L"keep");
}

TEST(Exports, StartRefusesNullAndOverlongPaths)
{
    TempDir dir;
    std::wstring ok = dir / L"x";
    EXPECT_EQ(PayloadStart(nullptr, ok.c_str(), ok.c_str()), nullptr);
    EXPECT_EQ(PayloadStart(ok.c_str(), nullptr, ok.c_str()), nullptr);
    EXPECT_EQ(PayloadStart(ok.c_str(), ok.c_str(), nullptr), nullptr);
    std::wstring tooLong(1024, L'a');
    EXPECT_EQ(PayloadStart(tooLong.c_str(), ok.c_str(), ok.c_str()), nullptr);
    EXPECT_EQ(PayloadStart(ok.c_str(), tooLong.c_str(), ok.c_str()), nullptr);
    EXPECT_EQ(PayloadStart(ok.c_str(), ok.c_str(), tooLong.c_str()), nullptr);

    // 1023 units fit (an absolute path: the limit holds for the absolute form). The manifest
    // path stays short: Wine's profile reader overflows its stack on a path longer than MAX_PATH
    // (Windows reads such paths).
    std::wstring longest = dir.Path() + L"\\";
    longest.append(1023 - longest.size(), L'a');
    DeliveryJob* job = PayloadStart(ok.c_str(), longest.c_str(), longest.c_str());
    ASSERT_NE(job, nullptr);
    EXPECT_EQ(WaitForEnd(job).phase, PAYLOAD_FAILED);
    EXPECT_EQ(PayloadClose(job), 1);
}

TEST(Exports, PollArgumentsAndCapacities)
{
    TempDir dir;
    std::wstring missing = dir / L"missing.ini";
    DeliveryJob* job = PayloadStart(missing.c_str(), (dir / L"p.cab").c_str(), (dir / L"w").c_str());
    ASSERT_NE(job, nullptr);
    JobStatus end = WaitForEnd(job);
    ASSERT_EQ(end.phase, PAYLOAD_FAILED);
    EXPECT_EQ(end.text, L"应用包发布清单无效。");
    EXPECT_EQ(end.percent, 0);

    int phase = -1, percent = -1;
    wchar_t text[64];
    EXPECT_EQ(PayloadPoll(job, nullptr, &percent, text, 64), 0);
    EXPECT_EQ(PayloadPoll(job, &phase, nullptr, text, 64), 0);
    EXPECT_EQ(PayloadPoll(job, &phase, &percent, nullptr, 64), 0);
    text[0] = L'#';
    EXPECT_EQ(PayloadPoll(job, &phase, &percent, text, 0), 0);
    EXPECT_EQ(PayloadPoll(job, &phase, &percent, text, -1), 0);
    EXPECT_EQ(text[0], L'#');
    EXPECT_EQ(phase, -1);

    EXPECT_EQ(PayloadPoll(job, &phase, &percent, text, 1), 0);  // cut to the empty string
    EXPECT_EQ(text[0], 0);
    EXPECT_EQ(phase, PAYLOAD_FAILED);
    EXPECT_EQ(percent, 0);
    EXPECT_EQ(PayloadPoll(job, &phase, &percent, text, 5), 0);
    EXPECT_EQ(std::wstring(text), L"应用包发");
    EXPECT_EQ(PayloadPoll(job, &phase, &percent, text, 11), 1);  // exactly fits
    EXPECT_EQ(std::wstring(text), L"应用包发布清单无效。");

    EXPECT_EQ(PayloadCancel(job), 1);
    EXPECT_EQ(PayloadCancel(job), 1);
    EXPECT_EQ(PayloadClose(job), 1);
}

}  // namespace
