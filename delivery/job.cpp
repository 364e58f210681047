// The four exports: start, poll, cancel and close a delivery job.
#include "delivery/handles.h"
#include "delivery/job.h"
#include "delivery/status_snapshot.h"
#include "delivery/worker.h"
#include "delivery/wstr.h"

namespace {

// The absolute form of path in out (PathCapacity units). 0 for an empty path, for a path of
// PathCapacity units or more (it would be cut), and for an absolute form that does not fit.
int AbsolutePath(const wchar_t* path, wchar_t* out)
{
    DWORD length = 0;
    while (path[length] != 0) {
        if (++length >= PathCapacity) return 0;
    }
    if (length == 0) return 0;
    // The result is the length without the terminator when it fits, else the size it needs.
    DWORD full = GetFullPathNameW(path, PathCapacity, out, nullptr);
    return full != 0 && full < PathCapacity ? 1 : 0;
}

// A file of the job's that is no longer on its path counts as removed; a stranger's file on
// the path does not.
bool Removed(OwnFileRemoval removal)
{
    return removal == OwnFileRemoval::Deleted || removal == OwnFileRemoval::Gone;
}

}  // namespace

extern "C" DeliveryJob* WINAPI PayloadStart(const wchar_t* manifestPath, const wchar_t* packagePath,
                                            const wchar_t* workDir)
{
    if (manifestPath == nullptr || packagePath == nullptr || workDir == nullptr) return nullptr;

    UniqueHeapBlock block(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(DeliveryJob)));
    if (!block) return nullptr;
    auto* job = static_cast<DeliveryJob*>(block.Get());
    InitializeSRWLock(&job->lock);

    // Each path is fixed here, on the host's thread, as the absolute path it names now: the
    // host changes its current directory whenever it likes, and every later use (free space,
    // download, extraction, the deletions in PayloadClose) must mean the same place.
    if (!AbsolutePath(manifestPath, job->manifestPath) || !AbsolutePath(packagePath, job->packagePath) ||
        !AbsolutePath(workDir, job->workDir)) {
        return nullptr;
    }

    UniqueHandle cancelEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!cancelEvent) return nullptr;
    job->cancelEvent = cancelEvent.Get();

    // Published before the worker exists, so the first poll never sees phase 0.
    PublishStatus(job, PAYLOAD_PREPARING, 0, 0, L"正在准备应用包…");

    // The worker runs this DLL's code, and during a download WinHTTP calls back into it, after
    // the host may have unloaded it (an unload after every call is common). The worker holds
    // its own reference for as long as anything of the job can run here (DeliveryWorker).
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<const wchar_t*>(reinterpret_cast<void*>(&DeliveryWorker)),
                            &job->module)) {
        return nullptr;
    }
    job->worker = CreateThread(nullptr, 0, DeliveryWorker, job, 0, nullptr);
    if (job->worker == nullptr) {
        FreeLibrary(job->module);
        return nullptr;
    }

    cancelEvent.Release();
    return static_cast<DeliveryJob*>(block.Release());
}

extern "C" int WINAPI PayloadPoll(DeliveryJob* job, int* phase, int* percent, wchar_t* text, int capacity)
{
    return CopyStatus(job, phase, percent, text, capacity);
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

    // Only what this job created is deleted, and only when the file on the path is still the
    // one it created: the host may have taken a file (then it is gone, as closing wants) or put
    // its own in its place (that one stays). Anything else in the directory keeps it, and the
    // result is 0.
    if (job->workDirCreated) {
        wchar_t path[PathCapacity];
        for (DWORD i = 0; i < job->entryCount; ++i) {
            if (!job->entries[i].created) continue;
            if (!EntryFilePath(job, i, path) || !Removed(RemoveOwnFile(path, job->entries[i].identity))) result = 0;
        }
        if (!RemoveDirectoryW(job->workDir)) result = 0;
    }
    if (job->packageCreated && !Removed(RemoveOwnFile(job->packagePath, job->packageIdentity))) result = 0;

    HeapFree(GetProcessHeap(), 0, job);
    return result;
}
