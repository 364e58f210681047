// Watches qelskin.dll's LocalAlloc and LocalFree (its per-window records) through its import
// table: which blocks it allocated and has not freed yet.
#pragma once
#include <windows.h>

#include <set>

#include "support/import_patch.h"

class RecordWatch {
public:
    RecordWatch();
    ~RecordWatch();
    RecordWatch(const RecordWatch&) = delete;
    RecordWatch& operator=(const RecordWatch&) = delete;

    bool Active() const { return alloc_.Active() && free_.Active(); }
    const std::set<HLOCAL>& Outstanding() const;  // allocated and not yet freed
    size_t Allocations() const;                   // all allocations seen

private:
    ImportPatch alloc_;
    ImportPatch free_;
};
