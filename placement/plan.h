// A placement as a list of steps, each undoable and each checked by identity: what the journal
// holds, what placing runs forward, and what a rollback or the next run's recovery runs back.
//
// Steps run in list order: files moved aside (into staging's backup folder, or beside
// themselves as the user's copy), folders made, files moved in or rewritten in place, the old
// record aside, the new record in. Moving the new record in is the commit point; after it the
// backups are deleted and the folders that became empty removed.
#pragma once
#include <windows.h>

#include "placement/file_key.h"
#include "placement/heap_array.h"

enum StepKind : BYTE {
    StepAside = 1,      // the file at path (key) goes to away
    StepMakeDir = 2,    // the folder path is made
    StepMoveIn = 3,     // the file at away (key) comes to path
    StepOverwrite = 4,  // the file at path (key: the object) gets away's bytes (awayKey); its old
                        // bytes were copied to spare (spareKey) first
};

enum StepFlags : BYTE {
    StepAwayAbsolute = 0x01,  // away is an absolute path (a host's work directory), not one in the folder
    StepKeepAway = 0x02,      // what went to away stays after the commit (the user's copy)
    StepRemovedEntry = 0x04,  // a file the new release no longer has: its folders may become empty
    StepCommit = 0x08,        // the commit point: the record moved in (install) or aside (uninstall)
};

struct Step {
    BYTE kind;
    BYTE flags;
    DWORD path;   // offsets in Plan::paths; paths relative to the install folder
    DWORD away;
    DWORD spare;  // MAXDWORD when unused
    FileKey key;
    FileKey awayKey;
    FileKey spareKey;
    // While placing runs (not journaled):
    HANDLE handle;     // the file the step moves or rewrites, opened once while planning
    HANDLE awayHandle; // Overwrite: the staged file read from
    HANDLE spareHandle;
    LONG done;
};

struct Plan {
    LONG removal;            // an uninstall
    HeapArray<Step> steps;
    StringPool paths;
};

// Adds a path to the plan's pool; MAXDWORD when memory ran out.
DWORD PlanPath(Plan* plan, const wchar_t* path, DWORD length);

// The absolute path of a plan path: relative ones against the install folder.
int StepPath(const Plan* plan, const wchar_t* installDir, DWORD path, bool absolute, wchar_t* out /* PathCapacity */);

// Closes every handle the steps hold and frees the plan.
void FreePlan(Plan* plan);

// Removes the folders that the plan's removed files leave empty, deepest first, up to (not
// including) the install folder.
void RemoveEmptiedFolders(const Plan* plan, const wchar_t* installDir);

// The journal: the plan written before the first step runs, flushed, so that the next run can
// finish what a killed one began. A journal that is not complete (its check sum fails) was cut
// by a kill while it was written, before any step ran.
constexpr wchar_t JournalName[] = L"journal";
int SerializePlan(const Plan* plan, HeapArray<BYTE>* out);
int ParsePlan(const BYTE* bytes, DWORD count, Plan* out);
