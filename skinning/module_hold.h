// Keeping qelskin.dll loaded while any window carries one of its subclasses. A host may unload
// the library right after its last call (NSIS does with "?u"); every styled window would then
// call into unmapped code at its next message. So each installed subclass holds one reference
// to this module, taken when the subclass is installed and given back after it has removed
// itself on WM_NCDESTROY.
#pragma once
#include <windows.h>

#include <commctrl.h>

// Installs proc on window under subclass id 1 with data. When the subclass is not there yet, a
// module reference is taken for it first (and given back if the install fails); installing an
// existing subclass again only replaces its data. 1 or 0.
int InstallSubclass(HWND window, SUBCLASSPROC proc, DWORD_PTR data);

// Takes proc off window again during an export call, with its module reference. 1 or 0.
int UninstallSubclass(HWND window, SUBCLASSPROC proc);

// The end of a subclass procedure's WM_NCDESTROY, after it has removed itself and freed its
// record: passes the message on and gives the subclass's module reference back once no
// subclass procedure of this module is running any more. Its result is the procedure's result.
LRESULT FinishSubclass(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Declared first in every subclass procedure. A host may destroy a window from inside a
// message that passes through one of these procedures (a dialog procedure that destroys the
// dialog on WM_COMMAND): the window's reference must then not be dropped before that outer
// procedure has returned. References given back while any procedure runs are held until the
// outermost one ends.
class SubclassCall {
public:
    SubclassCall();
    ~SubclassCall();
    SubclassCall(const SubclassCall&) = delete;
    SubclassCall& operator=(const SubclassCall&) = delete;
};
