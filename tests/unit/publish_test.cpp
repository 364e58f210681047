// PublishStatus stores only what changes: a status equal to the one published takes no lock,
// so the worker never waits for a poller over a chunk that moved nothing; any change does.
#include <gtest/gtest.h>

#include "delivery/job.h"

namespace {

struct Call {
    DeliveryJob* job;
    int phase;
    ULONGLONG done, total;
    const wchar_t* text;
};

DWORD WINAPI Publish(void* argument)
{
    auto* c = static_cast<Call*>(argument);
    PublishStatus(c->job, c->phase, c->done, c->total, c->text);
    return 0;
}

// Runs PublishStatus on another thread while this one holds the lock shared, as a poller does.
// True when it returned without waiting for the lock.
bool PublishesPastAReader(DeliveryJob* job, Call call)
{
    AcquireSRWLockShared(&job->lock);
    HANDLE thread = CreateThread(nullptr, 0, Publish, &call, 0, nullptr);
    bool returned = WaitForSingleObject(thread, 300) == WAIT_OBJECT_0;
    ReleaseSRWLockShared(&job->lock);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return returned;
}

TEST(Publish, OnlyChangesTakeTheLock)
{
    auto* job = static_cast<DeliveryJob*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(DeliveryJob)));
    ASSERT_NE(job, nullptr);
    InitializeSRWLock(&job->lock);
    PublishStatus(job, PAYLOAD_VERIFYING, 10, 1000, L"正在校验应用包完整性…");
    EXPECT_EQ(job->percent, 1);

    EXPECT_TRUE(PublishesPastAReader(job, {job, PAYLOAD_VERIFYING, 19, 1000, L"正在校验应用包完整性…"}));
    EXPECT_EQ(job->percent, 1);
    EXPECT_FALSE(PublishesPastAReader(job, {job, PAYLOAD_VERIFYING, 20, 1000, L"正在校验应用包完整性…"}));
    EXPECT_EQ(job->percent, 2);
    EXPECT_FALSE(PublishesPastAReader(job, {job, PAYLOAD_EXTRACTING, 20, 1000, L"正在校验应用包完整性…"}));
    EXPECT_EQ(job->phase, PAYLOAD_EXTRACTING);
    EXPECT_FALSE(PublishesPastAReader(job, {job, PAYLOAD_EXTRACTING, 20, 1000, L"file0.bin"}));
    EXPECT_EQ(std::wstring(job->statusText), L"file0.bin");
    HeapFree(GetProcessHeap(), 0, job);
}

}  // namespace
