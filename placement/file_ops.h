// What placing does to one file, always through a handle opened once: moving it to a new name,
// deleting it, copying and rewriting its bytes. Links are opened as themselves, never followed.
#pragma once
#include <windows.h>

#include "placement/file_key.h"

constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens path for moving and deleting (DELETE, reading its data and attributes, writing its
// attributes) without following a link; directories too. INVALID_HANDLE_VALUE with the last
// error set when it cannot be opened.
HANDLE OpenForMove(const wchar_t* path, DWORD share);

// Opens an existing file for reading and writing its bytes in place.
HANDLE OpenForRewrite(const wchar_t* path);

// Creates a new file (it must not exist) for writing, readable and deletable by us.
HANDLE CreateNewFile(const wchar_t* path, DWORD attributes);

// Gives the open file the name to (a \\?\ path); fails when something is on to already. The
// error is in the last error (ERROR_ALREADY_EXISTS, ERROR_NOT_SAME_DEVICE, ...).
int MoveByHandle(HANDLE file, const wchar_t* to);

// Deletes the open file or empty directory; a read-only attribute is cleared first (and set
// again when the deletion is refused). Where the system offers it, the name goes at once even
// while another process holds the file open with delete sharing.
int DeleteByHandle(HANDLE file, DWORD attributes);

// Sets the attributes and last-write time of the open file (FILE_WRITE_ATTRIBUTES).
int SetAttributesAndTime(HANDLE file, DWORD attributes, LONGLONG written);

// Progress of a byte copy: called after each chunk with the bytes of that chunk; a result of
// 0 stops the copy (cancel).
struct CopyProgress {
    int (*chunk)(void* context, DWORD bytes);
    void* context;
};

// Copies every byte of from (read from its start) over to (written from its start, truncated at
// the end), flushes to, and leaves both positions at the end. 1 on success; the last error is
// set otherwise (ERROR_DISK_FULL when the volume is full, ERROR_CANCELLED when progress stopped).
int CopyBytes(HANDLE from, HANDLE to, const CopyProgress* progress);

// Writes bytes at the start of the file, truncates it there and flushes it. 1 on success.
int WriteWhole(HANDLE file, const void* bytes, DWORD count);

// Reads the whole file (at most limit bytes) into a new heap block; 0 when it cannot be read or
// is longer. The caller frees *data with HeapFree.
int ReadWhole(HANDLE file, DWORD limit, BYTE** data, DWORD* count);
