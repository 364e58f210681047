// The install folder while a job runs: made when missing (with its parents), locked against
// every other job on it, in this process or another, and given back at the end.
#pragma once
#include <windows.h>

#include "placement/job.h"

constexpr wchar_t LockName[] = L".qel-lock";
constexpr wchar_t StageName[] = L".qel-stage";
// How long a second job waits for the first to let go of the folder.
constexpr DWORD LockWaitMs = 20000;

struct FolderState {
    HANDLE lock;                 // installDir\.qel-lock: open without sharing, deleted when closed
    StringPool created;          // folders this job made for the install folder, outermost first
    HeapArray<DWORD> createdAt;  // their offsets in created
};

// Install jobs: makes the install folder when it is missing. A failure is published.
int MakeInstallFolder(PlaceJob* job);

// Takes the folder's lock, waiting up to LockWaitMs while another job holds it (the waiting is
// shown and can be cancelled). The system releases the lock when the process ends, however it
// ends. A failure or a cancel is published (a cancel as phase cancelled).
int LockInstallFolder(PlaceJob* job);

// Releases the lock, then removes the folders this job made when they are empty (keep: an
// install committed, they hold it). 1 when everything this job made is gone or kept on purpose.
int ReleaseInstallFolder(PlaceJob* job, bool keepCreated);
