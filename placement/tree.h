// Removing what the engine keeps in the install folder: the staging folder (the staged files,
// backups, the journal) and folders that became empty. Every entry is opened once, as itself
// (a link is removed as a link, never followed), and deleted through that handle.
#pragma once
#include <windows.h>

// Deletes path and everything below it. An entry that cannot be deleted (a program still runs
// from a backup) stays and is scheduled for deletion at the next restart where the process may
// do so. 1 when path is gone (or was not there).
int RemoveTree(const wchar_t* path);

// Deletes the folder at path when it is empty (and a folder, not a link). 1 when it was deleted.
int RemoveEmptyFolder(const wchar_t* path);
