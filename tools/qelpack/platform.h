// The thin layer between the packer and the file system: the one place besides the cabinet
// writers and the digest where Windows and Linux differ. Paths are UTF-8 on both systems;
// the Windows side converts them at the boundary.
#pragma once
#include <string>
#include <vector>

enum class EntryKind { File, Folder, Link, Device, Fifo, Socket, Other };

struct FolderEntry {
    std::string name;  // UTF-8 on Windows; the raw bytes on Linux
    EntryKind kind = EntryKind::Other;
    unsigned long long size = 0;
};

// The separator between path components on this system.
extern const char PathSeparator;

// The entries of a folder, links and devices reported as what they are, never followed.
// False with the system's reason when the folder cannot be read.
bool ListFolder(const std::string& path, std::vector<FolderEntry>* entries, std::string* error);

// The absolute form of path, without a trailing separator.
std::string AbsolutePath(const std::string& path);

// The path with every link resolved, for telling whether one folder lies inside another;
// empty when it does not exist.
std::string ResolvedPath(const std::string& path);

bool IsFolder(const std::string& path);
bool PathExists(const std::string& path);
bool MakeFolder(const std::string& path, std::string* error);
bool RemoveFile(const std::string& path);
bool RemoveEmptyFolder(const std::string& path);
// Renames from to to; fails when to exists.
bool MovePath(const std::string& from, const std::string& to, std::string* error);
// Copies from into a new file at to.
bool CopyNewFile(const std::string& from, const std::string& to, std::string* error);
// Writes data into a new file at path (replacing one), flushed to the disk.
bool WriteNewFile(const std::string& path, const std::string& data, std::string* error);
// Reads a whole file of at most limit bytes into bytes; false with the reason when it cannot
// be read or is larger.
bool ReadWholeFile(const std::string& path, size_t limit, std::string* bytes, std::string* error);
// The size of a regular file; false when it cannot be read.
bool RegularFileSize(const std::string& path, unsigned long long* size);
// A new private scratch folder outside any release folder.
bool MakeScratchFolder(std::string* path, std::string* error);
