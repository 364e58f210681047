// Paths of the install folder, always in the \\?\ form internally so that names longer than
// MAX_PATH work, and the plain form for status texts. Every path buffer holds PathCapacity
// units, terminator included.
#pragma once
#include <windows.h>

constexpr DWORD PathCapacity = 2048;
// Longest absolute form of an install folder or a host's work directory: with the staging
// folder, a part and a four-digit entry file the work directory still fits in 1024 units.
constexpr DWORD FolderLimit = 900;

DWORD TextLength(const wchar_t* text);
bool TextStartsWith(const wchar_t* text, const wchar_t* prefix);

// The absolute \\?\ form of path (\\?\X:\... or \\?\UNC\server\share\...), without a trailing
// separator except at a drive's root. 0 for an empty path, a device path (\\.\), a path whose
// absolute form is longer than limit units, and one that holds a control character.
int LongAbsolutePath(const wchar_t* path, DWORD limit, wchar_t* out /* PathCapacity */);

// out = base + "\" + relative (relative may be empty: then out = base). 0 when it does not fit.
int JoinPath(wchar_t* out, const wchar_t* base, const wchar_t* relative);
int JoinPath(wchar_t* out, const wchar_t* base, const wchar_t* relative, DWORD relativeLength);

// The form a user reads: \\?\X:\... becomes X:\..., \\?\UNC\s\... becomes \\s\....
const wchar_t* DisplayPath(const wchar_t* longPath, wchar_t* scratch /* PathCapacity */);

// The parent of path in out (the path up to its last separator); 0 at a root.
int ParentPath(const wchar_t* path, wchar_t* out);
