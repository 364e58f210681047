// A release part's manifest (qelfetch's format), read for what placing needs: every entry's
// name, size and digest. The names are checked here, against the part's own names and those of
// every part added before, before anything is delivered.
#pragma once
#include <windows.h>

#include "placement/job.h"

enum class PartRefusal {
    None,
    Manifest,   // the manifest is missing or breaks a rule
    Unsafe,     // a name is not a plain path inside the install folder
    Duplicate,  // two names are the same without regard to case
    Nested,     // a name is also the folder of another name
    Memory,
};

// Reads the manifest at path (absolute) into new entries of part (which the caller then counts
// as added) and checks every name against all entries. On a refusal the new entries are taken
// off again and *offender names the name (in the job's name pool, MAXDWORD for none).
PartRefusal AddManifestEntries(PlaceJob* job, DWORD part, const wchar_t* path, DWORD* offender);

// The first pair of entries that the file system would take for one file, or where one is the
// folder of the other. MAXDWORD when the names are clear; memory failure reports entry 0.
PartRefusal FindNameClash(PlaceJob* job, DWORD* offender);
