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

// Runs on a thread-pool thread. The pool calls FreeLibrary only after this callback has
// returned, so this thread never returns into code that the release unmapped.
void CALLBACK ReleaseWhenReturned(PTP_CALLBACK_INSTANCE instance, void* module)
{
    FreeLibraryWhenCallbackReturns(instance, static_cast<HMODULE>(module));
}

// Gives back references from the end of a subclass procedure. FreeLibrary on this thread could
// drop the last reference and unmap the code it would have to return through. The thread pool
// drops them instead, each after its callback has returned; all this thread has left to run in
// the module then is the return path of the procedure, while the unload cannot begin before the
// pool has woken a thread, run the callback and taken the loader lock. When the pool cannot take
// the work the reference is kept: the library stays loaded, which is safe, instead of being
// unloaded under running code.
void ReleaseLater(LONG count)
{
    HMODULE module = ThisModule();
    if (module == nullptr) return;
    for (LONG i = 0; i < count; ++i) TrySubmitThreadpoolCallback(ReleaseWhenReturned, module, nullptr);
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
