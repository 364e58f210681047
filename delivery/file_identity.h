// Files known by what they are, not by their path: the volume serial number and file index
// that the file system reports for an open handle. A host may move, rename or replace any file
// on a path while a job runs; only the identity says whether the file there is the job's own.
#pragma once
#include <windows.h>

struct FileIdentity {
    DWORD volumeSerial;
    DWORD indexHigh;
    DWORD indexLow;
    LONG known;  // 1 once read from a handle
};

// Reads the identity of an open file. 1 on success.
int ReadFileIdentity(HANDLE file, FileIdentity* out);
void IdentityOf(const BY_HANDLE_FILE_INFORMATION& info, FileIdentity* out);

// Both identities were read and name the same file.
bool SameFile(const FileIdentity& a, const FileIdentity& b);

// Opens path for reading, shared for reading only, a link as itself, and keeps the handle only
// when it is the file with the identity. INVALID_HANDLE_VALUE otherwise, with the last error
// set (ERROR_FILE_INVALID when another file is on the path).
HANDLE OpenSameFile(const wchar_t* path, const FileIdentity& identity, DWORD flags);

enum class OwnFileRemoval {
    Deleted,   // it was there and is deleted
    Gone,      // nothing on the path: someone took it, which is what removal wants
    Stranger,  // another file is on the path; it stays
    Failed,    // the path could not be opened or the deletion was refused
};

// Deletes the file on path only when it is the one with the identity, through the handle whose
// identity was compared, so that nothing can be swapped in between.
OwnFileRemoval RemoveOwnFile(const wchar_t* path, const FileIdentity& identity);

// Marks an open file (opened with DELETE access) for deletion when its last handle closes.
int DeleteThroughHandle(HANDLE file);
