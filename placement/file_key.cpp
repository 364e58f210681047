#include "placement/file_key.h"

int ReadFileKey(HANDLE file, FileKey* out)
{
    FILE_ID_INFO id = {};
    if (GetFileInformationByHandleEx(file, FileIdInfo, &id, sizeof id)) {
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
    FILE_BASIC_INFO basic;
    FILE_STANDARD_INFO standard;
    if (!GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)) return 0;
    if (!GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard)) return 0;
    out->written = basic.LastWriteTime.QuadPart;
    out->created = basic.CreationTime.QuadPart;
    out->attributes = basic.FileAttributes;
    out->size = static_cast<ULONGLONG>(standard.EndOfFile.QuadPart);
    out->known = 1;
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
