#include "placement/fetch_library.h"

#include "delivery/wstr.h"
#include "placement/paths.h"

namespace {

template <typename T>
bool Find(HMODULE module, const char* name, T* out)
{
    FARPROC found = GetProcAddress(module, name);
    *out = reinterpret_cast<T>(reinterpret_cast<void*>(found));
    return found != nullptr;
}

}  // namespace

int LoadFetchLibrary(HMODULE self, FetchLibrary* out, DWORD* code)
{
    *out = FetchLibrary{};
    wchar_t path[PathCapacity];
    DWORD length = GetModuleFileNameW(self, path, PathCapacity);
    if (length == 0 || length >= PathCapacity) {
        *code = length == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE;
        return 0;
    }
    DWORD cut = 0;
    for (DWORD i = 0; i < length; ++i) {
        if (path[i] == L'\\' || path[i] == L'/') cut = i + 1;
    }
    path[cut] = 0;
    if (WStrAppend(path, PathCapacity, L"qelfetch.dll") < 0) {
        *code = ERROR_FILENAME_EXCED_RANGE;
        return 0;
    }
    HMODULE module = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == nullptr) {
        *code = GetLastError();
        return 0;
    }
    if (!Find(module, "PayloadStart", &out->start) || !Find(module, "PayloadPoll", &out->poll) ||
        !Find(module, "PayloadCancel", &out->cancel) || !Find(module, "PayloadClose", &out->close)) {
        *code = ERROR_PROC_NOT_FOUND;
        FreeLibrary(module);
        *out = FetchLibrary{};
        return 0;
    }
    out->module = module;
    return 1;
}

void FreeFetchLibrary(FetchLibrary* library)
{
    if (library->module != nullptr) FreeLibrary(library->module);
    *library = FetchLibrary{};
}
