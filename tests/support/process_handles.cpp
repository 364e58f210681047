#include "support/process_handles.h"

#include <windows.h>
#include <winternl.h>

#include <vector>

namespace {

struct HandleEntry {
    ULONG ownerPid;
    BYTE objectType;
    BYTE flags;
    USHORT handle;
    PVOID object;
    ACCESS_MASK access;
};

struct HandleTable {
    ULONG count;
    HandleEntry entries[1];
};

}  // namespace

long CountProcessHandles()
{
    std::vector<BYTE> buffer(1 << 20);
    for (int attempt = 0; attempt < 8; ++attempt) {
        ULONG needed = 0;
        NTSTATUS status = NtQuerySystemInformation(static_cast<SYSTEM_INFORMATION_CLASS>(16), buffer.data(),
                                                   static_cast<ULONG>(buffer.size()), &needed);
        if (status == static_cast<NTSTATUS>(0xC0000004)) {  // STATUS_INFO_LENGTH_MISMATCH
            buffer.resize(buffer.size() * 2 > needed ? buffer.size() * 2 : needed + 4096);
            continue;
        }
        if (status != 0) return -1;
        auto* table = reinterpret_cast<HandleTable*>(buffer.data());
        DWORD pid = GetCurrentProcessId();
        long count = 0;
        for (ULONG i = 0; i < table->count; ++i) {
            if (table->entries[i].ownerPid == pid) ++count;
        }
        return count;
    }
    return -1;
}

long long BusyHeapBytes()
{
    HANDLE heaps[256];
    DWORD count = GetProcessHeaps(256, heaps);
    long long total = 0;
    for (DWORD i = 0; i < count && i < 256; ++i) {
        PROCESS_HEAP_ENTRY entry = {};
        HeapLock(heaps[i]);
        while (HeapWalk(heaps[i], &entry)) {
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) total += entry.cbData;
        }
        HeapUnlock(heaps[i]);
    }
    return total;
}

SIZE_T PrivateBytes()
{
    // Wine leaves PROCESS_MEMORY_COUNTERS_EX::PrivateUsage at 0, so the committed private
    // regions of the address space are added up instead.
    SIZE_T total = 0;
    MEMORY_BASIC_INFORMATION region;
    for (const BYTE* address = nullptr; VirtualQuery(address, &region, sizeof region) == sizeof region;
         address = static_cast<const BYTE*>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
        if (static_cast<const BYTE*>(region.BaseAddress) + region.RegionSize < address) break;
    }
    return total;
}
