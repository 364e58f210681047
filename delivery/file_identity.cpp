#include "delivery/file_identity.h"

#include "delivery/handles.h"

int ReadFileIdentity(HANDLE file, FileIdentity* out)
{
    FileIdentity read = {};
    // The 128-bit id where the volume has one (ReFS ids do not fit the 64-bit index), with the
    // times read on their own: one volume query. The index otherwise. Both identities of a
    // comparison come from the same volume, so they are read the same way.
    FILE_ID_INFO id = {};
    if (GetFileInformationByHandleEx(file, FileIdInfo, &id, sizeof id)) {
        if (!GetFileTime(file, &read.creationTime, nullptr, &read.lastWriteTime)) return 0;
        read.volumeSerial = id.VolumeSerialNumber;
        for (int i = 0; i < 16; ++i) read.fileId[i] = id.FileId.Identifier[i];
    } else {
        BY_HANDLE_FILE_INFORMATION info;
        if (!GetFileInformationByHandle(file, &info)) return 0;
        read.volumeSerial = info.dwVolumeSerialNumber;
        DWORD parts[2] = {info.nFileIndexLow, info.nFileIndexHigh};
        for (int i = 0; i < 8; ++i) read.fileId[i] = static_cast<BYTE>(parts[i / 4] >> (8 * (i % 4)));
        read.creationTime = info.ftCreationTime;
        read.lastWriteTime = info.ftLastWriteTime;
    }
    read.known = 1;
    *out = read;
    return 1;
}

int SealFileIdentity(HANDLE file, FileIdentity* out)
{
    FILETIME written;
    if (!GetFileTime(file, nullptr, nullptr, &written)) return 0;
    // Set explicitly, the time no longer follows this handle's writes, nor its closing.
    if (!SetFileTime(file, nullptr, nullptr, &written)) return 0;
    if (!out->known) return ReadFileIdentity(file, out);
    // The file's volume and id stay what they were when this handle created it: only the times
    // are read again.
    FILETIME created;
    FILETIME lastWrite;
    if (!GetFileTime(file, &created, nullptr, &lastWrite)) return 0;
    out->creationTime = created;
    out->lastWriteTime = lastWrite;
    return 1;
}

namespace {

bool SameTime(const FILETIME& a, const FILETIME& b)
{
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

}  // namespace

bool SameFile(const FileIdentity& a, const FileIdentity& b)
{
    if (!a.known || !b.known || a.volumeSerial != b.volumeSerial) return false;
    for (int i = 0; i < 16; ++i) {
        if (a.fileId[i] != b.fileId[i]) return false;
    }
    return SameTime(a.creationTime, b.creationTime) && SameTime(a.lastWriteTime, b.lastWriteTime);
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
