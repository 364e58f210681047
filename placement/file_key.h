// Files known by what they are, not by their path. A key holds the volume's serial number and
// the file's 128-bit id (the 64-bit index, widened, on volumes whose ids fit in 64 bits), its
// size and last-write time. An id alone does not prove identity: a deleted file's id can be
// handed to the next file created (Wine's ids are Unix inodes; FAT reuses indexes), and that
// file has another last-write time. The creation time is kept but not compared: the file system
// gives a file moved onto a name that was just vacated the creation time of the file that had
// the name (tunnelling), and placing does exactly that.
#pragma once
#include <windows.h>

struct FileKey {
    ULONGLONG volume;
    BYTE id[16];
    ULONGLONG size;
    LONGLONG written;
    LONGLONG created;
    DWORD attributes;
    LONG known;
};

// The volume every file of a job lies on (the install folder's): its serial number, and whether
// its file ids are wider than 64 bits (ReFS). Asking a file for its volume's serial costs a
// query of the volume each time, as long as renaming it; asking it for its index does not.
struct VolumeIds {
    ULONGLONG serial;
    LONG wide;
    LONG known;
};

// Reads the ids of the volume that folder (an open handle) lies on. 1 on success.
int ReadVolumeIds(HANDLE folder, VolumeIds* out);

// Reads the key of an open handle (needs FILE_READ_ATTRIBUTES). With volume, the file is on that
// volume and only its own id is asked for; without, the volume is asked too. 1 on success.
int ReadFileKey(HANDLE file, const VolumeIds* volume, FileKey* out);

// Reads what a handle's file is without its ids (attributes, size, times): enough to tell a
// folder, a link or a file of a given size. 1 on success.
int ReadFileFacts(HANDLE file, FileKey* out);

// The same file, unchanged since the key was read: volume, id, size and last-write time.
bool SameFile(const FileKey& a, const FileKey& b);

// The same file object, whatever was written to it since: volume and id only. For a target
// overwritten in place, which stays where it is.
bool SameFileObject(const FileKey& a, const FileKey& b);

bool IsDirectoryKey(const FileKey& key);
bool IsLinkKey(const FileKey& key);
