// The record behind a ReleaseStart handle: one placement job, the release it installs, the
// qelfetch deliveries of its parts (kept open until placing is over: their files are what is
// placed), and the status the host polls.
#pragma once
#include <windows.h>

#include "placement/fetch_library.h"
#include "placement/job.h"
#include "placement/release_index.h"

constexpr DWORD ReleasePathCapacity = 1024;  // what qelfetch and PlaceAddPart take

struct ReleaseJob {
    HANDLE worker;
    HMODULE module;      // the worker's reference to this DLL, dropped as the worker ends
    HANDLE cancelEvent;  // manual reset: ReleaseCancel or ReleaseClose; never reset
    HANDLE wake;         // auto-reset: ReleaseRetry
    LONG retryRequested;
    SRWLOCK lock;        // guards phase, percent, statusText
    LONG phase;
    LONG percent;
    wchar_t statusText[StatusCapacity];
    LONG closeResult;    // what ReleaseClose returns, set by the worker before its last status
    wchar_t release[ReleasePathCapacity];  // the index or manifest (absolute)
    wchar_t package[ReleasePathCapacity];  // the packages' folder, or a manifest's package file
    PlaceJob* place;
    FetchLibrary fetch;
    ReleaseIndex index;
    FetchJob* deliveries[MaxParts];                      // ready deliveries, closed at the end
    wchar_t workDirs[MaxParts][ReleasePathCapacity];     // handed out by PlaceAddPart
    wchar_t manifests[MaxParts][ReleasePathCapacity];    // each part's manifest, copied into staging
    LONG manifestsInPlace;  // staging lies too deep for the profile API: the host's manifests are read
};

// Stores phase, percent and a copy of text (cut to 1023 units) under the lock.
void PublishRelease(ReleaseJob* job, int phase, int percent, const wchar_t* text);

DWORD WINAPI ReleaseWorker(void* job);
