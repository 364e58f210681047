// What this process holds: kernel handles, counted through the system handle table
// (NtQuerySystemInformation class 16), which Wine fills in (GetProcessHandleCount is a stub
// there), and heap in use.
#pragma once
#include <windows.h>

// -1 when the table cannot be read.
long CountProcessHandles();

// Bytes in busy blocks of all the process's heaps.
long long BusyHeapBytes();

// The process's committed private bytes, added up with VirtualQuery (GetProcessMemoryInfo leaves
// PrivateUsage at 0 in Wine).
SIZE_T PrivateBytes();
