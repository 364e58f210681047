// The request's status callback as WinHTTP sees it, and the module reference that covers it.
//
// WinHTTP calls the callback on its own threads. The worker waits for the request's closing
// notification (the last call WinHTTP makes into it) before it goes on, but the thread that
// delivers that notification still has to return through this DLL after it has signalled the
// worker, and a host may unload the DLL right after PayloadClose. So the installed callback owns
// a reference to this DLL (HttpWait::module), and the closing notification drops it on its way
// out without returning into this DLL: HttpCallbackEntry does the closing work, then jumps into
// FreeLibrary with the callback's own arguments taken off and its caller's return address in
// place, so FreeLibrary returns straight to WinHTTP. Safe by construction, the way
// FreeLibraryAndExitThread is for a thread.
#pragma once
#include <windows.h>
#include <winhttp.h>

#include "delivery/http_wait.h"

// Installed with WinHttpSetStatusCallback. Every notification but the closing one goes to
// HttpStatusCallback; the closing one sets closedEvent and releases wait->module.
extern "C" void CALLBACK HttpCallbackEntry(HINTERNET request, DWORD_PTR context, DWORD notification,
                                           void* information, DWORD informationLength);

// The closing work: reads the reference to drop, then wakes the worker (after which the wait
// record may be gone). Returns the module to release, or null.
extern "C" HMODULE WINAPI HttpClosingNotified(DWORD_PTR context);
