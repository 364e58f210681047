// Observing a DLL's calls into the platform: replaces one entry of a loaded module's import
// address table with a recorder for the life of the object. The recorder calls the original
// (Original()) so the platform still does the work; the test only watches.
#pragma once
#include <windows.h>

class ImportPatch {
public:
    // module: the importing module (e.g. GetModuleHandleW(L"qelskin.dll")); dll: the imported
    // DLL's name as the import table spells it (compared without case); function: its name.
    ImportPatch(HMODULE module, const char* dll, const char* function, void* replacement);
    ~ImportPatch();
    ImportPatch(const ImportPatch&) = delete;
    ImportPatch& operator=(const ImportPatch&) = delete;

    bool Active() const { return slot_ != nullptr; }
    void* Original() const { return original_; }

    template <typename F>
    F OriginalAs() const { return reinterpret_cast<F>(original_); }

private:
    void** slot_ = nullptr;
    void* original_ = nullptr;
};

// The loaded qelskin.dll of the test process.
HMODULE SkinModule();
