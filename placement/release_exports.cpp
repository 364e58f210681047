// The release exports: start, poll, cancel, retry and close a job that delivers and places a
// whole release (release_worker.cpp does the work).
#include "delivery/status_snapshot.h"
#include "delivery/wstr.h"
#include "placement/release_job.h"

namespace {

void FreeJob(ReleaseJob* job)
{
    if (job->cancelEvent != nullptr) CloseHandle(job->cancelEvent);
    if (job->wake != nullptr) CloseHandle(job->wake);
    HeapFree(GetProcessHeap(), 0, job);
}

// The absolute form of path (as the current directory makes it now), shorter than 1024 units;
// an empty path stays empty.
bool Absolute(const wchar_t* path, wchar_t* out)
{
    DWORD length = 0;
    while (path[length] != 0) {
        if (path[length] < 0x20 || ++length >= ReleasePathCapacity) return false;
    }
    if (length == 0) {
        out[0] = 0;
        return true;
    }
    DWORD made = GetFullPathNameW(path, ReleasePathCapacity, out, nullptr);
    return made != 0 && made < ReleasePathCapacity;
}

}  // namespace

extern "C" ReleaseJob* WINAPI ReleaseStart(const wchar_t* release, const wchar_t* package, const wchar_t* installDir,
                                           const wchar_t* version)
{
    if (release == nullptr || package == nullptr || installDir == nullptr || version == nullptr) return nullptr;
    auto* job = static_cast<ReleaseJob*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(ReleaseJob)));
    if (job == nullptr) return nullptr;
    InitializeSRWLock(&job->lock);
    if (!Absolute(release, job->release) || job->release[0] == 0 || !Absolute(package, job->package)) {
        FreeJob(job);
        return nullptr;
    }
    job->cancelEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    job->wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (job->cancelEvent == nullptr || job->wake == nullptr) {
        FreeJob(job);
        return nullptr;
    }
    PublishRelease(job, RELEASE_PREPARING, 0, L"正在准备安装…");
    job->place = PlaceStart(installDir, version);
    if (job->place == nullptr) {
        FreeJob(job);
        return nullptr;
    }
    // The worker runs this DLL's code after the host may have unloaded it: it holds its own
    // reference until its last instruction.
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<const wchar_t*>(reinterpret_cast<void*>(&ReleaseWorker)), &job->module)) {
        PlaceClose(job->place);
        FreeJob(job);
        return nullptr;
    }
    job->worker = CreateThread(nullptr, 0, ReleaseWorker, job, 0, nullptr);
    if (job->worker == nullptr) {
        FreeLibrary(job->module);
        PlaceClose(job->place);
        FreeJob(job);
        return nullptr;
    }
    return job;
}

extern "C" int WINAPI ReleasePoll(ReleaseJob* job, int* phase, int* percent, wchar_t* text, int capacity)
{
    return CopyStatus(job, phase, percent, text, capacity);
}

extern "C" int WINAPI ReleaseCancel(ReleaseJob* job)
{
    if (job == nullptr) return 0;
    return SetEvent(job->cancelEvent) ? 1 : 0;
}

extern "C" int WINAPI ReleaseRetry(ReleaseJob* job)
{
    if (job == nullptr) return 0;
    AcquireSRWLockExclusive(&job->lock);
    bool waiting = job->phase == RELEASE_PLACING_FAILED && WaitForSingleObject(job->cancelEvent, 0) != WAIT_OBJECT_0;
    if (waiting) {
        job->phase = RELEASE_PLACING;
        job->percent = 90;
        WStrCopy(job->statusText, L"正在安装文件…");
        InterlockedExchange(&job->retryRequested, 1);
    }
    ReleaseSRWLockExclusive(&job->lock);
    if (waiting) SetEvent(job->wake);
    return waiting ? 1 : 0;
}

extern "C" int WINAPI ReleaseClose(ReleaseJob* job)
{
    if (job == nullptr) return 1;
    SetEvent(job->cancelEvent);
    WaitForSingleObject(job->worker, INFINITE);
    CloseHandle(job->worker);
    int result = job->closeResult;
    FreeJob(job);
    return result;
}
