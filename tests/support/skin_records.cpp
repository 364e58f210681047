#include "support/skin_records.h"

namespace {

struct Seen {
    std::set<HLOCAL> outstanding;
    size_t allocations = 0;
    decltype(&LocalAlloc) realAlloc = nullptr;
    decltype(&LocalFree) realFree = nullptr;
};
Seen seen;

HLOCAL WINAPI RecordAlloc(UINT flags, SIZE_T bytes)
{
    HLOCAL block = seen.realAlloc(flags, bytes);
    if (block != nullptr) {
        seen.outstanding.insert(block);
        ++seen.allocations;
    }
    return block;
}

HLOCAL WINAPI RecordFree(HLOCAL block)
{
    seen.outstanding.erase(block);
    return seen.realFree(block);
}

}  // namespace

RecordWatch::RecordWatch()
    : alloc_(SkinModule(), "kernel32.dll", "LocalAlloc", reinterpret_cast<void*>(RecordAlloc)),
      free_(SkinModule(), "kernel32.dll", "LocalFree", reinterpret_cast<void*>(RecordFree))
{
    seen.outstanding.clear();
    seen.allocations = 0;
    seen.realAlloc = alloc_.OriginalAs<decltype(&LocalAlloc)>();
    seen.realFree = free_.OriginalAs<decltype(&LocalFree)>();
}

RecordWatch::~RecordWatch() = default;

const std::set<HLOCAL>& RecordWatch::Outstanding() const
{
    return seen.outstanding;
}

size_t RecordWatch::Allocations() const
{
    return seen.allocations;
}
