// Running a plan: the journal first, then the steps through the handles opened while planning;
// on a failure or a cancel before the commit point every step done is undone in reverse, and
// after it the backups are deleted.
#include "delivery/handles.h"
#include "delivery/wstr.h"
#include "placement/file_ops.h"
#include "placement/names.h"
#include "placement/placement.h"
#include "placement/tree.h"

namespace {

bool DiskFull(DWORD error) { return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL; }

int PathOf(Placement* p, const Step& s, DWORD which, wchar_t* out)
{
    bool absolute = which == s.away && (s.flags & StepAwayAbsolute) != 0;
    return StepPath(&p->plan, p->job->installDir, which, absolute, out);
}

int WriteJournal(Placement* p, HANDLE* journal)
{
    PlaceJob* job = p->job;
    wchar_t path[PathCapacity];
    JoinPath(path, job->stageDir, JournalName);
    HeapArray<BYTE> bytes = {};
    ScopeExit freeBytes([&] { bytes.Free(); });
    if (!SerializePlan(&p->plan, &bytes)) return ReportFailure(job, L"内存不足，无法安装。", nullptr, 0);
    // A journal of an earlier try of this job was rolled back completely: replaced.
    UniqueFile file(CreateFileW(path, GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_HIDDEN, nullptr));
    if (!file) return ReportFailure(job, L"无法写入安装文件夹：", path, GetLastError());
    if (!WriteWhole(file.Get(), bytes.data, bytes.count)) {
        DWORD error = GetLastError();
        DeleteByHandle(file.Get(), 0);
        if (DiskFull(error)) return ReportFailure(job, L"磁盘空间不足，无法写入：", path, 0);
        return ReportFailure(job, L"无法写入安装文件夹：", path, error);
    }
    *journal = file.Release();
    return 1;
}

// The text shown while a step runs: the name it places or removes.
const wchar_t* StepText(Placement* p, const Step& s)
{
    return p->plan.paths.At(s.path);
}

// Copies the bytes of from over the file in place and gives it the attributes and time.
int Rewrite(HANDLE from, HANDLE to, DWORD attributes, LONGLONG written)
{
    if (!CopyBytes(from, to, nullptr)) return 0;
    return SetAttributesAndTime(to, attributes, written);
}

// One step forward. 0 with the last error set.
int DoStep(Placement* p, Step& s)
{
    wchar_t path[PathCapacity];
    switch (s.kind) {
    case StepAside:
        return PathOf(p, s, s.away, path) && MoveByHandle(s.handle, path);
    case StepMakeDir: {
        if (!PathOf(p, s, s.path, path)) return 0;
        if (CreateDirectoryW(path, nullptr)) return 1;
        // Made since the folder was listed (not by us): it is not ours to remove again.
        if (GetLastError() == ERROR_ALREADY_EXISTS && (GetFileAttributesW(path) & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
            GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES) {
            s.done = -1;
            return 1;
        }
        return 0;
    }
    case StepMoveIn:
        return PathOf(p, s, s.path, path) && MoveByHandle(s.handle, path);
    case StepOverwrite:
        // Undone from the backup copy even when cut short half-way.
        s.done = 1;
        return Rewrite(s.awayHandle, s.handle, s.key.attributes, s.awayKey.written);
    }
    SetLastError(ERROR_INVALID_FUNCTION);
    return 0;
}

// One step back. 0 with the last error set.
int UndoStep(Placement* p, Step& s)
{
    wchar_t path[PathCapacity];
    switch (s.kind) {
    case StepAside:
        return PathOf(p, s, s.path, path) && MoveByHandle(s.handle, path);
    case StepMakeDir:
        if (s.done < 0) return 1;
        if (!PathOf(p, s, s.path, path)) return 0;
        // Something the step did not put there keeps the folder; nothing of ours is in it.
        RemoveEmptyFolder(path);
        return 1;
    case StepMoveIn:
        return PathOf(p, s, s.away, path) && MoveByHandle(s.handle, path);
    case StepOverwrite:
        return Rewrite(s.spareHandle, s.handle, s.key.attributes, s.key.written);
    }
    return 1;
}

// Undoes every step done, last first. A step that cannot be undone at once is tried again for a
// few seconds. 0 when one could not be undone: the journal then stays for the next run.
int Rollback(Placement* p, DWORD* failedStep, DWORD* failedError)
{
    int result = 1;
    for (DWORD i = p->plan.steps.count; i-- > 0;) {
        Step& s = p->plan.steps[i];
        if (s.done == 0) continue;
        DWORD start = GetTickCount();
        for (;;) {
            if (UndoStep(p, s)) {
                s.done = 0;
                break;
            }
            DWORD error = GetLastError();
            if (GetTickCount() - start >= InUseRetryMs) {
                if (result) {
                    *failedStep = i;
                    *failedError = error;
                }
                result = 0;
                break;
            }
            Sleep(InUsePauseMs);
        }
    }
    return result;
}

// After a failed try nothing of it may stay in staging that a retry would make again: the
// backup copies, the staged record and the journal.
void ClearTry(Placement* p, HANDLE journal)
{
    for (DWORD i = 0; i < p->plan.steps.count; ++i) {
        Step& s = p->plan.steps[i];
        if (s.kind == StepOverwrite && s.spareHandle != nullptr) DeleteByHandle(s.spareHandle, 0);
        if (s.kind == StepMoveIn && (s.flags & StepCommit) != 0 && s.handle != nullptr) DeleteByHandle(s.handle, 0);
    }
    if (journal != nullptr) DeleteByHandle(journal, FILE_ATTRIBUTE_HIDDEN);
}

// After the commit point: the backups go (a program still running from one keeps it until the
// staging folder is removed at the close, or the next run), then the folders that became empty.
void Finish(Placement* p, HANDLE journal)
{
    PlaceJob* job = p->job;
    for (DWORD i = 0; i < p->plan.steps.count; ++i) {
        Step& s = p->plan.steps[i];
        if (s.kind == StepAside && (s.flags & StepKeepAway) == 0) {
            PlacingProgress(p, StepText(p, s));
            DeleteByHandle(s.handle, s.key.attributes);
        } else if (s.kind == StepOverwrite && (s.flags & StepKeepAway) == 0) {
            PlacingProgress(p, StepText(p, s));
            DeleteByHandle(s.spareHandle, s.spareKey.attributes);
        }
    }
    PlacingProgress(p, job->removal ? L"正在删除文件…" : L"正在完成安装…");
    RemoveEmptiedFolders(&p->plan, job->installDir);
    if (journal != nullptr) DeleteByHandle(journal, FILE_ATTRIBUTE_HIDDEN);
}

bool IsCommit(const Step& s) { return (s.flags & StepCommit) != 0; }

}  // namespace

int RunPlacement(Placement* p)
{
    PlaceJob* job = p->job;
    HANDLE journal = nullptr;
    if (!WriteJournal(p, &journal)) {
        // Nothing in the folder changed yet.
        ClearTry(p, nullptr);
        return 0;
    }
    UniqueHandle journalOwner(journal);
    // What is left: every step, then every backup deleted after the commit.
    ULONGLONG left = p->plan.steps.count + 1;
    for (DWORD i = 0; i < p->plan.steps.count; ++i) {
        const Step& s = p->plan.steps[i];
        if ((s.kind == StepAside || s.kind == StepOverwrite) && (s.flags & StepKeepAway) == 0) ++left;
    }
    if (p->total < p->done + left) p->total = p->done + left;

    DWORD failed = MAXDWORD;
    DWORD error = 0;
    bool cancelled = false;
    for (DWORD i = 0; i < p->plan.steps.count; ++i) {
        Step& s = p->plan.steps[i];
        if (!job->committed && IsCancelled(job)) {
            cancelled = true;
            break;
        }
        // Each step counts; the text names what it places (or, uninstalling, removes).
        bool named = s.kind == StepMoveIn || s.kind == StepOverwrite || (job->removal && s.kind == StepAside);
        PlacingProgress(p, named ? StepText(p, s) : job->statusText);
        if (!DoStep(p, s)) {
            failed = i;
            error = GetLastError();
            break;
        }
        if (s.done == 0) s.done = 1;
        if (IsCommit(s)) InterlockedExchange(&job->committed, 1);
    }

    if (failed == MAXDWORD && !cancelled) {
        Finish(p, journalOwner.Get());
        return 1;
    }

    // Before the commit point (after it nothing can fail: the commit is the last step). The
    // failure is told once the folder is as it was: a host that sees it may look at once.
    wchar_t line[StatusCapacity] = L"";
    if (failed != MAXDWORD) {
        const Step& s = p->plan.steps[failed];
        wchar_t path[PathCapacity];
        PathOf(p, s, s.path, path);
        if (DiskFull(error)) {
            FormatFailure(line, L"磁盘空间不足，无法写入：", path, 0);
        } else if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) {
            FormatFailure(line, L"安装位置已有同名文件：", path, 0);
        } else {
            FormatFailure(line, L"无法替换文件：", path, error);
        }
    }
    DWORD undoStep = 0;
    DWORD undoError = 0;
    if (!Rollback(p, &undoStep, &undoError)) {
        // The journal stays: the next run of an installer or uninstaller finishes the undo.
        job->retryable = 0;
        const Step& s = p->plan.steps[undoStep];
        wchar_t path[PathCapacity];
        PathOf(p, s, s.path, path);
        ReportFailure(job, L"安装未完成，且无法恢复原有文件（下次运行安装程序时将继续恢复）：", path, undoError);
        return 0;
    }
    ClearTry(p, journalOwner.Get());
    if (cancelled) {
        job->retryable = 0;
        PublishStatus(job, PLACE_CANCELLED, 0, 0, L"已取消，安装文件夹保持原样。");
    } else {
        PublishStatus(job, PLACE_FAILED, 0, 0, line);
    }
    return 0;
}
