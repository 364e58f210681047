// Owner type for WinHTTP handles (session, connection, request).
#pragma once
#include <windows.h>
#include <winhttp.h>

#include "runtime/owner.h"

struct WinHttpHandleTraits {
    using Type = HINTERNET;
    static Type None() { return nullptr; }
    static void Close(Type h) { WinHttpCloseHandle(h); }
};
using UniqueInternet = Unique<WinHttpHandleTraits>;
