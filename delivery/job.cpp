// The four exports: start, poll, cancel and close a delivery job.
#include "delivery/handles.h"
#include "delivery/job.h"
#include "delivery/worker.h"
#include "delivery/wstr.h"

extern "C" DeliveryJob* WINAPI PayloadStart(const wchar_t* manifestPath, const wchar_t* packagePath,
                                            const wchar_t* workDir)
{
    if (manifestPath == nullptr || packagePath == nullptr || workDir == nullptr) return nullptr;

    UniqueHeapBlock block(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(DeliveryJob)));
    if (!block) return nullptr;
    auto* job = static_cast<DeliveryJob*>(block.Get());
    InitializeSRWLock(&job->lock);

    // A path of PathCapacity units or more would be cut: refuse it rather than use a prefix.
    if (WStrCopy(job->manifestPath, manifestPath) < 0 || WStrCopy(job->packagePath, packagePath) < 0 ||
        WStrCopy(job->workDir, workDir) < 0) {
        return nullptr;
    }

    UniqueHandle cancelEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!cancelEvent) return nullptr;
    job->cancelEvent = cancelEvent.Get();

    // Published before the worker exists, so the first poll never sees phase 0.
    PublishStatus(job, PAYLOAD_PREPARING, 0, 0, L"正在准备应用包…");

    job->worker = CreateThread(nullptr, 0, DeliveryWorker, job, 0, nullptr);
    if (job->worker == nullptr) return nullptr;

    cancelEvent.Release();
    return static_cast<DeliveryJob*>(block.Release());
}

extern "C" int WINAPI PayloadPoll(DeliveryJob* job, int* phase, int* percent, wchar_t* text, int capacity)
{
    if (job == nullptr || phase == nullptr || percent == nullptr || text == nullptr || capacity <= 0) return 0;
    AcquireSRWLockShared(&job->lock);
    *phase = job->phase;
    *percent = job->percent;
    HRESULT copied = WStrCopy(text, static_cast<DWORD>(capacity), job->statusText);
    ReleaseSRWLockShared(&job->lock);
    return copied < 0 ? 0 : 1;
}

extern "C" int WINAPI PayloadCancel(DeliveryJob* job)
{
    if (job == nullptr) return 0;
    return RequestCancel(job);
}

extern "C" int WINAPI PayloadClose(DeliveryJob* job)
{
    if (job == nullptr) return 1;
    int result = 1;

    RequestCancel(job);
    WaitForSingleObject(job->worker, INFINITE);
    CloseHandle(job->worker);
    CloseHandle(job->cancelEvent);

    // Only what this job created is deleted: entry files it wrote, the directory it made and
    // a package it downloaded. Anything else in the directory keeps it (and the result is 0).
    if (job->workDirCreated) {
        wchar_t path[PathCapacity];
        for (DWORD i = 0; i < job->entryCount; ++i) {
            if (!job->entries[i].created) continue;
            if (!EntryFilePath(job, i, path) || !DeleteFileW(path)) result = 0;
        }
        if (!RemoveDirectoryW(job->workDir)) result = 0;
    }
    if (job->packageCreated && !DeleteFileW(job->packagePath)) result = 0;

    HeapFree(GetProcessHeap(), 0, job);
    return result;
}
