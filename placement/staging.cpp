// The staged files: parts a host had ready on another volume are copied into staging first
// (so that placing is renames only), then every staged file is opened once and checked.
#include "delivery/handles.h"
#include "delivery/wstr.h"
#include "placement/file_ops.h"
#include "placement/placement.h"

namespace {

int VolumeOf(const wchar_t* path, ULONGLONG* volume)
{
    UniqueFile folder(CreateFileW(path, FILE_READ_ATTRIBUTES, ShareAll, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    FileKey key = {};
    if (!folder || !ReadFileKey(folder.Get(), nullptr, &key)) return 0;
    *volume = key.volume;
    return 1;
}

struct CopyState {
    PlaceJob* job;
    ULONGLONG done;
    ULONGLONG total;
    const wchar_t* name;
};

int CopyChunk(void* context, DWORD bytes)
{
    auto* state = static_cast<CopyState*>(context);
    state->done += bytes;
    PublishStatus(state->job, PLACE_STAGING, state->done, state->total, state->name);
    return IsCancelled(state->job) ? 0 : 1;
}

bool DiskFull(DWORD error) { return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL; }

// Copies a host's part into its staging directory and makes that the part's source.
int CopyPart(PlaceJob* job, DWORD part, CopyState* state)
{
    ReleasePart& p = job->parts[part];
    wchar_t target[PathCapacity];
    PartStagePath(job, part, target);
    if (!CreateDirectoryW(target, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        return ReportFailure(job, L"无法写入安装文件夹：", target, GetLastError());
    }
    for (DWORD e = p.first; e < p.first + p.count; ++e) {
        const ReleaseEntry& entry = job->entries[e];
        wchar_t from[PathCapacity];
        wchar_t to[PathCapacity];
        wchar_t leaf[12] = L"";
        AppendDecimal(leaf, 12, entry.index, 4);
        EntrySourcePath(job, entry, from);
        JoinPath(to, target, leaf);
        state->name = job->names.At(entry.name);
        UniqueFile source(CreateFileW(from, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        FileKey key = {};
        if (!source || !ReadFileFacts(source.Get(), &key) || IsDirectoryKey(key) || IsLinkKey(key) || key.size != entry.size) {
            return ReportFailure(job, L"安装文件缺失或大小不符：", from, 0);
        }
        // A copy left by an earlier try of this job is replaced.
        UniqueFile stale(OpenForMove(to, ShareAll));
        if (stale) {
            FileKey old = {};
            ReadFileKey(stale.Get(), &job->volume, &old);
            DeleteByHandle(stale.Get(), old.attributes);
            stale.Reset();
        }
        UniqueFile copy(CreateNewFile(to, 0));
        if (!copy) return ReportFailure(job, L"无法写入安装文件夹：", to, GetLastError());
        CopyProgress progress = {CopyChunk, state};
        if (!CopyBytes(source.Get(), copy.Get(), &progress)) {
            DWORD error = GetLastError();
            FileKey made = {};
            ReadFileKey(copy.Get(), &job->volume, &made);
            DeleteByHandle(copy.Get(), made.attributes);
            if (error == ERROR_CANCELLED) return 0;
            if (DiskFull(error)) return ReportFailure(job, L"磁盘空间不足，无法写入：", to, 0);
            return ReportFailure(job, L"无法复制安装文件：", from, error);
        }
    }
    JoinPath(p.source, target, L"");
    p.copied = 1;
    return 1;
}

// The free space the copies need, on the install folder's volume.
int CheckSpaceForCopies(PlaceJob* job, ULONGLONG bytes)
{
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW(job->stageDir, &available, nullptr, nullptr)) {
        return ReportFailure(job, L"无法检查安装文件夹所在磁盘的空间：", job->installDir, GetLastError());
    }
    if (available.QuadPart < bytes) return ReportFailure(job, L"安装文件夹所在磁盘的可用空间不足：", job->installDir, 0);
    return 1;
}

// Opens a staged file for moving it; a scanner may have it open for a moment.
int OpenSource(Placement* p, DWORD e)
{
    PlaceJob* job = p->job;
    const ReleaseEntry& entry = job->entries[e];
    wchar_t path[PathCapacity];
    EntrySourcePath(job, entry, path);
    DWORD start = GetTickCount();
    for (;;) {
        HANDLE file = OpenForMove(path, FILE_SHARE_READ | FILE_SHARE_DELETE);
        if (file != INVALID_HANDLE_VALUE) {
            SourceFile& source = p->sources[e];
            source.handle = file;
            if (!ReadFileKey(file, &job->volume, &source.key) || IsDirectoryKey(source.key) || IsLinkKey(source.key) ||
                source.key.size != entry.size) {
                return ReportFailure(job, L"安装文件缺失或大小不符：", path, 0);
            }
            return 1;
        }
        DWORD error = GetLastError();
        if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) {
            return ReportFailure(job, L"安装文件缺失或大小不符：", path, 0);
        }
        if (GetTickCount() - start >= InUseRetryMs) {
            return ReportFailure(job, L"文件正被使用：", path, 0);
        }
        WaitForSingleObject(job->wake, InUsePauseMs);
        if (IsCancelled(job)) return 0;
    }
}

}  // namespace

int StageParts(Placement* p)
{
    PlaceJob* job = p->job;
    ULONGLONG stageVolume = 0;
    if (!VolumeOf(job->stageDir, &stageVolume)) {
        return ReportFailure(job, L"无法读取安装文件夹：", job->stageDir, GetLastError());
    }
    CopyState state = {job, 0, 0, L""};
    bool toCopy[MaxParts] = {};
    for (DWORD i = 0; i < job->partCount; ++i) {
        ReleasePart& part = job->parts[i];
        if (!part.hostFiles || part.copied) continue;
        ULONGLONG volume = 0;
        if (!VolumeOf(part.source, &volume)) return ReportFailure(job, L"安装文件缺失或大小不符：", part.source, 0);
        if (volume == stageVolume) continue;  // moved from there: renames on one volume
        for (DWORD e = part.first; e < part.first + part.count; ++e) state.total += job->entries[e].size;
        toCopy[i] = true;
    }
    if (state.total > 0 && !CheckSpaceForCopies(job, state.total)) return 0;
    bool announced = false;
    for (DWORD i = 0; i < job->partCount; ++i) {
        if (!toCopy[i]) continue;
        if (!announced) {
            PublishStatus(job, PLACE_STAGING, 0, state.total, L"正在复制安装文件…");
            announced = true;
        }
        if (!CopyPart(job, i, &state)) return 0;
    }
    if (!p->sources.Append(job->entries.count)) return ReportFailure(job, L"内存不足，无法安装。", nullptr, 0);
    for (DWORD e = 0; e < job->entries.count; ++e) {
        if (!OpenSource(p, e)) return 0;
    }
    return 1;
}
