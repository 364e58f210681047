// What the install folder holds where a release or a record names something: each folder on
// the way to a name is listed once (a listing costs one pass over the folder; asking for each
// name that may not exist costs a search of the folder per name), and names are then looked up
// without regard to case.
#pragma once
#include <windows.h>

#include "placement/heap_array.h"

struct ListedItem {
    DWORD folded;  // offset in FolderListing::folded: the relative path in capitals
    DWORD attributes;
    ULONGLONG size;
    LONGLONG written;
};

struct FolderListing {
    HeapArray<ListedItem> items;  // sorted by folded path once Finish ran
    StringPool folded;
    HeapArray<DWORD> listed;      // offsets in folded of the folders already listed
    void Free()
    {
        items.Free();
        folded.Free();
        listed.Free();
    }
};

// Lists installDir\<folder> (folder relative and folded, "" for the folder itself) unless it
// was listed already. A folder that does not exist lists as empty. 0 when memory ran out or the
// folder could not be read (the last error says why).
int ListFolder(FolderListing* listing, const wchar_t* installDir, const wchar_t* folder, DWORD folderLength);

// Sorts the items for FindListed. 0 when memory ran out.
int FinishListing(FolderListing* listing);

// The item at a relative folded path, or null.
const ListedItem* FindListed(const FolderListing* listing, const wchar_t* folded, DWORD length);
