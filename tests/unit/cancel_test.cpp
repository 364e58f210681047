// Cancellation as the stages see it: RequestCancel both records the request and sets the event
// that waits (the download's) wake on, and IsCancelled is cheap enough to test on every chunk.
#include <gtest/gtest.h>

#include "delivery/job.h"

namespace {

struct Job {
    DeliveryJob* job = static_cast<DeliveryJob*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(DeliveryJob)));
    Job() { job->cancelEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr); }
    ~Job()
    {
        CloseHandle(job->cancelEvent);
        HeapFree(GetProcessHeap(), 0, job);
    }
};

TEST(Cancel, RequestSetsTheEventAndIsSeen)
{
    Job j;
    ASSERT_NE(j.job->cancelEvent, nullptr);
    EXPECT_EQ(IsCancelled(j.job), 0);
    EXPECT_EQ(WaitForSingleObject(j.job->cancelEvent, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(RequestCancel(j.job), 1);
    EXPECT_EQ(IsCancelled(j.job), 1);
    EXPECT_EQ(WaitForSingleObject(j.job->cancelEvent, 0), WAIT_OBJECT_0);
    EXPECT_EQ(RequestCancel(j.job), 1);  // again: nothing changes
    EXPECT_EQ(IsCancelled(j.job), 1);
}

// A delivery of 200 MB tests for cancellation some 25,000 times. A test that waits on the
// event costs a kernel round trip each (tens of microseconds under Wine, seconds in all);
// 100,000 tests must take a small fraction of that.
TEST(Cancel, TestingIsCheap)
{
    Job j;
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    int seen = 0;
    QueryPerformanceCounter(&start);
    for (int i = 0; i < 100000; ++i) seen += IsCancelled(j.job);
    QueryPerformanceCounter(&end);
    double ms = static_cast<double>(end.QuadPart - start.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
    EXPECT_EQ(seen, 0);
    EXPECT_LT(ms, 100.0);
}

}  // namespace
