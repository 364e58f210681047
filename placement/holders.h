// The programs holding a file open, as the Restart Manager names them.
#pragma once
#include <windows.h>

// Appends "（name、name）" with up to three programs that hold path (a plain path) to line
// (capacity units); nothing when the system names none.
void AppendHolderNames(const wchar_t* path, wchar_t* line, DWORD capacity);
