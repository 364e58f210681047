#include "placement/file_key.h"

#include <winternl.h>

namespace {

constexpr int FileInternalInformationClass = 6;

struct InternalInformation {
    LARGE_INTEGER index;
};

// The 64-bit index, from the file alone.
int ReadIndex(HANDLE file, FileKey* out)
{
    IO_STATUS_BLOCK io = {};
    InternalInformation info = {};
    if (!NT_SUCCESS(NtQueryInformationFile(file, &io, &info, sizeof info,
                                           static_cast<FILE_INFORMATION_CLASS>(FileInternalInformationClass)))) {
        return 0;
    }
    ULONGLONG index = static_cast<ULONGLONG>(info.index.QuadPart);
    for (int i = 0; i < 8; ++i) out->id[i] = static_cast<BYTE>(index >> (8 * i));
    for (int i = 8; i < 16; ++i) out->id[i] = 0;
    return 1;
}

}  // namespace

int ReadVolumeIds(HANDLE folder, VolumeIds* out)
{
    FILE_ID_INFO id = {};
    if (GetFileInformationByHandleEx(folder, FileIdInfo, &id, sizeof id)) {
        out->serial = id.VolumeSerialNumber;
        out->wide = 0;
        for (int i = 8; i < 16; ++i) {
            if (id.FileId.Identifier[i] != 0) out->wide = 1;
        }
    } else {
        BY_HANDLE_FILE_INFORMATION info;
        if (!GetFileInformationByHandle(folder, &info)) return 0;
        out->serial = info.dwVolumeSerialNumber;
        out->wide = 0;
    }
    out->known = 1;
    return 1;
}

int ReadFileKey(HANDLE file, const VolumeIds* volume, FileKey* out)
{
    FILE_ID_INFO id = {};
    if (volume != nullptr && volume->known && !volume->wide && ReadIndex(file, out)) {
        out->volume = volume->serial;
    } else if (GetFileInformationByHandleEx(file, FileIdInfo, &id, sizeof id)) {
        out->volume = id.VolumeSerialNumber;
        for (int i = 0; i < 16; ++i) out->id[i] = id.FileId.Identifier[i];
    } else {
        // Volumes that give no 128-bit id (and systems before it).
        BY_HANDLE_FILE_INFORMATION info;
        if (!GetFileInformationByHandle(file, &info)) return 0;
        out->volume = info.dwVolumeSerialNumber;
        ULONGLONG index = (static_cast<ULONGLONG>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
        for (int i = 0; i < 8; ++i) out->id[i] = static_cast<BYTE>(index >> (8 * i));
        for (int i = 8; i < 16; ++i) out->id[i] = 0;
    }
    if (!ReadFileFacts(file, out)) return 0;
    out->known = 1;
    return 1;
}

int ReadFileFacts(HANDLE file, FileKey* out)
{
    FILE_BASIC_INFO basic;
    FILE_STANDARD_INFO standard;
    if (!GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)) return 0;
    if (!GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard)) return 0;
    out->written = basic.LastWriteTime.QuadPart;
    out->created = basic.CreationTime.QuadPart;
    out->attributes = basic.FileAttributes;
    out->size = static_cast<ULONGLONG>(standard.EndOfFile.QuadPart);
    return 1;
}

bool SameFileObject(const FileKey& a, const FileKey& b)
{
    if (!a.known || !b.known || a.volume != b.volume) return false;
    for (int i = 0; i < 16; ++i) {
        if (a.id[i] != b.id[i]) return false;
    }
    return true;
}

bool SameFile(const FileKey& a, const FileKey& b)
{
    return SameFileObject(a, b) && a.size == b.size && a.written == b.written;
}

bool IsDirectoryKey(const FileKey& key) { return (key.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
bool IsLinkKey(const FileKey& key) { return (key.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }
