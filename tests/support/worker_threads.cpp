#include "support/worker_threads.h"

#include <tlhelp32.h>
#include <winternl.h>

std::vector<HANDLE> WorkerThreads()
{
    using QueryThread = NTSTATUS(NTAPI*)(HANDLE, THREADINFOCLASS, PVOID, ULONG, PULONG);
    auto query = reinterpret_cast<QueryThread>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationThread")));
    HMODULE dll = GetModuleHandleW(L"qelfetch.dll");
    std::vector<HANDLE> threads;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE || query == nullptr || dll == nullptr) return threads;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != GetCurrentProcessId()) continue;
        HANDLE thread = OpenThread(SYNCHRONIZE | THREAD_QUERY_INFORMATION, FALSE, entry.th32ThreadID);
        if (thread == nullptr) continue;
        void* start = nullptr;
        MEMORY_BASIC_INFORMATION region = {};
        if (query(thread, ThreadQuerySetWin32StartAddress, &start, sizeof start, nullptr) == 0 &&
            VirtualQuery(start, &region, sizeof region) && region.AllocationBase == dll) {
            threads.push_back(thread);
        } else {
            CloseHandle(thread);
        }
    }
    CloseHandle(snapshot);
    return threads;
}

bool WaitForWorkers(DWORD timeoutMs)
{
    std::vector<HANDLE> threads = WorkerThreads();
    bool ended = true;
    for (HANDLE thread : threads) {
        if (WaitForSingleObject(thread, timeoutMs) != WAIT_OBJECT_0) ended = false;
        CloseHandle(thread);
    }
    return ended;
}
