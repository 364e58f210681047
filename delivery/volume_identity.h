// Volumes known by what they are, not by the name a path reaches them through. One volume can
// have several names: two drive letters, a substituted drive, a volume mounted both as a drive
// and in a folder. Space that two writes need from one volume must be counted together, whatever
// names their paths use.
#pragma once
#include <windows.h>

// Whether the two volume paths (as GetVolumePathNameW returns them) name one volume: the same
// volume GUID path, or the same volume serial number as the file system reports it for an open
// handle on each root. Where neither can be read, the names are compared. A rare serial number
// shared by two volumes makes them count as one, which asks for more space, never less.
bool SameVolume(const wchar_t* volumeA, const wchar_t* volumeB);
