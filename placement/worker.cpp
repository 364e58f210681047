#include "placement/worker.h"

#include "delivery/handles.h"
#include "delivery/wstr.h"
#include "placement/file_ops.h"
#include "placement/folder.h"
#include "placement/placement.h"
#include "placement/recovery.h"
#include "placement/tree.h"

namespace {

const wchar_t* CancelledText() { return L"已取消，安装文件夹保持原样。"; }

// The folder made ready: the install folder (made for an install), its lock, what a killed run
// left, then this job's staging folder.
int Prepare(PlaceJob* job)
{
    if (job->removal) {
        DWORD attributes = GetFileAttributesW(job->installDir);
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            wchar_t path[PathCapacity];
            JoinPath(path, job->installDir, RecordFileName);
            return ReportFailure(job, L"找不到安装记录：", path, 0);
        }
    } else if (!MakeInstallFolder(job)) {
        return 0;
    }
    if (!LockInstallFolder(job)) return 0;
    // Every file the job handles lies on the folder's volume.
    UniqueFile folder(CreateFileW(job->installDir, FILE_READ_ATTRIBUTES, ShareAll, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!folder || !ReadVolumeIds(folder.Get(), &job->volume)) {
        return ReportFailure(job, L"无法读取安装文件夹：", job->installDir, GetLastError());
    }
    folder.Reset();
    PublishStatus(job, PLACE_PREPARING, 0, 0, job->removal ? L"正在准备卸载…" : L"正在准备安装…");
    if (!RecoverFolder(job)) return 0;

    wchar_t root[PathCapacity];
    JoinPath(root, job->installDir, StageName);
    if (CreateDirectoryW(root, nullptr)) {
        SetFileAttributesW(root, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    } else if (GetLastError() != ERROR_ALREADY_EXISTS) {
        DWORD error = GetLastError();
        if (error == ERROR_DISK_FULL) return ReportFailure(job, L"磁盘空间不足，无法写入：", root, 0);
        return ReportFailure(job, L"无法写入安装文件夹：", job->installDir, error);
    }
    if (!CreateDirectoryW(job->stageDir, nullptr)) return ReportFailure(job, L"无法写入安装文件夹：", job->stageDir, GetLastError());
    return 1;
}

// One placing (or the uninstall). A failure or a cancel before the commit point leaves the
// folder as it was.
void Place(PlaceJob* job)
{
    Placement p = {};
    p.job = job;
    int placed = 0;
    // A try that fails may be made again, unless it could not undo what it did: set before any
    // failure is told, so that a host that sees one may commit again at once.
    job->retryable = job->removal ? 0 : 1;
    if (job->removal) {
        PublishStatus(job, PLACE_PLACING, 0, 1, L"正在删除文件…");
        p.total = 1;
        if (PlanRemoval(&p)) placed = RunPlacement(&p);
    } else {
        ++job->tries;
        if (StageParts(&p)) {
            // Looked at, moved aside, moved in, its backup deleted: about four steps a file.
            p.total = job->entries.count * 4 + 2;
            PublishStatus(job, PLACE_PLACING, 0, p.total, L"正在安装文件…");
            if (PlanInstall(&p)) placed = RunPlacement(&p);
        }
    }
    FreePlacement(&p);
    if (placed) {
        PublishStatus(job, PLACE_DONE, 1, 1, job->removal ? L"卸载完成。" : L"安装完成。");
        return;
    }
    // Staging and planning change nothing in the folder; a run undoes what it did. Either way
    // the staged files are where they were for another try. The stage that failed said why; what
    // is left is decided under the parts lock: a host that saw the failure may already have
    // committed again (PlaceCommit holds the lock), and its new try's status must stand.
    AcquireSRWLockExclusive(&job->partsLock);
    if (!job->commitRequested && job->phase != PLACE_CANCELLED) {
        if (IsCancelled(job) && !job->committed) {
            job->retryable = 0;
            PublishStatus(job, PLACE_CANCELLED, 0, 0, CancelledText());
        } else if (job->phase != PLACE_FAILED) {
            ReportFailure(job, L"安装失败，安装文件夹保持原样。", nullptr, 0);
        }
    }
    ReleaseSRWLockExclusive(&job->partsLock);
}

// Waits in the open phase for the commit, and again after a failed try that may be retried.
// What to do next is decided under the parts lock, which PlaceAddPart and PlaceCommit hold for
// all they change: a commit is never missed between a look at the phase and the wait.
void RunInstall(PlaceJob* job)
{
    enum class Next { Place, Wait, End };
    // Open before it says so: a host that sees the phase adds its parts at once.
    InterlockedExchange(&job->open, 1);
    PublishStatus(job, PLACE_OPEN, 0, 0, L"正在准备安装…");
    for (;;) {
        AcquireSRWLockExclusive(&job->partsLock);
        Next next = Next::Wait;
        if (IsCancelled(job)) {
            InterlockedExchange(&job->open, 0);
            job->retryable = 0;
            if (job->phase != PLACE_FAILED && job->phase != PLACE_DONE) PublishStatus(job, PLACE_CANCELLED, 0, 0, CancelledText());
            next = Next::End;
        } else if (InterlockedExchange(&job->commitRequested, 0) != 0) {
            next = Next::Place;
        } else if (job->phase == PLACE_DONE || job->phase == PLACE_CANCELLED ||
                   (job->phase == PLACE_FAILED && !job->retryable)) {
            // Placed, cancelled, or failed for good (a part refused by PlaceAddPart, a try whose
            // undo did not finish).
            next = Next::End;
        }
        ReleaseSRWLockExclusive(&job->partsLock);
        if (next == Next::End) return;
        if (next == Next::Place) {
            Place(job);
            continue;
        }
        WaitForSingleObject(job->wake, INFINITE);
    }
}

// After the close: staging goes, the lock is released, and folders the job made and left empty
// go too (after a committed uninstall, the install folder itself when empty).
int GiveBack(PlaceJob* job)
{
    int result = 1;
    if (job->folder->lock != nullptr) {
        wchar_t root[PathCapacity];
        JoinPath(root, job->installDir, StageName);
        if (GetFileAttributesW(job->stageDir) != INVALID_FILE_ATTRIBUTES && !RemoveTree(job->stageDir)) result = 0;
        // Shared by later runs; left only while a stale run's leftovers are still in it.
        RemoveEmptyFolder(root);
    }
    bool installed = !job->removal && job->committed;
    if (!ReleaseInstallFolder(job, installed)) result = 0;
    if (job->removal && job->committed) RemoveEmptyFolder(job->installDir);
    return result;
}

}  // namespace

DWORD WINAPI PlaceWorker(void* argument)
{
    auto* job = static_cast<PlaceJob*>(argument);
    if (!Prepare(job)) {
        if (IsCancelled(job)) PublishStatus(job, PLACE_CANCELLED, 0, 0, CancelledText());
        else if (job->phase != PLACE_FAILED) ReportFailure(job, L"安装失败，安装文件夹保持原样。", nullptr, 0);
    } else if (job->removal) {
        Place(job);
    } else {
        RunInstall(job);
    }
    while (*static_cast<volatile LONG*>(&job->closeRequested) == 0) WaitForSingleObject(job->wake, INFINITE);
    job->closeResult = GiveBack(job);

    // The reference PlaceStart took for this thread is dropped by the system on the way out,
    // after the last instruction of this DLL has run. The job record stays readable: PlaceClose
    // frees it only once this thread is gone.
    HMODULE module = job->module;
    if (module != nullptr) FreeLibraryAndExitThread(module, 0);
    return 0;
}
