// Watches qelskin.dll's SetWindowSubclass and RemoveWindowSubclass through its import table:
// which subclasses it installed on which windows, and which it took off again.
#pragma once
#include <windows.h>

#include <commctrl.h>

#include <vector>

#include "support/import_patch.h"

struct SubclassCall {
    HWND window;
    SUBCLASSPROC proc;
    UINT_PTR id;
    DWORD_PTR data;
};

class SubclassWatch {
public:
    SubclassWatch();
    SubclassWatch(const SubclassWatch&) = delete;
    SubclassWatch& operator=(const SubclassWatch&) = delete;

    bool Active() const { return set_.Active() && remove_.Active(); }
    const std::vector<SubclassCall>& Installed() const;  // successful installs, in order
    const std::vector<SubclassCall>& Removed() const;    // removals (data unused)
    // Installs on window, in order.
    std::vector<SubclassCall> InstalledOn(HWND window) const;
    // Whether every subclass installed on window was also removed from it.
    bool AllRemovedFrom(HWND window) const;

private:
    ImportPatch set_;
    ImportPatch remove_;
};
