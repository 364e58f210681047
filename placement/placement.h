// One placing run (an install's commit or an uninstall): the plan being made and run, with
// everything it holds open while it runs.
#pragma once
#include <windows.h>

#include "placement/file_key.h"
#include "placement/job.h"
#include "placement/listing.h"
#include "placement/plan.h"
#include "placement/record.h"

// How long a file that can be neither moved nor rewritten is tried again (a scanner or an
// indexer lets go within moments) before it is reported.
constexpr DWORD InUseRetryMs = 3000;
constexpr DWORD InUsePauseMs = 200;

struct SourceFile {
    HANDLE handle;  // the staged file, opened once; moved into the folder through this handle
    FileKey key;
};

struct Placement {
    PlaceJob* job;
    Plan plan;
    InstallRecord record;  // the previous install's record (hasRecord)
    LONG hasRecord;
    HANDLE recordHandle;
    FileKey recordKey;
    FolderListing listing;
    HeapArray<SourceFile> sources;     // one per job->entries
    HeapArray<LONGLONG> recordTimes;   // per job->entries: the time the new record gives it
    HeapArray<DWORD> newOrder;         // job->entries sorted by folded name
    HANDLE newRecord;
    FileKey newRecordKey;
    ULONGLONG done;                    // steps of phase PLACE_PLACING done, of about total
    ULONGLONG total;
    int shown;                         // the percentage published last: it never goes back
};

void FreePlacement(Placement* p);

// Counts one step of the placing phase and publishes its text with the percentage, which never
// goes back and stays below 100 until the job is done.
void PlacingProgress(Placement* p, const wchar_t* text);

enum class OpenResult { Opened, Rewrite, Gone, Failed, Cancelled };

// Opens the existing file at path for moving it aside; when another program holds it without
// delete sharing and allowRewrite, for rewriting it in place instead. Tries again for
// InUseRetryMs while it is held, then publishes "文件正被使用：<path>" (with the holding
// programs' names where the system gives them).
OpenResult OpenTarget(Placement* p, const wchar_t* path, bool allowRewrite, HANDLE* out);

// The staging run: opens every staged file of every part (copying parts from a host's folder on
// another volume into staging first) and checks its size. A failure is published.
int StageParts(Placement* p);

// Plans an install of the job's parts over what the folder holds, or the uninstall of what its
// record lists. No file of the folder is changed; backups of files rewritten in place are made
// in staging. A failure is published.
int PlanInstall(Placement* p);
int PlanRemoval(Placement* p);

// Writes the journal (flushed), then runs the steps. On a failure or a cancel before the commit
// point every step done is undone, the failure (or the cancel) published, and 0 returned. 1 once
// the commit point is passed: the backups are then deleted, the folders that became empty
// removed and the journal deleted.
int RunPlacement(Placement* p);
