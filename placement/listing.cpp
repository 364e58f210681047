#include "placement/listing.h"

#include "placement/job.h"
#include "placement/names.h"
#include "placement/paths.h"

namespace {

bool ItemBefore(void* context, DWORD a, DWORD b)
{
    auto* listing = static_cast<FolderListing*>(context);
    return CompareFolded(listing->folded.At(listing->items[a].folded), listing->folded.At(listing->items[b].folded)) < 0;
}

bool EqualN(const wchar_t* a, const wchar_t* b, DWORD length)
{
    for (DWORD i = 0; i < length; ++i) {
        if (a[i] != b[i]) return false;
    }
    return a[length] == 0;
}

}  // namespace

int ListFolder(FolderListing* listing, const wchar_t* installDir, const wchar_t* folder, DWORD folderLength)
{
    for (DWORD i = 0; i < listing->listed.count; ++i) {
        if (EqualN(listing->folded.At(listing->listed[i]), folder, folderLength)) return 1;
    }
    DWORD mark = listing->folded.Add(folder, folderLength);
    if (mark == MAXDWORD || !listing->listed.Push(mark)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }

    wchar_t pattern[PathCapacity];
    if (!JoinPath(pattern, installDir, folder, folderLength) || !JoinPath(pattern, pattern, L"*")) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileExW(pattern, FindExInfoBasic, &found, FindExSearchNameMatch, nullptr,
                                     FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        // A folder that is not there, or a file where a folder would be, holds nothing.
        pattern[TextLength(pattern) - 2] = 0;
        DWORD attributes = GetFileAttributesW(pattern);
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return 1;
        SetLastError(error);
        return 0;
    }
    int result = 1;
    do {
        const wchar_t* leaf = found.cFileName;
        if ((leaf[0] == L'.' && leaf[1] == 0) || (leaf[0] == L'.' && leaf[1] == L'.' && leaf[2] == 0)) continue;
        DWORD leafLength = TextLength(leaf);
        wchar_t relative[PathCapacity];
        DWORD length = 0;
        for (; length < folderLength; ++length) relative[length] = folder[length];
        if (folderLength > 0) relative[length++] = L'\\';
        if (length + leafLength + 1 > PathCapacity) continue;
        // The leaf is folded; the folder part came folded.
        if (!FoldName(leaf, leafLength, relative + length)) {
            result = 0;
            break;
        }
        length += leafLength;
        ListedItem* item = listing->items.Append();
        DWORD offset = listing->folded.Add(relative, length);
        if (item == nullptr || offset == MAXDWORD) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            result = 0;
            break;
        }
        item->folded = offset;
        item->attributes = found.dwFileAttributes;
        item->size = (static_cast<ULONGLONG>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        item->written = static_cast<LONGLONG>((static_cast<ULONGLONG>(found.ftLastWriteTime.dwHighDateTime) << 32) |
                                              found.ftLastWriteTime.dwLowDateTime);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return result;
}

int FinishListing(FolderListing* listing)
{
    DWORD n = listing->items.count;
    if (n < 2) return 1;
    HeapArray<DWORD> order = {};
    HeapArray<ListedItem> sorted = {};
    if (!order.Append(n) || !sorted.Append(n)) {
        order.Free();
        sorted.Free();
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    for (DWORD i = 0; i < n; ++i) order[i] = i;
    SortIndices(order.data, n, ItemBefore, listing);
    for (DWORD i = 0; i < n; ++i) sorted[i] = listing->items[order[i]];
    listing->items.Free();
    listing->items = sorted;
    order.Free();
    return 1;
}

const ListedItem* FindListed(const FolderListing* listing, const wchar_t* folded, DWORD length)
{
    DWORD low = 0;
    DWORD high = listing->items.count;
    while (low < high) {
        DWORD mid = low + (high - low) / 2;
        const wchar_t* name = listing->folded.At(listing->items[mid].folded);
        int order = 0;
        DWORD i = 0;
        for (; i < length; ++i) {
            if (name[i] != folded[i]) {
                order = name[i] < folded[i] ? -1 : 1;
                break;
            }
        }
        if (order == 0 && name[length] != 0) order = 1;
        if (order == 0) return &listing->items[mid];
        if (order < 0) low = mid + 1;
        else high = mid;
    }
    return nullptr;
}
