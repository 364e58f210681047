#include "placement/tree.h"

#include "delivery/handles.h"
#include "placement/file_key.h"
#include "placement/file_ops.h"
#include "placement/paths.h"

namespace {

void ScheduleRemoval(const wchar_t* path)
{
    // Only an administrator may; for everyone else the next install removes it.
    MoveFileExW(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

constexpr DWORD ListingBytes = 16384;

// path is a buffer of PathCapacity units holding the entry; it is extended for children and
// cut back before returning. listed: the attributes its folder's listing (or the path) gave.
// A folder is listed through the handle it is deleted through (a listing opened by name would
// be refused: the handle already asks for delete access).
int RemoveEntry(wchar_t* path, DWORD listed, int depth)
{
    UniqueFile entry(OpenForMove(path, ShareAll));
    if (!entry) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 1 : 0;
    }
    FileKey key = {};
    if (!ReadFileFacts(entry.Get(), &key)) return 0;
    // A link is deleted as itself and never entered. Where the system opens what a link points
    // at even when asked for the link itself, the handle is not the link's: nothing is deleted.
    bool link = (listed & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || IsLinkKey(key);
    if (link && !IsLinkKey(key)) return 0;
    int result = 1;
    if (IsDirectoryKey(key) && !link) {
        if (depth > 200) return 0;
        UniqueHeapBlock block(HeapAlloc(GetProcessHeap(), 0, ListingBytes));
        if (!block) return 0;
        DWORD length = TextLength(path);
        bool first = true;
        while (GetFileInformationByHandleEx(entry.Get(), first ? FileFullDirectoryRestartInfo : FileFullDirectoryInfo,
                                            block.Get(), ListingBytes)) {
            first = false;
            auto* item = static_cast<FILE_FULL_DIR_INFO*>(block.Get());
            for (;;) {
                DWORD units = item->FileNameLength / sizeof(wchar_t);
                const wchar_t* leaf = item->FileName;
                bool dots = (units == 1 && leaf[0] == L'.') || (units == 2 && leaf[0] == L'.' && leaf[1] == L'.');
                if (!dots) {
                    if (JoinPath(path, path, leaf, units)) {
                        if (!RemoveEntry(path, item->FileAttributes, depth + 1)) result = 0;
                    } else {
                        result = 0;
                    }
                    path[length] = 0;
                }
                if (item->NextEntryOffset == 0) break;
                item = reinterpret_cast<FILE_FULL_DIR_INFO*>(reinterpret_cast<BYTE*>(item) + item->NextEntryOffset);
            }
        }
        if (GetLastError() != ERROR_NO_MORE_FILES) result = 0;
    }
    if (!DeleteByHandle(entry.Get(), key.attributes)) {
        entry.Reset();
        ScheduleRemoval(path);
        return 0;
    }
    return result;
}

}  // namespace

int RemoveTree(const wchar_t* path)
{
    wchar_t buffer[PathCapacity];
    if (!JoinPath(buffer, path, L"")) return 0;
    DWORD attributes = GetFileAttributesW(buffer);
    if (attributes == INVALID_FILE_ATTRIBUTES) attributes = 0;
    return RemoveEntry(buffer, attributes, 0);
}

int RemoveEmptyFolder(const wchar_t* path)
{
    DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return 0;
    UniqueFile folder(OpenForMove(path, ShareAll));
    if (!folder) return 0;
    FileKey key = {};
    if (!ReadFileFacts(folder.Get(), &key) || !IsDirectoryKey(key) || IsLinkKey(key)) return 0;
    // A folder that is not empty refuses the deletion.
    return DeleteByHandle(folder.Get(), key.attributes);
}
