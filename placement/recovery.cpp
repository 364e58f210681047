// What a killed run left in the install folder: its journal says what it was doing. Before its
// commit point every step is undone, each checked by identity (the file on a path is opened once
// and acted on only when it is the file the journal names); after it, only the clean-up is left.
// Then every stale staging folder goes.
#include "placement/recovery.h"

#include "delivery/handles.h"
#include "placement/file_ops.h"
#include "placement/folder.h"
#include "placement/plan.h"
#include "placement/tree.h"

namespace {

struct Undo {
    PlaceJob* job;
    Plan* plan;
};

int PathOf(const Undo& u, const Step& s, DWORD which, wchar_t* out)
{
    bool absolute = which == s.away && (s.flags & StepAwayAbsolute) != 0;
    return StepPath(u.plan, u.job->installDir, which, absolute, out);
}

bool Missing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// Opens path as OpenForMove does, trying again for a few seconds while it is held. Null when
// nothing is there; INVALID_HANDLE_VALUE with the last error when it cannot be opened.
HANDLE OpenHeld(const wchar_t* path, bool rewrite)
{
    DWORD start = GetTickCount();
    for (;;) {
        HANDLE file = rewrite ? OpenForRewrite(path) : OpenForMove(path, ShareAll);
        if (file != INVALID_HANDLE_VALUE) return file;
        DWORD error = GetLastError();
        if (Missing(error)) return nullptr;
        if ((error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) || GetTickCount() - start >= 3000) {
            SetLastError(error);
            return INVALID_HANDLE_VALUE;
        }
        Sleep(200);
    }
}

enum class Found { Same, Other, Missing, Unknown };

// What is on path: the file with the key (then *out holds it open), another file, nothing, or
// something that cannot be opened (held without sharing: the last error says so).
Found Look(const VolumeIds* volume, const wchar_t* path, const FileKey& key, HANDLE* out)
{
    *out = nullptr;
    HANDLE file = OpenHeld(path, false);
    if (file == nullptr) return Found::Missing;
    if (file == INVALID_HANDLE_VALUE) return Found::Unknown;
    FileKey found = {};
    if (ReadFileKey(file, volume, &found) && SameFile(found, key)) {
        *out = file;
        return Found::Same;
    }
    CloseHandle(file);
    return Found::Other;
}

// One step back. 0 with *failedPath and the last error when it cannot be undone.
int UndoByIdentity(const Undo& u, const Step& s, wchar_t* failedPath)
{
    wchar_t path[PathCapacity];
    wchar_t away[PathCapacity];
    PathOf(u, s, s.path, path);
    if (s.away != MAXDWORD) PathOf(u, s, s.away, away);
    JoinPath(failedPath, path, L"");
    switch (s.kind) {
    case StepMoveIn: {
        HANDLE found = nullptr;
        Found what = Look(&u.job->volume, path, s.key, &found);
        if (what == Found::Unknown) return 0;
        if (what != Found::Same) return 1;  // never came in, or went back already
        UniqueFile file(found);
        if (MoveByHandle(file.Get(), away)) return 1;
        // Where it came from is taken: it is ours, and it goes.
        return DeleteByHandle(file.Get(), s.key.attributes);
    }
    case StepAside: {
        HANDLE found = nullptr;
        Found what = Look(&u.job->volume, away, s.key, &found);
        if (what == Found::Unknown) {
            JoinPath(failedPath, away, L"");
            return 0;
        }
        if (what != Found::Same) return 1;  // never went aside, or came back already
        UniqueFile file(found);
        return MoveByHandle(file.Get(), path);
    }
    case StepMakeDir:
        RemoveEmptyFolder(path);
        return 1;
    case StepOverwrite: {
        HANDLE found = OpenHeld(path, true);
        if (found == nullptr) return 1;
        if (found == INVALID_HANDLE_VALUE) return 0;
        UniqueFile target(found);
        FileKey key = {};
        if (!ReadFileKey(target.Get(), &u.job->volume, &key) || !SameFileObject(key, s.key)) return 1;
        wchar_t sparePath[PathCapacity];
        PathOf(u, s, s.spare, sparePath);
        HANDLE spareFound = nullptr;
        Found what = Look(&u.job->volume, sparePath, s.spareKey, &spareFound);
        if (what != Found::Same) {
            JoinPath(failedPath, sparePath, L"");
            if (what != Found::Unknown) SetLastError(ERROR_FILE_NOT_FOUND);
            return 0;
        }
        UniqueFile spare(spareFound);
        return CopyBytes(spare.Get(), target.Get(), nullptr) &&
               SetAttributesAndTime(target.Get(), s.key.attributes, s.key.written);
    }
    }
    return 1;
}

// Whether the killed run passed its commit point: the new record is in place (install), or the
// old one is no longer there (uninstall). Unknown when the record cannot be looked at (held
// without sharing): then nothing is guessed.
Found Committed(const Undo& u, wchar_t* recordPath)
{
    for (DWORD i = 0; i < u.plan->steps.count; ++i) {
        const Step& s = u.plan->steps[i];
        if ((s.flags & StepCommit) == 0) continue;
        PathOf(u, s, s.path, recordPath);
        HANDLE found = nullptr;
        Found what = Look(&u.job->volume, recordPath, s.key, &found);
        if (found != nullptr) CloseHandle(found);
        if (what == Found::Unknown) return Found::Unknown;
        bool there = what == Found::Same;
        bool committed = s.kind == StepMoveIn ? there : !there;
        return committed ? Found::Same : Found::Other;
    }
    return Found::Other;
}

int RecoverJournal(PlaceJob* job, const wchar_t* journalPath)
{
    UniqueFile journal(OpenForMove(journalPath, ShareAll));
    if (!journal) return 1;
    BYTE* bytes = nullptr;
    DWORD count = 0;
    if (!ReadWhole(journal.Get(), 256 << 20, &bytes, &count)) {
        return ReportFailure(job, L"上次的安装未完成，无法读取其记录：", journalPath, GetLastError());
    }
    Plan plan = {};
    int parsed = ParsePlan(bytes, count, &plan);
    HeapFree(GetProcessHeap(), 0, bytes);
    // A journal cut short by a kill was being written: no step of it ran.
    if (!parsed) {
        FreePlan(&plan);
        return 1;
    }
    PublishStatus(job, PLACE_PREPARING, 0, 0, L"正在恢复上次未完成的安装…");
    Undo u = {job, &plan};
    wchar_t recordPath[PathCapacity] = L"";
    Found committed = Committed(u, recordPath);
    if (committed == Found::Unknown) {
        DWORD error = GetLastError();
        FreePlan(&plan);
        return ReportFailure(job, L"上次的安装未完成，无法读取安装记录：", recordPath, error);
    }
    if (committed == Found::Same) {
        RemoveEmptiedFolders(&plan, job->installDir);
    } else {
        for (DWORD i = plan.steps.count; i-- > 0;) {
            wchar_t failedPath[PathCapacity];
            if (!UndoByIdentity(u, plan.steps[i], failedPath)) {
                DWORD error = GetLastError();
                FreePlan(&plan);
                return ReportFailure(job, L"上次的安装未完成，无法恢复原有文件：", failedPath,
                                     error == ERROR_SUCCESS ? ERROR_ALREADY_EXISTS : error);
            }
        }
    }
    FreePlan(&plan);
    DeleteByHandle(journal.Get(), FILE_ATTRIBUTE_HIDDEN);
    return 1;
}

}  // namespace

int RecoverFolder(PlaceJob* job)
{
    wchar_t root[PathCapacity];
    JoinPath(root, job->installDir, StageName);
    DWORD attributes = GetFileAttributesW(root);
    if (attributes == INVALID_FILE_ATTRIBUTES) return 1;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        // A link under the engine's name would take staging (and its deletions) elsewhere: it
        // goes, as itself; what it points at is not touched.
        RemoveTree(root);
        if (GetFileAttributesW(root) == INVALID_FILE_ATTRIBUTES) return 1;
        return ReportFailure(job, L"无法写入安装文件夹：", root, ERROR_ALREADY_EXISTS);
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        // Someone's file under the engine's name is not deleted.
        return ReportFailure(job, L"无法写入安装文件夹：", root, ERROR_ALREADY_EXISTS);
    }
    wchar_t pattern[PathCapacity];
    JoinPath(pattern, root, L"*");
    // Journals first (at most one: a run that finds one finishes it before it does anything),
    // then the stale folders.
    for (int pass = 0; pass < 2; ++pass) {
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileExW(pattern, FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
        if (search == INVALID_HANDLE_VALUE) return 1;
        int result = 1;
        bool announced = false;
        do {
            const wchar_t* leaf = found.cFileName;
            if ((leaf[0] == L'.' && leaf[1] == 0) || (leaf[0] == L'.' && leaf[1] == L'.' && leaf[2] == 0)) continue;
            wchar_t path[PathCapacity];
            if (!JoinPath(path, root, leaf)) continue;
            bool folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                          (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
            if (pass == 0) {
                wchar_t journal[PathCapacity];
                if (folder && JoinPath(journal, path, JournalName) && GetFileAttributesW(journal) != INVALID_FILE_ATTRIBUTES &&
                    !RecoverJournal(job, journal)) {
                    result = 0;
                    break;
                }
            } else {
                if (!announced) {
                    PublishStatus(job, PLACE_PREPARING, 0, 0, L"正在清理上次安装留下的临时文件…");
                    announced = true;
                }
                // What cannot go yet (a program runs from a backup) stays; its name is its
                // run's own, so no later run trips over it.
                RemoveTree(path);
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
        if (!result) return 0;
    }
    return 1;
}
