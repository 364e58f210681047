// Files known by what they are, not by their path. A host may move, rename or replace any file
// on a path while a job runs; only the identity says whether the file there is the job's own.
//
// The file index alone is not enough: a file deleted and created again on the same path can get
// the same index (Wine reports the Unix inode, which the file system hands out again at once;
// FAT derives the index from the directory entry). So an identity is the volume serial number
// and the 128-bit file id where the volume gives one (else the 64-bit index), plus the file's
// creation and last-write times. A file the job writes is sealed when the job has written its
// last byte: its last-write time is then set explicitly, which keeps the file system from
// moving it again when the handle closes, and recorded. A file created later in its place has
// times of its own (creation times can be carried over to a new file of the same name, so they
// alone would not do).
#pragma once
#include <windows.h>

struct FileIdentity {
    ULONGLONG volumeSerial;
    BYTE fileId[16];
    FILETIME creationTime;
    FILETIME lastWriteTime;
    LONG known;  // 1 once read from a handle
};

// Reads the identity of an open file (FILE_READ_ATTRIBUTES access). 1 on success.
int ReadFileIdentity(HANDLE file, FileIdentity* out);

// For a file this job wrote, once its last byte is written, before its handle (opened with
// write access) is closed: fixes the last-write time as it stands and records the identity.
// out holds the identity read through this same handle when it created the file (then only the
// times are read again), or nothing yet (known 0: read whole). 1 on success.
int SealFileIdentity(HANDLE file, FileIdentity* out);

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
