// The job's worker thread: prepares the folder, waits in the open phase for parts and the
// commit, places (or removes), and gives the folder back when the job is closed.
#pragma once
#include <windows.h>

DWORD WINAPI PlaceWorker(void* job);
