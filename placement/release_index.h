// The release a ReleaseStart job installs: the parts of a release index (release.ini, as
// qelpack writes it) or the one part of a single manifest, with where each part's package
// comes from and the index's mirrors.
#pragma once
#include <windows.h>

#include "placement/job.h"

constexpr DWORD UrlCapacity = 2049;
constexpr DWORD MaxMirrors = 16;

struct ReleasePartSource {
    wchar_t manifest[PathCapacity];  // the part's manifest (absolute)
    wchar_t package[PathCapacity];   // the package file beside the index; empty when downloaded
    wchar_t packageName[NameCapacity];  // the index's Package (empty for a single manifest)
    wchar_t url[UrlCapacity];        // the manifest's Url; empty when nothing is downloaded
    ULONGLONG size;                  // package bytes
    ULONGLONG unpacked;              // bytes of its files
};

struct ReleaseIndex {
    ReleasePartSource parts[MaxParts];
    DWORD partCount;
    wchar_t mirrors[MaxMirrors][UrlCapacity];  // bases ending in '/'
    DWORD mirrorCount;
};

// Reads release (an index, or a single manifest: then a one-part release). package is, for an
// index, the folder that holds the parts' packages (empty: the index's own folder), for a
// manifest the package file (empty: it is downloaded). Both paths are absolute. 1 when the
// release can be delivered; 0 with the failure line in failure (StatusCapacity units).
int ReadReleaseIndex(const wchar_t* release, const wchar_t* package, ReleaseIndex* out, wchar_t* failure);

// The URL of a mirror for a part: base + the part's Package. 0 when it does not fit.
int MirrorUrl(const wchar_t* base, const wchar_t* packageName, wchar_t* out /* UrlCapacity */);
