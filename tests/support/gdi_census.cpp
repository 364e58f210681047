#include "support/gdi_census.h"

#include <windows.h>

namespace {

// One entry of Wine's GDI handle table.
struct GdiHandleEntry {
    UINT64 object;
    ULONG owner;
    USHORT unique;
    UCHAR type;
    UCHAR flags;
    UINT64 userPointer;
};
static_assert(sizeof(GdiHandleEntry) == 24);

constexpr size_t kTableEntries = 0x10000;
constexpr size_t kPebGdiTableOffset = 0x94;  // 32-bit PEB

long CountEntries()
{
    BYTE* peb = nullptr;
    __asm__("movl %%fs:0x30, %0" : "=r"(peb));  // the 32-bit PEB
    auto* table = *reinterpret_cast<GdiHandleEntry**>(peb + kPebGdiTableOffset);
    if (table == nullptr) return -1;
    long live = 0;
    for (size_t i = 0; i < kTableEntries; ++i) {
        if (table[i].type != 0) ++live;
    }
    return live;
}

}  // namespace

long LiveGdiObjects()
{
    const long before = CountEntries();
    if (before < 0) return -1;
    HPEN pen = CreatePen(PS_SOLID, 1, 0);
    const long with = CountEntries();
    DeleteObject(pen);
    const long after = CountEntries();
    if (with != before + 1 || after != before) return -1;
    return after;
}
