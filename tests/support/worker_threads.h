// The worker threads of qelfetch.dll in this process. A job whose poll shows a terminal phase
// may still be running its last step (a failure there can still turn into the cancelled phase);
// tests that need the job truly ended wait for its worker.
#pragma once
#include <windows.h>

#include <vector>

// Threads of this process that started inside qelfetch.dll, opened for waiting (the caller
// closes the handles).
std::vector<HANDLE> WorkerThreads();

// Waits until no thread started inside qelfetch.dll is left running. False on time-out.
bool WaitForWorkers(DWORD timeoutMs = 10000);
