#include "placement/folder.h"

#include "delivery/handles.h"
#include "placement/file_key.h"
#include "placement/file_ops.h"
#include "placement/tree.h"

namespace {

// GetFileAttributesW of the path itself (a link is not followed by the attribute query).
DWORD AttributesOf(const wchar_t* path) { return GetFileAttributesW(path); }

// The shortest path from which folders may be made: "\\?\X:\" or "\\?\UNC\server\share".
bool IsVolumeRoot(const wchar_t* path)
{
    if (TextStartsWith(path, L"\\\\?\\UNC\\")) {
        DWORD separators = 0;
        for (const wchar_t* p = path + 8; *p != 0; ++p) {
            if (*p == L'\\') ++separators;
        }
        return separators <= 1;
    }
    DWORD length = TextLength(path);
    return length <= 7;  // "\\?\X:\"
}

}  // namespace

int MakeInstallFolder(PlaceJob* job)
{
    const wchar_t* dir = job->installDir;
    DWORD attributes = AttributesOf(dir);
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            return ReportFailure(job, L"安装位置是一个文件，不是文件夹：", dir, 0);
        }
        return 1;
    }
    // The deepest folder on the way that exists; the rest is made outermost first.
    wchar_t path[PathCapacity];
    JoinPath(path, dir, L"");
    for (;;) {
        if (IsVolumeRoot(path) || !ParentPath(path, path)) {
            return ReportFailure(job, L"无法创建安装文件夹：", dir, ERROR_PATH_NOT_FOUND);
        }
        DWORD found = AttributesOf(path);
        if (found == INVALID_FILE_ATTRIBUTES) continue;
        if ((found & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            return ReportFailure(job, L"安装位置是一个文件，不是文件夹：", path, 0);
        }
        break;
    }
    DWORD length = TextLength(dir);
    DWORD at = TextLength(path);
    while (at < length) {
        // The next component of dir after the part that exists.
        DWORD end = at + 1;
        while (end < length && dir[end] != L'\\') ++end;
        wchar_t make[PathCapacity];
        for (DWORD i = 0; i < end; ++i) make[i] = dir[i];
        make[end] = 0;
        at = end;
        if (!CreateDirectoryW(make, nullptr)) {
            DWORD error = GetLastError();
            DWORD now = AttributesOf(make);
            // Another job may have made it a moment ago.
            if (error == ERROR_ALREADY_EXISTS && now != INVALID_FILE_ATTRIBUTES && (now & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                continue;
            }
            if (now != INVALID_FILE_ATTRIBUTES && (now & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                return ReportFailure(job, L"安装位置是一个文件，不是文件夹：", make, 0);
            }
            return ReportFailure(job, L"无法创建安装文件夹：", dir, error);
        }
        DWORD offset = job->folder->created.Add(make, end);
        if (offset == MAXDWORD || !job->folder->createdAt.Push(offset)) {
            return ReportFailure(job, L"无法创建安装文件夹：", dir, ERROR_NOT_ENOUGH_MEMORY);
        }
    }
    return 1;
}

int LockInstallFolder(PlaceJob* job)
{
    wchar_t path[PathCapacity];
    if (!JoinPath(path, job->installDir, LockName)) return ReportFailure(job, L"无法锁定安装文件夹：", job->installDir, ERROR_FILENAME_EXCED_RANGE);
    DWORD start = GetTickCount();
    bool shown = false;
    for (;;) {
        HANDLE lock = CreateFileW(path, GENERIC_READ | DELETE, 0, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (lock != INVALID_HANDLE_VALUE) {
            job->folder->lock = lock;
            return 1;
        }
        DWORD error = GetLastError();
        bool held = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
        // A lock being deleted by the job that held it answers "access denied"; so does a folder
        // this user may not write, where no lock exists.
        if (error == ERROR_ACCESS_DENIED && AttributesOf(path) != INVALID_FILE_ATTRIBUTES) held = true;
        if (error == ERROR_PATH_NOT_FOUND && !job->removal) {
            // The job that held the lock removed the folder (an uninstall): make it again.
            if (!MakeInstallFolder(job)) return 0;
            continue;
        }
        if (error == ERROR_PATH_NOT_FOUND && job->removal) {
            return ReportFailure(job, L"找不到安装记录：", job->installDir, 0);
        }
        if (!held) return ReportFailure(job, L"无法写入安装文件夹：", job->installDir, error);
        if (GetTickCount() - start >= LockWaitMs) {
            return ReportFailure(job, L"另一个安装程序正在使用安装文件夹，请等它结束后再试：", job->installDir, 0);
        }
        if (!shown) {
            PublishStatus(job, PLACE_PREPARING, 0, 0, L"正在等待另一个安装程序结束…");
            shown = true;
        }
        // The wake event also ends the pause early for a cancel or the close.
        WaitForSingleObject(job->wake, 100);
        if (IsCancelled(job)) return 0;
    }
}

int ReleaseInstallFolder(PlaceJob* job, bool keepCreated)
{
    FolderState* folder = job->folder;
    if (folder == nullptr) return 1;
    if (folder->lock != nullptr) {
        CloseHandle(folder->lock);
        folder->lock = nullptr;
    }
    int result = 1;
    if (!keepCreated) {
        for (DWORD i = folder->createdAt.count; i-- > 0;) {
            if (!RemoveEmptyFolder(folder->created.At(folder->createdAt[i]))) result = 0;
        }
    }
    folder->created.Free();
    folder->createdAt.Free();
    return result;
}
