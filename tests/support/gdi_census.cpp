#include "support/gdi_census.h"

#include <windows.h>
#include <winternl.h>

#include <cstddef>

namespace {

// One entry of Wine's shared GDI handle table (the same layout in 32- and 64-bit processes).
struct WineGdiHandleEntry {
    UINT64 object;
    ULONG owner;
    USHORT unique;
    UCHAR type;  // 0: free
    UCHAR flags;
    UINT64 userPointer;
};
static_assert(sizeof(WineGdiHandleEntry) == 24, "Wine's GDI_HANDLE_ENTRY is 24 bytes");

constexpr size_t kTableEntries = 0x10000;
#ifdef _WIN64
constexpr size_t kPebGdiTableOffset = 0xF8;  // GdiSharedHandleTable in a 64-bit PEB
#else
constexpr size_t kPebGdiTableOffset = 0x94;  // GdiSharedHandleTable in a 32-bit PEB
#endif

bool RunningUnderWine()
{
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

const WineGdiHandleEntry* WineTable()
{
    if (!RunningUnderWine()) return nullptr;
    PROCESS_BASIC_INFORMATION basic = {};
    if (NtQueryInformationProcess(GetCurrentProcess(), ProcessBasicInformation, &basic,
                                  sizeof basic, nullptr) != 0) {
        return nullptr;
    }
    const BYTE* peb = reinterpret_cast<const BYTE*>(basic.PebBaseAddress);
    return *reinterpret_cast<WineGdiHandleEntry* const*>(peb + kPebGdiTableOffset);
}

// table null: GetGuiResources.
long Count(const WineGdiHandleEntry* table)
{
    if (table == nullptr) return static_cast<long>(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS));
    long live = 0;
    for (size_t i = 0; i < kTableEntries; ++i) {
        if (table[i].type != 0) ++live;
    }
    return live;
}

}  // namespace

long LiveGdiObjects()
{
    const WineGdiHandleEntry* table = nullptr;
    if (GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS) == 0) {
        table = WineTable();
        if (table == nullptr) return -1;
    }
    const long before = Count(table);
    HPEN pen = CreatePen(PS_SOLID, 1, 0);
    const long with = Count(table);
    DeleteObject(pen);
    const long after = Count(table);
    if (with != before + 1 || after != before) return -1;
    return after;
}
