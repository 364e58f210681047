// Planning: what each name of the new release (and of the old record) means for the folder, as
// steps. Nothing in the folder changes here; every file a step will move is opened now and
// stays open until the run ends, so that the file moved is the file looked at.
#include "delivery/handles.h"
#include "delivery/wstr.h"
#include "placement/file_digest.h"
#include "placement/file_ops.h"
#include "placement/folder.h"
#include "placement/names.h"
#include "placement/placement.h"

namespace {

constexpr wchar_t BackupFolder[] = L"b";
constexpr wchar_t StagedRecord[] = L"record-";

// A path in this job's staging, relative to the install folder.
int StagePath(Placement* p, const wchar_t* inside, wchar_t* out /* PathCapacity */)
{
    return JoinPath(out, p->job->stageName, inside);
}

bool IsFolder(const ListedItem* item)
{
    return item != nullptr && (item->attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsLink(const ListedItem* item)
{
    return item != nullptr && (item->attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Lists every folder on the way to a name (the install folder itself included).
int ListWayTo(Placement* p, const wchar_t* folded, DWORD length)
{
    if (!ListFolder(&p->listing, p->job->installDir, L"", 0)) return 0;
    for (DWORD i = 0; i < length; ++i) {
        if (folded[i] == L'\\' && !ListFolder(&p->listing, p->job->installDir, folded, i)) return 0;
    }
    return 1;
}

bool RecordBefore(void* context, DWORD a, DWORD b)
{
    auto* record = static_cast<InstallRecord*>(context);
    return CompareFolded(record->folded.At(record->entries[a].folded), record->folded.At(record->entries[b].folded)) < 0;
}

bool EntryBefore(void* context, DWORD a, DWORD b)
{
    auto* job = static_cast<PlaceJob*>(context);
    return CompareFolded(job->folded.At(job->entries[a].folded), job->folded.At(job->entries[b].folded)) < 0;
}

// Index of the record entry with the folded name, or MAXDWORD. order: record sorted by name.
DWORD FindInRecord(const InstallRecord& record, const HeapArray<DWORD>& order, const wchar_t* folded)
{
    DWORD low = 0;
    DWORD high = order.count;
    while (low < high) {
        DWORD mid = low + (high - low) / 2;
        int c = CompareFolded(record.folded.At(record.entries[order[mid]].folded), folded);
        if (c == 0) return order[mid];
        if (c < 0) low = mid + 1;
        else high = mid;
    }
    return MAXDWORD;
}

// Index of the new entry with the folded name, or MAXDWORD.
DWORD FindInRelease(Placement* p, const wchar_t* folded)
{
    PlaceJob* job = p->job;
    DWORD low = 0;
    DWORD high = p->newOrder.count;
    while (low < high) {
        DWORD mid = low + (high - low) / 2;
        int c = CompareFolded(job->folded.At(job->entries[p->newOrder[mid]].folded), folded);
        if (c == 0) return p->newOrder[mid];
        if (c < 0) low = mid + 1;
        else high = mid;
    }
    return MAXDWORD;
}

DWORD AddPath(Placement* p, const wchar_t* text) { return PlanPath(&p->plan, text, TextLength(text)); }

// A new backup's name in staging (relative to the install folder).
DWORD NewBackupPath(Placement* p)
{
    wchar_t path[PathCapacity];
    StagePath(p, BackupFolder, path);
    WStrAppend(path, PathCapacity, L"\\");
    AppendDecimal(path, PathCapacity, p->job->backups++, 1);
    return AddPath(p, path);
}

struct StepLists {
    HeapArray<Step> aside;
    HeapArray<Step> folders;
    HeapArray<Step> in;
    HeapArray<Step> userCopies;
    HeapArray<Step> record;
    void Free()
    {
        aside.Free();
        folders.Free();
        in.Free();
        userCopies.Free();
        record.Free();
    }
};

Step* NewStep(HeapArray<Step>* list, BYTE kind, BYTE flags, DWORD path, DWORD away)
{
    Step* s = list->Append();
    if (s == nullptr) return nullptr;
    s->kind = kind;
    s->flags = flags;
    s->path = path;
    s->away = away;
    s->spare = MAXDWORD;
    return s;
}

// Moves the lists into the plan in the order they run. Handles move with the steps.
int JoinSteps(Placement* p, StepLists* lists)
{
    HeapArray<Step>* order[] = {&lists->aside, &lists->folders, &lists->in, &lists->userCopies, &lists->record};
    for (HeapArray<Step>* list : order) {
        for (DWORD i = 0; i < list->count; ++i) {
            if (!p->plan.steps.Push((*list)[i])) return 0;
            (*list)[i].handle = (*list)[i].awayHandle = (*list)[i].spareHandle = nullptr;
        }
    }
    return 1;
}

// A plan given up: the files it made in staging (backup copies, the staged record) go, and every
// handle is closed.
void CloseListHandles(StepLists* lists)
{
    HeapArray<Step>* order[] = {&lists->aside, &lists->folders, &lists->in, &lists->userCopies, &lists->record};
    for (HeapArray<Step>* list : order) {
        for (DWORD i = 0; i < list->count; ++i) {
            Step& s = (*list)[i];
            if (s.kind == StepOverwrite && s.spareHandle != nullptr && list == &lists->in) DeleteByHandle(s.spareHandle, 0);
            if ((s.flags & StepCommit) != 0 && s.kind == StepMoveIn && s.handle != nullptr) DeleteByHandle(s.handle, 0);
            if (s.handle != nullptr && s.handle != INVALID_HANDLE_VALUE) CloseHandle(s.handle);
            if (s.awayHandle != nullptr && s.awayHandle != INVALID_HANDLE_VALUE) CloseHandle(s.awayHandle);
            if (s.spareHandle != nullptr && s.spareHandle != INVALID_HANDLE_VALUE) CloseHandle(s.spareHandle);
        }
    }
}

// The user's copy of path goes beside it: "<name>.user", or ".user2", ".user3", ... when that
// name is taken in the folder, by the release or by another copy of this plan.
DWORD UserCopyPath(Placement* p, const StepLists& lists, const wchar_t* name, DWORD nameLength)
{
    for (DWORD n = 1; n < 1000; ++n) {
        wchar_t candidate[NameCapacity + 16];
        if (nameLength + 12 > NameCapacity + 16) return MAXDWORD;
        for (DWORD i = 0; i < nameLength; ++i) candidate[i] = name[i];
        candidate[nameLength] = 0;
        WStrAppend(candidate, NameCapacity + 16, L".user");
        if (n > 1) AppendDecimal(candidate, NameCapacity + 16, n, 1);
        DWORD length = TextLength(candidate);
        wchar_t folded[NameCapacity + 16];
        if (!FoldName(candidate, length, folded)) return MAXDWORD;
        if (FindListed(&p->listing, folded, length) != nullptr) continue;
        if (FindInRelease(p, folded) != MAXDWORD) continue;
        bool taken = false;
        const HeapArray<Step>* chosen[] = {&lists.aside, &lists.userCopies};
        for (const HeapArray<Step>* list : chosen) {
            for (DWORD i = 0; i < list->count && !taken; ++i) {
                const Step& s = (*list)[i];
                DWORD at = list == &lists.aside ? s.away : s.path;
                if ((s.flags & StepKeepAway) == 0 && list == &lists.aside) continue;
                wchar_t other[NameCapacity + 16];
                const wchar_t* text = p->plan.paths.At(at);
                DWORD otherLength = TextLength(text);
                if (otherLength < NameCapacity + 16 && FoldName(text, otherLength, other) &&
                    CompareFolded(other, folded) == 0) {
                    taken = true;
                }
            }
        }
        if (taken) continue;
        return PlanPath(&p->plan, candidate, length);
    }
    return MAXDWORD;
}

// Whether the file at path (listed as item) still holds what the record says was installed:
// size and time as recorded, or else the recorded bytes. handle: open with FILE_READ_DATA, or
// null to open it for reading here.
bool Unchanged(const ListedItem* item, const RecordEntry& recorded, HANDLE handle, const wchar_t* path)
{
    if (item == nullptr || IsFolder(item) || IsLink(item)) return false;
    if (item->size != recorded.size) return false;
    if (item->written == recorded.written) return true;
    if (handle != nullptr) return MatchesDigest(handle, recorded.size, recorded.sha256) != 0;
    UniqueFile reader(CreateFileW(path, GENERIC_READ, ShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT |
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    return reader && MatchesDigest(reader.Get(), recorded.size, recorded.sha256) != 0;
}

// Whether the file at path holds exactly the release entry's bytes.
bool SameAsRelease(const ListedItem* item, const ReleaseEntry& entry, const wchar_t* path)
{
    if (item == nullptr || IsFolder(item) || IsLink(item) || item->size != entry.size) return false;
    UniqueFile reader(CreateFileW(path, GENERIC_READ, ShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT |
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    return reader && MatchesDigest(reader.Get(), entry.size, entry.sha256) != 0;
}

// Reads the previous install's record, when the folder has one.
int ReadOldRecord(Placement* p)
{
    PlaceJob* job = p->job;
    wchar_t folded[32];
    FoldName(RecordFileName, TextLength(RecordFileName), folded);
    const ListedItem* item = FindListed(&p->listing, folded, TextLength(folded));
    wchar_t path[PathCapacity];
    JoinPath(path, job->installDir, RecordFileName);
    if (item == nullptr) return 1;
    if (IsFolder(item) || IsLink(item)) return ReportFailure(job, L"安装记录无效：", path, 0);
    HANDLE handle = nullptr;
    OpenResult opened = OpenTarget(p, path, false, &handle);
    if (opened == OpenResult::Gone) return 1;
    if (opened != OpenResult::Opened) return 0;
    p->recordHandle = handle;
    BYTE* bytes = nullptr;
    DWORD count = 0;
    if (!ReadFileKey(handle, &job->volume, &p->recordKey) || !ReadWhole(handle, RecordLimit, &bytes, &count)) {
        return ReportFailure(job, L"安装记录无法读取：", path, GetLastError());
    }
    int parsed = ParseRecord(bytes, count, &p->record);
    HeapFree(GetProcessHeap(), 0, bytes);
    if (!parsed) return ReportFailure(job, L"安装记录无效：", path, 0);
    p->hasRecord = 1;
    return 1;
}

// Opens the file of a step that moves it aside. 0 published, or -1 when it is gone.
int OpenAside(Placement* p, Step* s, const wchar_t* path)
{
    HANDLE handle = nullptr;
    OpenResult opened = OpenTarget(p, path, false, &handle);
    if (opened == OpenResult::Gone) return -1;
    if (opened != OpenResult::Opened) return 0;
    s->handle = handle;
    if (!ReadFileKey(handle, &p->job->volume, &s->key)) return ReportFailure(p->job, L"无法读取文件：", path, GetLastError());
    return 1;
}

// Whether the plan path at offset names the folded text (a name's first length units).
bool PathIs(Placement* p, DWORD at, const wchar_t* folded, DWORD length)
{
    const wchar_t* text = p->plan.paths.At(at);
    if (TextLength(text) != length) return false;
    wchar_t mine[NameCapacity];
    wchar_t theirs[NameCapacity];
    if (length >= NameCapacity || !FoldName(text, length, mine)) return false;
    for (DWORD i = 0; i < length; ++i) theirs[i] = folded[i];
    theirs[length] = 0;
    return CompareFolded(mine, theirs) == 0;
}

// Plans the folders a new file needs. A file of the old release where a folder must go is
// moved aside first (planned already, since the new release no longer has it).
int PlanFolders(Placement* p, StepLists* lists, const ReleaseEntry& entry)
{
    PlaceJob* job = p->job;
    const wchar_t* name = job->names.At(entry.name);
    const wchar_t* folded = job->folded.At(entry.folded);
    for (DWORD i = 0; i < entry.nameLength; ++i) {
        if (folded[i] != L'\\') continue;
        const ListedItem* item = FindListed(&p->listing, folded, i);
        wchar_t path[PathCapacity];
        JoinPath(path, job->installDir, name, i);
        if (IsLink(item)) return ReportFailure(job, L"安装位置的文件夹是一个链接：", path, 0);
        if (IsFolder(item)) continue;
        if (item != nullptr) {
            bool movedAside = false;
            for (DWORD k = 0; k < lists->aside.count && !movedAside; ++k) {
                movedAside = PathIs(p, lists->aside[k].path, folded, i);
            }
            if (!movedAside) return ReportFailure(job, L"安装位置已有同名文件，无法创建文件夹：", path, 0);
        }
        // Made once, however many files go there.
        bool planned = false;
        for (DWORD k = lists->folders.count; k-- > 0 && !planned;) planned = PathIs(p, lists->folders[k].path, folded, i);
        if (planned) continue;
        DWORD at = PlanPath(&p->plan, name, i);
        if (at == MAXDWORD || NewStep(&lists->folders, StepMakeDir, 0, at, MAXDWORD) == nullptr) {
            return ReportFailure(job, L"内存不足，无法安装。", nullptr, 0);
        }
    }
    return 1;
}

// The new file comes in through its staged handle.
int PlanMoveIn(Placement* p, StepLists* lists, DWORD e, DWORD pathAt)
{
    PlaceJob* job = p->job;
    const ReleaseEntry& entry = job->entries[e];
    const ReleasePart& part = job->parts[entry.part];
    wchar_t source[PathCapacity];
    EntrySourcePath(job, entry, source);
    // Sources inside the folder are kept relative: the journal then works whatever name the
    // folder is reached by next time.
    DWORD awayAt;
    BYTE flags = 0;
    if (part.hostFiles && !part.copied) {
        awayAt = AddPath(p, source);
        flags = StepAwayAbsolute;
    } else {
        awayAt = AddPath(p, source + TextLength(job->installDir) + 1);
    }
    Step* s = NewStep(&lists->in, StepMoveIn, flags, pathAt, awayAt);
    if (awayAt == MAXDWORD || s == nullptr) return ReportFailure(job, L"内存不足，无法安装。", nullptr, 0);
    s->key = p->sources[e].key;
    s->handle = p->sources[e].handle;
    p->sources[e].handle = nullptr;
    p->recordTimes[e] = s->key.written;
    return 1;
}

// A held target gets the new bytes in place; its old bytes are copied to staging first. With
// keepUser the copy then goes beside it as the user's copy.
int PlanRewrite(Placement* p, StepLists* lists, DWORD e, DWORD pathAt, HANDLE target, const wchar_t* path,
                bool keepUser, const wchar_t* name, DWORD nameLength)
{
    PlaceJob* job = p->job;
    UniqueFile held(target);
    Step* s = NewStep(&lists->in, StepOverwrite, 0, pathAt, MAXDWORD);
    if (s == nullptr) return ReportFailure(job, L"内存不足，无法安装。", nullptr, 0);
    if (!ReadFileKey(held.Get(), &job->volume, &s->key)) return ReportFailure(job, L"无法读取文件：", path, GetLastError());
    wchar_t source[PathCapacity];
    EntrySourcePath(job, job->entries[e], source);
    const ReleasePart& part = job->parts[job->entries[e].part];
    if (part.hostFiles && !part.copied) {
        s->away = AddPath(p, source);
        s->flags |= StepAwayAbsolute;
    } else {
        s->away = AddPath(p, source + TextLength(job->installDir) + 1);
    }
    s->awayKey = p->sources[e].key;
    s->awayHandle = p->sources[e].handle;
    p->sources[e].handle = nullptr;
    s->spare = NewBackupPath(p);
    if (s->away == MAXDWORD || s->spare == MAXDWORD) return ReportFailure(job, L"内存不足，无法安装。", nullptr, 0);
    wchar_t sparePath[PathCapacity];
    StepPath(&p->plan, job->installDir, s->spare, false, sparePath);
    UniqueFile spare(CreateNewFile(sparePath, 0));
    if (!spare) return ReportFailure(job, L"无法写入安装文件夹：", sparePath, GetLastError());
    s->spareHandle = spare.Get();
    spare.Release();
    if (!CopyBytes(held.Get(), s->spareHandle, nullptr)) {
        DWORD error = GetLastError();
        if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL) {
            return ReportFailure(job, L"磁盘空间不足，无法写入：", sparePath, 0);
        }
        return ReportFailure(job, L"无法备份文件：", path, error);
    }
    if (!ReadFileKey(s->spareHandle, &job->volume, &s->spareKey)) return ReportFailure(job, L"无法备份文件：", path, GetLastError());
    s->handle = held.Release();
    p->recordTimes[e] = s->awayKey.written;
    if (keepUser) {
        DWORD userAt = UserCopyPath(p, *lists, name, nameLength);
        if (userAt == MAXDWORD) return ReportFailure(job, L"无法为用户修改过的文件找到备用名称：", path, 0);
        // The new lists entry may have moved the array: find the step again.
        Step& rewrite = lists->in[lists->in.count - 1];
        rewrite.flags |= StepKeepAway;  // its backup copy becomes the user's copy
        Step* copy = NewStep(&lists->userCopies, StepMoveIn, StepKeepAway, userAt, rewrite.spare);
        if (copy == nullptr) return ReportFailure(job, L"内存不足，无法安装。", nullptr, 0);
        copy->key = rewrite.spareKey;
        // The same file as the rewrite's spare, which the rewrite reads back from on undo.
        if (!DuplicateHandle(GetCurrentProcess(), rewrite.spareHandle, GetCurrentProcess(), &copy->handle, 0, FALSE,
                             DUPLICATE_SAME_ACCESS)) {
            copy->handle = nullptr;
            return ReportFailure(job, L"无法备份文件：", path, GetLastError());
        }
    }
    return 1;
}

int PlanEntry(Placement* p, StepLists* lists, DWORD e, const HeapArray<DWORD>& recordOrder)
{
    PlaceJob* job = p->job;
    const ReleaseEntry& entry = job->entries[e];
    const wchar_t* name = job->names.At(entry.name);
    const wchar_t* folded = job->folded.At(entry.folded);
    wchar_t path[PathCapacity];
    if (!JoinPath(path, job->installDir, name)) return ReportFailure(job, L"安装路径过长：", job->installDir, 0);
    const ListedItem* item = FindListed(&p->listing, folded, entry.nameLength);
    DWORD r = p->hasRecord ? FindInRecord(p->record, recordOrder, folded) : MAXDWORD;

    if (IsFolder(item) && !IsLink(item)) return ReportFailure(job, L"安装位置已有同名文件夹：", path, 0);
    if (!PlanFolders(p, lists, entry)) return 0;
    DWORD pathAt = PlanPath(&p->plan, name, entry.nameLength);
    if (pathAt == MAXDWORD) return ReportFailure(job, L"内存不足，无法安装。", nullptr, 0);
    if (item == nullptr) return PlanMoveIn(p, lists, e, pathAt);

    // Something is there. What stays needs no handle that could wait for a program holding it.
    if (r != MAXDWORD) {
        const RecordEntry& recorded = p->record.entries[r];
        bool sameBytes = recorded.size == entry.size;
        for (int k = 0; k < 32 && sameBytes; ++k) sameBytes = recorded.sha256[k] == entry.sha256[k];
        if (sameBytes) {
            // The release brings what is there (unchanged: nothing to do) or what the user
            // changed (the user's file stays). Either way the record keeps the recorded time, so a
            // changed file still reads as changed next time.
            p->recordTimes[e] = recorded.written;
            return 1;
        }
    } else if (!IsLink(item) && SameAsRelease(item, entry, path)) {
        // Not installed by us, but already the new bytes: taken as installed.
        p->recordTimes[e] = item->written;
        return 1;
    }

    // It goes: open it once, to look at it and to move it.
    HANDLE target = nullptr;
    OpenResult opened = OpenTarget(p, path, true, &target);
    if (opened == OpenResult::Gone) return PlanMoveIn(p, lists, e, pathAt);
    if (opened == OpenResult::Failed || opened == OpenResult::Cancelled) return 0;
    UniqueFile held(target);
    bool rewrite = opened == OpenResult::Rewrite;
    // A file installed by us and unchanged is replaced; anything else is the user's, kept beside.
    bool userChanged = r == MAXDWORD || !Unchanged(item, p->record.entries[r], held.Get(), path);

    if (rewrite) return PlanRewrite(p, lists, e, pathAt, held.Release(), path, userChanged, name, entry.nameLength);

    // Moved aside: into staging's backups, or beside itself as the user's copy.
    DWORD awayAt = userChanged ? UserCopyPath(p, *lists, name, entry.nameLength) : NewBackupPath(p);
    if (awayAt == MAXDWORD) return ReportFailure(job, L"无法为用户修改过的文件找到备用名称：", path, 0);
    Step* aside = NewStep(&lists->aside, StepAside, userChanged ? StepKeepAway : 0, pathAt, awayAt);
    if (aside == nullptr) return ReportFailure(job, L"内存不足，无法安装。", nullptr, 0);
    aside->handle = held.Release();
    if (!ReadFileKey(aside->handle, &job->volume, &aside->key)) return ReportFailure(job, L"无法读取文件：", path, GetLastError());
    return PlanMoveIn(p, lists, e, pathAt);
}

// Whether a folder on the way to the name is a link (or a mount point): what lies behind it is not
// in the install folder, and is not touched.
bool BehindALink(Placement* p, const wchar_t* folded, DWORD length)
{
    for (DWORD i = 0; i < length; ++i) {
        if (folded[i] == L'\\' && IsLink(FindListed(&p->listing, folded, i))) return true;
    }
    return false;
}

// Files of the old record that the new release (or an uninstall) no longer has: unchanged ones
// go aside; changed ones are the user's and stay.
int PlanRemovedFiles(Placement* p, StepLists* lists, bool all)
{
    PlaceJob* job = p->job;
    for (DWORD r = 0; r < p->record.entries.count; ++r) {
        const RecordEntry& recorded = p->record.entries[r];
        const wchar_t* folded = p->record.folded.At(recorded.folded);
        if (!all && FindInRelease(p, folded) != MAXDWORD) continue;
        const ListedItem* item = FindListed(&p->listing, folded, recorded.nameLength);
        if (item == nullptr || IsFolder(item) || IsLink(item) || BehindALink(p, folded, recorded.nameLength)) continue;
        const wchar_t* name = p->record.names.At(recorded.name);
        wchar_t path[PathCapacity];
        if (!JoinPath(path, job->installDir, name)) continue;
        if (all) PlacingProgress(p, name);
        if (!Unchanged(item, recorded, nullptr, path)) continue;
        DWORD pathAt = PlanPath(&p->plan, name, recorded.nameLength);
        DWORD awayAt = NewBackupPath(p);
        Step* s = NewStep(&lists->aside, StepAside, StepRemovedEntry, pathAt, awayAt);
        if (pathAt == MAXDWORD || awayAt == MAXDWORD || s == nullptr) {
            return ReportFailure(job, L"内存不足，无法安装。", nullptr, 0);
        }
        int opened = OpenAside(p, s, path);
        if (opened == 0) return 0;
        if (opened < 0) {
            // Gone since it was listed: nothing to remove.
            --lists->aside.count;
            continue;
        }
        // Looked at again through the handle now held, when the file changed since the listing.
        if ((s->key.size != item->size || s->key.written != item->written) &&
            !MatchesDigest(s->handle, recorded.size, recorded.sha256)) {
            CloseHandle(s->handle);
            --lists->aside.count;
        }
    }
    return 1;
}

// The record moves aside (and, for an install, the new one in: the commit point).
int PlanRecordSteps(Placement* p, StepLists* lists)
{
    PlaceJob* job = p->job;
    DWORD recordAt = AddPath(p, RecordFileName);
    if (recordAt == MAXDWORD) return ReportFailure(job, L"内存不足，无法安装。", nullptr, 0);
    if (p->hasRecord) {
        DWORD awayAt = NewBackupPath(p);
        Step* s = NewStep(&lists->record, StepAside, job->removal ? StepCommit : 0, recordAt, awayAt);
        if (awayAt == MAXDWORD || s == nullptr) return ReportFailure(job, L"内存不足，无法安装。", nullptr, 0);
        s->key = p->recordKey;
        s->handle = p->recordHandle;
        p->recordHandle = nullptr;
    }
    if (job->removal) return 1;

    // The new record, written and flushed in staging now; its identity goes into the journal.
    HeapArray<wchar_t> text = {};
    ScopeExit freeText([&] { text.Free(); });
    if (!RecordBegin(&text, job->version, job->entries.count)) return ReportFailure(job, L"内存不足，无法安装。", nullptr, 0);
    for (DWORD e = 0; e < job->entries.count; ++e) {
        const ReleaseEntry& entry = job->entries[e];
        if (!RecordAppend(&text, e, job->names.At(entry.name), entry.nameLength, entry.size, entry.sha256,
                          p->recordTimes[e])) {
            return ReportFailure(job, L"内存不足，无法安装。", nullptr, 0);
        }
    }
    wchar_t stagedName[PathCapacity];
    StagePath(p, StagedRecord, stagedName);
    AppendDecimal(stagedName, PathCapacity, job->tries, 1);  // each try writes its own
    DWORD stagedAt = AddPath(p, stagedName);
    Step* s = NewStep(&lists->record, StepMoveIn, StepCommit, recordAt, stagedAt);
    if (stagedAt == MAXDWORD || s == nullptr) return ReportFailure(job, L"内存不足，无法安装。", nullptr, 0);
    wchar_t path[PathCapacity];
    JoinPath(path, job->installDir, stagedName);
    UniqueFile staged(CreateNewFile(path, 0));
    if (!staged) return ReportFailure(job, L"无法写入安装文件夹：", path, GetLastError());
    if (!WriteWhole(staged.Get(), text.data, text.count * sizeof(wchar_t))) {
        DWORD error = GetLastError();
        if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL) {
            return ReportFailure(job, L"磁盘空间不足，无法写入：", path, 0);
        }
        return ReportFailure(job, L"无法写入安装文件夹：", path, error);
    }
    if (!ReadFileKey(staged.Get(), &job->volume, &s->key)) return ReportFailure(job, L"无法写入安装文件夹：", path, GetLastError());
    s->handle = staged.Release();
    return 1;
}

int MakeBackupFolder(Placement* p)
{
    wchar_t path[PathCapacity];
    JoinPath(path, p->job->stageDir, BackupFolder);
    if (CreateDirectoryW(path, nullptr) || GetLastError() == ERROR_ALREADY_EXISTS) return 1;
    return ReportFailure(p->job, L"无法写入安装文件夹：", path, GetLastError());
}

int ListFor(Placement* p, bool release)
{
    PlaceJob* job = p->job;
    if (!ListFolder(&p->listing, job->installDir, L"", 0)) {
        return ReportFailure(job, L"无法读取安装文件夹：", job->installDir, GetLastError());
    }
    if (release) {
        for (DWORD e = 0; e < job->entries.count; ++e) {
            const ReleaseEntry& entry = job->entries[e];
            if (!ListWayTo(p, job->folded.At(entry.folded), entry.nameLength)) {
                return ReportFailure(job, L"无法读取安装文件夹：", job->installDir, GetLastError());
            }
        }
    }
    return 1;
}

int ListRecordFolders(Placement* p)
{
    for (DWORD r = 0; r < p->record.entries.count; ++r) {
        const RecordEntry& recorded = p->record.entries[r];
        if (!ListWayTo(p, p->record.folded.At(recorded.folded), recorded.nameLength)) {
            return ReportFailure(p->job, L"无法读取安装文件夹：", p->job->installDir, GetLastError());
        }
    }
    return 1;
}

// A step that failed without saying why ran out of memory; a cancel is not a failure.
void OutOfMemoryUnlessReported(PlaceJob* job)
{
    if (job->phase != PLACE_FAILED && !IsCancelled(job)) ReportFailure(job, L"内存不足，无法完成。", nullptr, 0);
}

int SortRecord(Placement* p, HeapArray<DWORD>* order)
{
    DWORD n = p->record.entries.count;
    if (n == 0) return 1;
    if (order->Append(n) == nullptr) return ReportFailure(p->job, L"内存不足，无法安装。", nullptr, 0);
    for (DWORD i = 0; i < n; ++i) (*order)[i] = i;
    SortIndices(order->data, n, RecordBefore, &p->record);
    return 1;
}

}  // namespace

int PlanInstall(Placement* p)
{
    PlaceJob* job = p->job;
    DWORD n = job->entries.count;
    if (!p->recordTimes.Append(n) || !p->newOrder.Append(n)) return ReportFailure(job, L"内存不足，无法安装。", nullptr, 0);
    for (DWORD i = 0; i < n; ++i) p->newOrder[i] = i;
    SortIndices(p->newOrder.data, n, EntryBefore, job);

    // What the folder holds where the release puts something, and where the old record had it.
    if (!ListFor(p, true)) return 0;
    if (!FinishListing(&p->listing)) return ReportFailure(job, L"内存不足，无法安装。", nullptr, 0);
    if (!ReadOldRecord(p)) return 0;
    if (p->hasRecord) {
        if (!ListRecordFolders(p) || !FinishListing(&p->listing)) {
            OutOfMemoryUnlessReported(job);
            return 0;
        }
    }
    if (!MakeBackupFolder(p)) return 0;
    HeapArray<DWORD> recordOrder = {};
    StepLists lists = {};
    auto cleanup = [&] {
        recordOrder.Free();
        CloseListHandles(&lists);
        lists.Free();
    };
    if (!SortRecord(p, &recordOrder)) {
        cleanup();
        return 0;
    }
    if (p->hasRecord && !PlanRemovedFiles(p, &lists, false)) {
        cleanup();
        return 0;
    }
    for (DWORD e = 0; e < n; ++e) {
        PlacingProgress(p, job->names.At(job->entries[e].name));
        if (IsCancelled(job) || !PlanEntry(p, &lists, e, recordOrder)) {
            cleanup();
            return 0;
        }
    }
    if (!PlanRecordSteps(p, &lists) || !JoinSteps(p, &lists)) {
        OutOfMemoryUnlessReported(job);
        cleanup();
        return 0;
    }
    recordOrder.Free();
    lists.Free();
    return 1;
}

int PlanRemoval(Placement* p)
{
    PlaceJob* job = p->job;
    if (!ListFor(p, false)) return 0;
    if (!FinishListing(&p->listing)) return ReportFailure(job, L"内存不足，无法卸载。", nullptr, 0);
    if (!ReadOldRecord(p)) return 0;
    if (!p->hasRecord) {
        wchar_t path[PathCapacity];
        JoinPath(path, job->installDir, RecordFileName);
        return ReportFailure(job, L"找不到安装记录：", path, 0);
    }
    // Looked at, moved aside, deleted: three steps a file.
    p->total = p->record.entries.count * 3 + 2;
    if (!ListRecordFolders(p) || !FinishListing(&p->listing)) {
        OutOfMemoryUnlessReported(job);
        return 0;
    }
    if (!MakeBackupFolder(p)) return 0;
    StepLists lists = {};
    if (!PlanRemovedFiles(p, &lists, true) || !PlanRecordSteps(p, &lists) || !JoinSteps(p, &lists)) {
        OutOfMemoryUnlessReported(job);
        CloseListHandles(&lists);
        lists.Free();
        return 0;
    }
    lists.Free();
    return 1;
}
