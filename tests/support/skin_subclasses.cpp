#include "support/skin_subclasses.h"

#include <algorithm>

namespace {

struct Seen {
    std::vector<SubclassCall> installed;
    std::vector<SubclassCall> removed;
    decltype(&SetWindowSubclass) realSet = nullptr;
    decltype(&RemoveWindowSubclass) realRemove = nullptr;
};
Seen seen;

BOOL WINAPI RecordSet(HWND window, SUBCLASSPROC proc, UINT_PTR id, DWORD_PTR data)
{
    BOOL done = seen.realSet(window, proc, id, data);
    if (done) seen.installed.push_back({window, proc, id, data});
    return done;
}

BOOL WINAPI RecordRemove(HWND window, SUBCLASSPROC proc, UINT_PTR id)
{
    seen.removed.push_back({window, proc, id, 0});
    return seen.realRemove(window, proc, id);
}

}  // namespace

SubclassWatch::SubclassWatch()
    : set_(SkinModule(), "comctl32.dll", "SetWindowSubclass", reinterpret_cast<void*>(RecordSet)),
      remove_(SkinModule(), "comctl32.dll", "RemoveWindowSubclass",
              reinterpret_cast<void*>(RecordRemove))
{
    seen.installed.clear();
    seen.removed.clear();
    seen.realSet = set_.OriginalAs<decltype(&SetWindowSubclass)>();
    seen.realRemove = remove_.OriginalAs<decltype(&RemoveWindowSubclass)>();
}

const std::vector<SubclassCall>& SubclassWatch::Installed() const
{
    return seen.installed;
}

const std::vector<SubclassCall>& SubclassWatch::Removed() const
{
    return seen.removed;
}

std::vector<SubclassCall> SubclassWatch::InstalledOn(HWND window) const
{
    std::vector<SubclassCall> on;
    for (const SubclassCall& call : seen.installed) {
        if (call.window == window) on.push_back(call);
    }
    return on;
}

bool SubclassWatch::AllRemovedFrom(HWND window) const
{
    for (const SubclassCall& call : seen.installed) {
        if (call.window != window) continue;
        const bool removed =
            std::any_of(seen.removed.begin(), seen.removed.end(), [&](const SubclassCall& r) {
                return r.window == window && r.proc == call.proc && r.id == call.id;
            });
        if (!removed) return false;
    }
    return true;
}
