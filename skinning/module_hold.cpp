#include "skinning/module_hold.h"

namespace {

// Subclass procedures running now (low 16 bits) and module references waiting for them to end
// (high 16 bits), changed together with one interlocked exchange so that the last procedure to
// end takes exactly the references given back while it ran. A process has far fewer windows
// than either half can count.
volatile LONG activity = 0;
constexpr LONG kOneCall = 1;
constexpr LONG kOneRelease = 0x10000;
constexpr LONG kCalls = 0xFFFF;

// A reference to the module this code lives in, or null.
HMODULE ReferenceThisModule()
{
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&ReferenceThisModule), &module)) {
        return nullptr;
    }
    return module;
}

// This module's handle without a reference of its own.
HMODULE ThisModule()
{
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&ReferenceThisModule), &module)) {
        return nullptr;
    }
    return module;
}

// One batch of module references given back at the end of a subclass procedure.
struct Release {
    HMODULE module;
    LONG count;               // references to give back, at least 1
    volatile LONG handedOver; // 1 once the submitting thread's call to the pool has returned
};

// Runs on a thread-pool thread. The pool calls FreeLibrary only after this callback has
// returned, so this thread never returns into code that the release unmapped. The batch's last
// reference may be the module's last, and the thread that submitted the batch is in this
// module until its call to the pool has returned and it has run the few instructions back out
// of the subclass procedure: the callback waits for that call to return and yields once more
// before it lets go, so that the unload does not overtake that thread.
void CALLBACK ReleaseWhenReturned(PTP_CALLBACK_INSTANCE instance, void* context)
{
    auto* release = static_cast<Release*>(context);
    while (InterlockedCompareExchange(&release->handedOver, 0, 0) == 0) SwitchToThread();
    SwitchToThread();
    const HMODULE module = release->module;
    // This callback holds one of the batch's references until it returns: none of these is the
    // module's last.
    for (LONG i = 1; i < release->count; ++i) FreeLibrary(module);
    HeapFree(GetProcessHeap(), 0, release);
    FreeLibraryWhenCallbackReturns(instance, module);
}

// Gives back references from the end of a subclass procedure. FreeLibrary on this thread could
// drop the last reference and unmap the code it would have to return through. The thread pool
// drops them instead, after the callback has returned. When the pool cannot take the work (or
// the batch cannot be recorded) the references are kept: the library stays loaded, which is
// safe, instead of being unloaded under running code.
void ReleaseLater(LONG count)
{
    HMODULE module = ThisModule();
    if (module == nullptr || count <= 0) return;
    // From the process heap: the module's LocalAlloc blocks are its windows' records.
    auto* release = static_cast<Release*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(Release)));
    if (release == nullptr) return;
    release->module = module;
    release->count = count;
    if (!TrySubmitThreadpoolCallback(ReleaseWhenReturned, release, nullptr)) {
        HeapFree(GetProcessHeap(), 0, release);
        return;
    }
    // From here on the callback owns the record and may free it at once.
    InterlockedExchange(&release->handedOver, 1);
}

}  // namespace

SubclassCall::SubclassCall()
{
    InterlockedExchangeAdd(&activity, kOneCall);
}

SubclassCall::~SubclassCall()
{
    for (;;) {
        const LONG seen = activity;
        const bool last = (seen & kCalls) == kOneCall;
        const LONG next = last ? 0 : seen - kOneCall;
        if (InterlockedCompareExchange(&activity, next, seen) != seen) continue;
        if (last && seen >= kOneRelease) ReleaseLater(seen / kOneRelease);
        return;
    }
}

int InstallSubclass(HWND window, SUBCLASSPROC proc, DWORD_PTR data)
{
    DWORD_PTR existing = 0;
    if (GetWindowSubclass(window, proc, 1, &existing)) {
        return SetWindowSubclass(window, proc, 1, data) ? 1 : 0;
    }
    HMODULE module = ReferenceThisModule();
    if (module == nullptr) return 0;
    if (!SetWindowSubclass(window, proc, 1, data)) {
        // The host called into this module and holds its own reference until the call returns,
        // so this release is never the last one and can be made at once.
        FreeLibrary(module);
        return 0;
    }
    return 1;
}

int UninstallSubclass(HWND window, SUBCLASSPROC proc)
{
    if (!RemoveWindowSubclass(window, proc, 1)) return 0;
    // Called from an export: the host's own reference keeps this release from being the last.
    HMODULE module = ThisModule();
    if (module != nullptr) FreeLibrary(module);
    return 1;
}

LRESULT FinishSubclass(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = DefSubclassProc(window, message, wParam, lParam);
    // Always inside a subclass procedure, whose SubclassCall is still counted: the reference
    // waits for the outermost procedure to end.
    InterlockedExchangeAdd(&activity, kOneRelease);
    return result;
}
