// The worker's last step and the strict number reader: cases no export can produce on demand.
#include <gtest/gtest.h>

#include <string>

#include "delivery/job.h"
#include "delivery/manifest.h"
#include "delivery/worker.h"
#include "delivery/wstr.h"

namespace {

// A cancel set before the worker runs is seen only by its last step when the manifest fails
// first: the manifest failure is published, then replaced by the cancelled phase. From the
// exports this is a race (the worker may end before the cancel arrives).
TEST(Worker, CancelSeenAtTheEndReplacesAPublishedFailure)
{
    for (bool cancelled : {false, true}) {
        auto* job = static_cast<DeliveryJob*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(DeliveryJob)));
        ASSERT_NE(job, nullptr);
        InitializeSRWLock(&job->lock);
        job->cancelEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        ASSERT_NE(job->cancelEvent, nullptr);
        if (cancelled) {
            ASSERT_EQ(RequestCancel(job), 1);
        }
        WStrCopy(job->manifestPath, L"C:\\no such folder\\manifest.ini");
        WStrCopy(job->packagePath, L"C:\\no such folder\\package.cab");
        WStrCopy(job->workDir, L"C:\\no such folder\\work");

        EXPECT_EQ(DeliveryWorker(job), 0u);
        EXPECT_EQ(job->phase, cancelled ? PAYLOAD_CANCELLED : PAYLOAD_FAILED);
        EXPECT_EQ(job->percent, 0);
        EXPECT_EQ(std::wstring(job->statusText), cancelled ? L"已取消，未开始安装。" : L"应用包发布清单无效。");
        CloseHandle(job->cancelEvent);
        HeapFree(GetProcessHeap(), 0, job);
    }
}

TEST(ParseDecimal, GuardsAndLimits)
{
    const struct {
        const wchar_t* text;
        bool accepted;
        ULONGLONG value;
    } cases[] = {
        {L"0", true, 0},
        {L"000000000000000000000000000007", true, 7},
        {L"2000000000", true, 2000000000},
        {L"02000000000", true, 2000000000},
        {L"2000000001", false, 0},
        {L"200000000", true, 200000000},
        {L"2000000009", false, 0},  // past the limit after the last multiplication
        {L"2100000000", false, 0},  // the guard before the multiplication
        {L"4294967296", false, 0},  // 0 in 32 bits
        {L"4294967297", false, 0},  // 1 in 32 bits
        {L"99999999999999999999", false, 0},
        {L"", false, 0},
        {L" 1", false, 0},
        {L"1 ", false, 0},
        {L"+1", false, 0},
        {L"-0", false, 0},
        {L"1,000", false, 0},
        {L"1_000", false, 0},
        {L"\uFF11", false, 0},  // a fullwidth digit
        {L"\u0661", false, 0},  // an Arabic-Indic digit
    };
    for (const auto& c : cases) {
        ULONGLONG out = 0x1234567890ULL;
        EXPECT_EQ(ParseDecimal(c.text, &out), c.accepted ? 1 : 0) << testing::PrintToString(std::wstring(c.text));
        EXPECT_EQ(out, c.accepted ? c.value : 0x1234567890ULL) << testing::PrintToString(std::wstring(c.text));
    }
}

}  // namespace
