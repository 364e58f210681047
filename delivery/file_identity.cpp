#include "delivery/file_identity.h"

#include "delivery/handles.h"

void IdentityOf(const BY_HANDLE_FILE_INFORMATION& info, FileIdentity* out)
{
    out->volumeSerial = info.dwVolumeSerialNumber;
    out->indexHigh = info.nFileIndexHigh;
    out->indexLow = info.nFileIndexLow;
    out->known = 1;
}

int ReadFileIdentity(HANDLE file, FileIdentity* out)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info)) return 0;
    IdentityOf(info, out);
    return 1;
}

bool SameFile(const FileIdentity& a, const FileIdentity& b)
{
    return a.known && b.known && a.volumeSerial == b.volumeSerial && a.indexHigh == b.indexHigh &&
           a.indexLow == b.indexLow;
}

HANDLE OpenSameFile(const wchar_t* path, const FileIdentity& identity, DWORD flags)
{
    UniqueFile file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                flags | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) return INVALID_HANDLE_VALUE;
    FileIdentity found = {};
    if (!ReadFileIdentity(file.Get(), &found)) return INVALID_HANDLE_VALUE;
    if (!SameFile(found, identity)) {
        file.Reset();
        SetLastError(ERROR_FILE_INVALID);
        return INVALID_HANDLE_VALUE;
    }
    return file.Release();
}

int DeleteThroughHandle(HANDLE file)
{
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = TRUE;
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) ? 1 : 0;
}

OwnFileRemoval RemoveOwnFile(const wchar_t* path, const FileIdentity& identity)
{
    // Every kind of sharing: a reader of the host's does not keep the job from looking. A link
    // put on the path is opened as itself, so it never matches and its target is never touched.
    UniqueFile file(CreateFileW(path, DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? OwnFileRemoval::Gone
                                                                                : OwnFileRemoval::Failed;
    }
    FileIdentity found = {};
    if (!ReadFileIdentity(file.Get(), &found)) return OwnFileRemoval::Failed;
    if (!SameFile(found, identity)) return OwnFileRemoval::Stranger;
    if (!DeleteThroughHandle(file.Get())) return OwnFileRemoval::Failed;
    // The file goes when this, its last handle of ours, is closed.
    file.Reset();
    return OwnFileRemoval::Deleted;
}
