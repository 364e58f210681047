// The exports: start, add parts, commit, poll, cancel and close a placement job; start an
// uninstall.
#include "delivery/handles.h"
#include "delivery/status_snapshot.h"
#include "delivery/wstr.h"
#include "placement/folder.h"
#include "placement/job.h"
#include "placement/manifest.h"
#include "placement/worker.h"

namespace {

LONG JobCounter;  // makes each job's staging name its own within a process

void AppendHex(wchar_t* out, DWORD capacity, DWORD value)
{
    wchar_t digits[9];
    for (int i = 7; i >= 0; --i) {
        digits[i] = L"0123456789abcdef"[value & 15];
        value >>= 4;
    }
    digits[8] = 0;
    WStrAppend(out, capacity, digits);
}

void FreeJob(PlaceJob* job)
{
    if (job->wake != nullptr) CloseHandle(job->wake);
    job->entries.Free();
    job->names.Free();
    job->folded.Free();
    if (job->folder != nullptr) {
        job->folder->created.Free();
        job->folder->createdAt.Free();
        HeapFree(GetProcessHeap(), 0, job->folder);
    }
    HeapFree(GetProcessHeap(), 0, job);
}

PlaceJob* StartJob(const wchar_t* installDir, const wchar_t* version, bool removal)
{
    if (installDir == nullptr || version == nullptr) return nullptr;
    DWORD versionLength = 0;
    for (; version[versionLength] != 0; ++versionLength) {
        if (versionLength + 1 >= VersionCapacity || version[versionLength] < 0x20) return nullptr;
    }
    auto* job = static_cast<PlaceJob*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(PlaceJob)));
    if (job == nullptr) return nullptr;
    InitializeSRWLock(&job->lock);
    InitializeSRWLock(&job->partsLock);
    job->removal = removal ? 1 : 0;
    WStrCopy(job->version, version);
    job->folder = static_cast<FolderState*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(FolderState)));
    // The folder is fixed here, on the host's thread, as the absolute path it names now.
    if (job->folder == nullptr || !LongAbsolutePath(installDir, FolderLimit, job->installDir)) {
        FreeJob(job);
        return nullptr;
    }
    // This job's staging: its own name (process, time, counter), so that nothing a stale run
    // left can be taken for it.
    WStrCopy(job->stageName, StageName);
    WStrAppend(job->stageName, L"\\");
    AppendHex(job->stageName, 40, GetCurrentProcessId());
    WStrAppend(job->stageName, L"-");
    AppendHex(job->stageName, 40, GetTickCount() ^ static_cast<DWORD>(InterlockedIncrement(&JobCounter)) << 24);
    if (!JoinPath(job->stageDir, job->installDir, job->stageName)) {
        FreeJob(job);
        return nullptr;
    }
    job->wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (job->wake == nullptr) {
        FreeJob(job);
        return nullptr;
    }
    PublishStatus(job, PLACE_PREPARING, 0, 0, removal ? L"正在准备卸载…" : L"正在准备安装…");
    // The worker runs this DLL's code after the host may have unloaded it: it holds its own
    // reference until its last instruction (PlaceWorker).
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<const wchar_t*>(reinterpret_cast<void*>(&PlaceWorker)), &job->module)) {
        FreeJob(job);
        return nullptr;
    }
    job->worker = CreateThread(nullptr, 0, PlaceWorker, job, 0, nullptr);
    if (job->worker == nullptr) {
        FreeLibrary(job->module);
        FreeJob(job);
        return nullptr;
    }
    return job;
}

// The work directory the host delivers into, in the form it gave the folder in: the plain form
// when that fits in MAX_PATH (qelfetch and every other host take it), the \\?\ form beyond.
int HandOutWorkDir(const wchar_t* longPath, wchar_t* out, int capacity)
{
    wchar_t scratch[PathCapacity];
    const wchar_t* plain = DisplayPath(longPath, scratch);
    const wchar_t* given = TextLength(plain) < MAX_PATH - 12 ? plain : longPath;
    return static_cast<int>(TextLength(given)) < capacity && WStrCopy(out, static_cast<DWORD>(capacity), given) >= 0;
}

// Refuses the part: the job fails with the line, and the worker, waiting in the open phase, ends.
int RefusePart(PlaceJob* job, PartRefusal why, DWORD offender)
{
    InterlockedExchange(&job->open, 0);
    wchar_t line[StatusCapacity];
    const wchar_t* name = offender != MAXDWORD ? job->names.At(offender) : L"";
    switch (why) {
    case PartRefusal::Unsafe:
        WStrCopy(line, L"发布清单中的文件名不能安装：");
        WStrAppend(line, name);
        break;
    case PartRefusal::Duplicate:
        WStrCopy(line, L"发布清单中的文件名重复：");
        WStrAppend(line, name);
        break;
    case PartRefusal::Nested:
        WStrCopy(line, L"发布清单中的文件名与文件夹重名：");
        WStrAppend(line, name);
        break;
    case PartRefusal::Memory:
        WStrCopy(line, L"内存不足，无法安装。");
        break;
    default:
        WStrCopy(line, L"应用包发布清单无效。");
        break;
    }
    PublishStatus(job, PLACE_FAILED, 0, 0, line);
    SetEvent(job->wake);
    return 0;
}

int AddPart(PlaceJob* job, const wchar_t* manifestPath, const wchar_t* hostDir, wchar_t* workDir, int capacity)
{
    if (job == nullptr || manifestPath == nullptr) return 0;
    wchar_t manifest[PathCapacity];
    DWORD length = 0;
    while (manifestPath[length] != 0) {
        if (++length >= 1024) return 0;
    }
    DWORD made = length == 0 ? 0 : GetFullPathNameW(manifestPath, 1024, manifest, nullptr);
    if (made == 0 || made >= 1024) return 0;

    AcquireSRWLockExclusive(&job->partsLock);
    ScopeExit unlock([&] { ReleaseSRWLockExclusive(&job->partsLock); });
    if (!job->open || job->partCount >= MaxParts) return 0;
    DWORD part = job->partCount;
    ReleasePart& slot = job->parts[part];
    slot = ReleasePart{};
    if (hostDir != nullptr) {
        if (!LongAbsolutePath(hostDir, FolderLimit, slot.source)) return 0;
        slot.hostFiles = 1;
    } else {
        wchar_t stage[PathCapacity];
        if (!PartStagePath(job, part, stage) || !HandOutWorkDir(stage, workDir, capacity)) return 0;
        JoinPath(slot.source, stage, L"");
    }
    slot.first = job->entries.count;
    DWORD offender = MAXDWORD;
    PartRefusal why = AddManifestEntries(job, part, manifest, &offender);
    if (why != PartRefusal::None) {
        if (workDir != nullptr) workDir[0] = 0;
        return RefusePart(job, why, offender);
    }
    slot.count = job->entries.count - slot.first;
    job->partCount = part + 1;
    return 1;
}

}  // namespace

extern "C" PlaceJob* WINAPI PlaceStart(const wchar_t* installDir, const wchar_t* version)
{
    return StartJob(installDir, version, false);
}

extern "C" PlaceJob* WINAPI RemoveStart(const wchar_t* installDir)
{
    return StartJob(installDir, L"", true);
}

extern "C" int WINAPI PlaceAddPart(PlaceJob* job, const wchar_t* manifestPath, wchar_t* workDir, int capacity)
{
    if (workDir == nullptr || capacity <= 0) return 0;
    return AddPart(job, manifestPath, nullptr, workDir, capacity);
}

extern "C" int WINAPI PlaceAddFiles(PlaceJob* job, const wchar_t* manifestPath, const wchar_t* workDir)
{
    if (workDir == nullptr) return 0;
    return AddPart(job, manifestPath, workDir, nullptr, 0);
}

extern "C" int WINAPI PlaceCommit(PlaceJob* job)
{
    if (job == nullptr) return 0;
    AcquireSRWLockExclusive(&job->partsLock);
    ScopeExit unlock([&] { ReleaseSRWLockExclusive(&job->partsLock); });
    bool first = job->open && job->partCount > 0;
    bool retry = !job->open && job->retryable && job->phase == PLACE_FAILED && !job->committed;
    if ((!first && !retry) || job->removal || job->cancelRequested) return 0;
    InterlockedExchange(&job->open, 0);
    job->retryable = 0;
    // Published before the worker wakes, so that no poll after this call sees the open phase or
    // the failure of a try before.
    PublishStatus(job, PLACE_PLACING, 0, 1, L"正在安装文件…");
    InterlockedExchange(&job->commitRequested, 1);
    SetEvent(job->wake);
    return 1;
}

extern "C" int WINAPI PlacePoll(PlaceJob* job, int* phase, int* percent, wchar_t* text, int capacity)
{
    return CopyStatus(job, phase, percent, text, capacity);
}

extern "C" int WINAPI PlaceCancel(PlaceJob* job)
{
    if (job == nullptr) return 0;
    InterlockedExchange(&job->cancelRequested, 1);
    SetEvent(job->wake);
    return 1;
}

extern "C" int WINAPI PlaceClose(PlaceJob* job)
{
    if (job == nullptr) return 1;
    InterlockedExchange(&job->cancelRequested, 1);
    InterlockedExchange(&job->closeRequested, 1);
    SetEvent(job->wake);
    WaitForSingleObject(job->worker, INFINITE);
    CloseHandle(job->worker);
    int result = job->closeResult;
    FreeJob(job);
    return result;
}
