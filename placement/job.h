// The placement job: the record behind a PlaceStart or RemoveStart handle, the parts the host
// added, and the status operations every stage uses.
#pragma once
#include <windows.h>

#include "placement/file_key.h"
#include "placement/heap_array.h"
#include "placement/paths.h"
#include "placement/place.h"

constexpr DWORD StatusCapacity = 1024;
constexpr DWORD VersionCapacity = 128;
constexpr DWORD MaxParts = 64;
constexpr DWORD MaxPartEntries = 256;
constexpr DWORD NameCapacity = 242;  // a name of at most 240 units
constexpr ULONGLONG MaxByteCount = 2000000000;

// One file of the release: what a part's manifest says about it.
struct ReleaseEntry {
    DWORD name;    // offset in PlaceJob::names: the name with '\' separators
    DWORD folded;  // offset in PlaceJob::folded: the same name in capitals, for comparisons
    DWORD nameLength;
    DWORD part;
    DWORD index;   // entry index in the part: the file is <part's source>\000<index>
    ULONGLONG size;
    BYTE sha256[32];
};

struct ReleasePart {
    wchar_t source[PathCapacity];  // where entry i lies as source\000i (\\?\ form)
    LONG hostFiles;                // the host's own directory (PlaceAddFiles)
    LONG copied;                   // its files were copied into the part's staging directory
    DWORD first;                   // first entry in PlaceJob::entries
    DWORD count;
};

struct FolderState;  // the install folder's handles, lock and created folders (install_dir.h)

struct PlaceJob {
    HANDLE worker;
    HMODULE module;      // the worker's reference to this DLL, dropped as the worker ends
    HANDLE wake;         // auto-reset: a commit, a cancel or the close was asked for
    LONG cancelRequested;
    LONG closeRequested;
    LONG commitRequested;
    SRWLOCK lock;        // guards phase, percent, statusText
    SRWLOCK partsLock;   // guards the parts and entries against two host threads
    LONG phase;
    LONG percent;
    wchar_t statusText[StatusCapacity];
    LONG removal;        // an uninstall job (RemoveStart)
    LONG open;           // in the open phase: parts may be added
    LONG retryable;      // the last placing failed and gave every file back: it may be committed again
    LONG committed;      // the new record is in place: the job finishes whatever comes
    LONG closeResult;    // what PlaceClose returns, set by the worker on its way out
    wchar_t installDir[PathCapacity];  // \\?\ form
    wchar_t stageName[40];             // ".qel-stage\<job's own name>", relative to installDir
    wchar_t stageDir[PathCapacity];    // installDir\<stageName>: this job's staging
    wchar_t version[VersionCapacity];
    VolumeIds volume;    // of the install folder, read once it exists
    DWORD backups;       // backups made by every try so far: each has its own name
    DWORD tries;         // commits run so far
    ReleasePart parts[MaxParts];
    DWORD partCount;
    HeapArray<ReleaseEntry> entries;
    StringPool names;
    StringPool folded;
    FolderState* folder;
};

// Stores phase, the percentage of done in total and a copy of text (cut to 1023 units).
void PublishStatus(PlaceJob* job, int phase, ULONGLONG done, ULONGLONG total, const wchar_t* text);

// Publishes phase failed with text, then path (in the plain form) when not null, then
// "（错误码 N）。" when code is not 0. Returns 0 so that a failing stage can return its result.
int ReportFailure(PlaceJob* job, const wchar_t* text, const wchar_t* path, DWORD code);
// The same line, written to line (StatusCapacity units) instead.
void FormatFailure(wchar_t* line, const wchar_t* text, const wchar_t* path, DWORD code);

// 1 once a cancel (or the close) was asked for; no kernel call.
int IsCancelled(PlaceJob* job);

// Percentage of done in total: 0 for total 0, 100 only when done reaches total.
int PercentOf(ULONGLONG done, ULONGLONG total);

// The file of entry e in its part's source: source\000<index>.
int EntrySourcePath(PlaceJob* job, const ReleaseEntry& e, wchar_t* out /* PathCapacity */);

// The staging directory of part i: stageDir\<i>.
int PartStagePath(PlaceJob* job, DWORD part, wchar_t* out /* PathCapacity */);
