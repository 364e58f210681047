#include "placement/names.h"
#include "placement/paths.h"
#include "placement/plan.h"
#include "placement/tree.h"

namespace {

struct FolderList {
    StringPool names;   // as the plan has them
    StringPool folded;  // the same, folded
    HeapArray<DWORD> name;
    HeapArray<DWORD> fold;
    HeapArray<DWORD> length;
};

// Deeper (longer) paths first; equal folded paths next to each other.
bool DeeperFirst(void* context, DWORD a, DWORD b)
{
    auto* list = static_cast<FolderList*>(context);
    if (list->length[a] != list->length[b]) return list->length[a] > list->length[b];
    return CompareFolded(list->folded.At(list->fold[a]), list->folded.At(list->fold[b])) < 0;
}

}  // namespace

void RemoveEmptiedFolders(const Plan* plan, const wchar_t* installDir)
{
    FolderList list = {};
    HeapArray<DWORD> order = {};
    bool ok = true;
    for (DWORD i = 0; i < plan->steps.count && ok; ++i) {
        const Step& s = plan->steps[i];
        if (s.kind != StepAside || (s.flags & StepRemovedEntry) == 0) continue;
        const wchar_t* name = plan->paths.At(s.path);
        DWORD length = TextLength(name);
        wchar_t folded[PathCapacity];
        if (length >= PathCapacity || !FoldName(name, length, folded)) continue;
        for (DWORD k = length; k-- > 0 && ok;) {
            if (name[k] != L'\\') continue;
            DWORD n = list.names.Add(name, k);
            DWORD f = list.folded.Add(folded, k);
            ok = n != MAXDWORD && f != MAXDWORD && list.name.Push(n) && list.fold.Push(f) && list.length.Push(k);
        }
    }
    DWORD count = list.name.count;
    if (ok && count > 0 && order.Append(count) != nullptr) {
        for (DWORD i = 0; i < count; ++i) order[i] = i;
        SortIndices(order.data, count, DeeperFirst, &list);
        for (DWORD i = 0; i < count; ++i) {
            DWORD at = order[i];
            if (i > 0 && list.length[order[i - 1]] == list.length[at] &&
                CompareFolded(list.folded.At(list.fold[order[i - 1]]), list.folded.At(list.fold[at])) == 0) {
                continue;  // the same folder again
            }
            wchar_t path[PathCapacity];
            if (JoinPath(path, installDir, list.names.At(list.name[at]))) RemoveEmptyFolder(path);
        }
    }
    order.Free();
    list.names.Free();
    list.folded.Free();
    list.name.Free();
    list.fold.Free();
    list.length.Free();
}
