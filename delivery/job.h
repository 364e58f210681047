// The delivery job: the record behind a PayloadStart handle, and the status operations that
// every stage of the worker uses.
#pragma once
#include <windows.h>

#include "delivery/file_identity.h"
#include "delivery/payload.h"

constexpr DWORD PathCapacity = 1024;     // every path field, terminator included
constexpr DWORD StatusCapacity = 1024;
constexpr DWORD UrlCapacity = 2049;
constexpr DWORD MaxEntries = 256;
constexpr DWORD NameCapacity = 242;      // an entry name of at most 240 units
constexpr ULONGLONG MaxByteCount = 2000000000;

// One file of the package, as the manifest describes it, plus what extraction did with it.
struct ManifestEntry {
    wchar_t name[NameCapacity];
    BYTE sha256[32];
    ULONGLONG size;
    LONG created;   // this job created the entry's file in the work directory
    LONG verified;  // the file was written completely and matched size and digest
    FileIdentity identity;  // of the file this job created, read from the creating handle
};

struct CabFile;  // a file the cabinet decompressor holds open (extraction)

// One delivery. A single zero-filled block on the process heap; after PayloadStart returns,
// only the worker writes it (phase, percent and statusText under lock, in PublishStatus).
struct DeliveryJob {
    HANDLE worker;
    HMODULE module;      // the worker's reference to this DLL, dropped as the worker ends
    HANDLE cancelEvent;  // manual reset, never reset once set
    LONG cancelRequested;  // set with cancelEvent (RequestCancel); read by IsCancelled
    SRWLOCK lock;        // guards phase, percent, statusText
    LONG phase;
    LONG percent;
    wchar_t statusText[StatusCapacity];
    wchar_t manifestPath[PathCapacity];
    wchar_t packagePath[PathCapacity];
    wchar_t workDir[PathCapacity];
    wchar_t url[UrlCapacity];
    ManifestEntry entries[MaxEntries];
    DWORD entryCount;
    ULONGLONG packageSize;
    ULONGLONG unpackedSize;
    ULONGLONG extractedBytes;
    BYTE packageSha256[32];
    LONG packageCreated;  // the download created packagePath
    FileIdentity packageIdentity;   // of the package the download created
    FileIdentity verifiedIdentity;  // of the package the worker opened and verifies
    LONG workDirCreated;  // extraction created workDir
    CabFile* openFiles;   // files extraction holds open, newest first
};

// Stores phase, the percentage of done in total and a copy of text (cut to 1023 units).
void PublishStatus(DeliveryJob* job, int phase, ULONGLONG done, ULONGLONG total, const wchar_t* text);

// Publishes phase failed with text, followed by "（错误码 N）。" when code is not 0. Returns 0 so
// that a failing stage can return its result.
int ReportFailure(DeliveryJob* job, const wchar_t* text, DWORD code);

// Records the cancellation and sets the job's cancel event (which the download waits on).
// 1 when the event was set.
int RequestCancel(DeliveryJob* job);

// 1 once the job's cancellation was requested; never blocks and makes no kernel call, so the
// stages can test it on every chunk.
int IsCancelled(DeliveryJob* job);

// workDir + "\" + the index with at least four digits. 0 when the path does not fit.
int EntryFilePath(DeliveryJob* job, DWORD index, wchar_t* out /* PathCapacity units */);

// Percentage of done in total, computed in 32-bit arithmetic: 0 for total 0, 100 only when done
// reaches total, else at most 99.
int PercentOf(ULONGLONG done, ULONGLONG total);
