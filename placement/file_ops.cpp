#include "placement/file_ops.h"

#include "delivery/handles.h"
#include "placement/paths.h"

namespace {

constexpr DWORD CopyChunk = 1 << 20;
// FILE_DISPOSITION_INFO_EX and its class, from Windows 10 1607 on.
constexpr int DispositionInfoExClass = 21;
constexpr DWORD DispositionDelete = 0x1;
constexpr DWORD DispositionPosixSemantics = 0x2;

struct DispositionEx {
    DWORD flags;
};

int SetPosition(HANDLE file, LONGLONG offset)
{
    LARGE_INTEGER to;
    to.QuadPart = offset;
    return SetFilePointerEx(file, to, nullptr, FILE_BEGIN) ? 1 : 0;
}

}  // namespace

HANDLE OpenForMove(const wchar_t* path, DWORD share)
{
    return CreateFileW(path, DELETE | FILE_READ_DATA | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE,
                       share, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                       nullptr);
}

HANDLE OpenForRewrite(const wchar_t* path)
{
    return CreateFileW(path, GENERIC_READ | GENERIC_WRITE | FILE_WRITE_ATTRIBUTES, ShareAll, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

HANDLE CreateNewFile(const wchar_t* path, DWORD attributes)
{
    return CreateFileW(path, GENERIC_READ | GENERIC_WRITE | DELETE | FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_DELETE,
                       nullptr, CREATE_NEW, attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes, nullptr);
}

int MoveByHandle(HANDLE file, const wchar_t* to)
{
    DWORD length = TextLength(to);
    DWORD bytes = sizeof(FILE_RENAME_INFO) + length * sizeof(wchar_t);
    UniqueHeapBlock block(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes));
    if (!block) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    auto* info = static_cast<FILE_RENAME_INFO*>(block.Get());
    info->ReplaceIfExists = FALSE;
    info->RootDirectory = nullptr;
    info->FileNameLength = length * sizeof(wchar_t);
    for (DWORD i = 0; i < length; ++i) info->FileName[i] = to[i];
    return SetFileInformationByHandle(file, FileRenameInfo, info, bytes) ? 1 : 0;
}

int SetAttributesAndTime(HANDLE file, DWORD attributes, LONGLONG written)
{
    // Only the attributes a file may be given; the rest (directory, reparse point, ...) the
    // file system keeps by itself.
    constexpr DWORD Settable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                               FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                               FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    attributes &= Settable;
    FILE_BASIC_INFO basic = {};
    basic.FileAttributes = attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
    basic.LastWriteTime.QuadPart = written;  // 0 leaves a time as it is
    return SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic) ? 1 : 0;
}

int DeleteByHandle(HANDLE file, DWORD attributes)
{
    bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (readOnly && !SetAttributesAndTime(file, attributes & ~FILE_ATTRIBUTE_READONLY, 0)) return 0;
    DispositionEx posix = {DispositionDelete | DispositionPosixSemantics};
    if (SetFileInformationByHandle(file, static_cast<FILE_INFO_BY_HANDLE_CLASS>(DispositionInfoExClass), &posix,
                                   sizeof posix)) {
        return 1;
    }
    FILE_DISPOSITION_INFO plain = {};
    plain.DeleteFile = TRUE;
    if (SetFileInformationByHandle(file, FileDispositionInfo, &plain, sizeof plain)) return 1;
    DWORD error = GetLastError();
    if (readOnly) SetAttributesAndTime(file, attributes, 0);
    SetLastError(error);
    return 0;
}

int CopyBytes(HANDLE from, HANDLE to, const CopyProgress* progress)
{
    UniqueHeapBlock buffer(HeapAlloc(GetProcessHeap(), 0, CopyChunk));
    if (!buffer) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    if (!SetPosition(from, 0) || !SetPosition(to, 0)) return 0;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(from, buffer.Get(), CopyChunk, &got, nullptr)) return 0;
        if (got == 0) break;
        DWORD put = 0;
        if (!WriteFile(to, buffer.Get(), got, &put, nullptr)) return 0;
        if (put != got) {
            SetLastError(ERROR_DISK_FULL);
            return 0;
        }
        if (progress != nullptr && !progress->chunk(progress->context, got)) {
            SetLastError(ERROR_CANCELLED);
            return 0;
        }
    }
    if (!SetEndOfFile(to)) return 0;
    return FlushFileBuffers(to) ? 1 : 0;
}

int WriteWhole(HANDLE file, const void* bytes, DWORD count)
{
    if (!SetPosition(file, 0)) return 0;
    DWORD put = 0;
    if (!WriteFile(file, bytes, count, &put, nullptr)) return 0;
    if (put != count) {
        SetLastError(ERROR_DISK_FULL);
        return 0;
    }
    if (!SetEndOfFile(file)) return 0;
    return FlushFileBuffers(file) ? 1 : 0;
}

int ReadWhole(HANDLE file, DWORD limit, BYTE** data, DWORD* count)
{
    *data = nullptr;
    *count = 0;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size)) return 0;
    if (size.QuadPart < 0 || static_cast<ULONGLONG>(size.QuadPart) > limit) {
        SetLastError(ERROR_FILE_TOO_LARGE);
        return 0;
    }
    DWORD wanted = static_cast<DWORD>(size.QuadPart);
    UniqueHeapBlock block(HeapAlloc(GetProcessHeap(), 0, wanted + 2));
    if (!block) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    if (!SetPosition(file, 0)) return 0;
    DWORD got = 0;
    if (wanted > 0 && (!ReadFile(file, block.Get(), wanted, &got, nullptr) || got != wanted)) {
        if (GetLastError() == ERROR_SUCCESS) SetLastError(ERROR_HANDLE_EOF);
        return 0;
    }
    *data = static_cast<BYTE*>(block.Release());
    *count = wanted;
    return 1;
}
