// Finding a running NSIS installer's main window from another process: a visible top-level
// dialog with buttons 1, 2 and 3 and a page (a child dialog). With NSIS_PILOT_EXE set to the
// installer's full Windows path, only that program's window is taken.
#pragma once
#include <windows.h>

HWND FindInstaller();

// The page shown in the installer's main window, or null.
HWND InstallerPage(HWND main);

// The name of the page shown: "failure" (the close button 0x7111), "progress", "directory",
// "custom" or "none".
const char* InstallerPageKind(HWND main);
