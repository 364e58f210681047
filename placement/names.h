// Names of installed files: what a release (or an install record) may name inside the install
// folder, and comparisons without regard to case, as the file system makes them.
#pragma once
#include <windows.h>

// Checks name and writes it with '\' separators ('/' is taken as '\') to out (NameCapacity
// units). 0 when it is not a plain relative path: empty or over 240 units, a drive or any ':',
// a leading separator, an empty, "." or ".." component, a component that starts with a space
// or ends in a dot or a space, a device name (CON, PRN, AUX, NUL, COM0-9, LPT0-9 and their
// superscript forms, CONIN$, CONOUT$, CLOCK$, also with an extension), one of < > " | ? *, a
// control character; or one of the names the engine keeps for itself at the top of the folder
// (anything starting with ".qel-", and qel-install.ini).
int NormalizeName(const wchar_t* name, wchar_t* out, DWORD* outLength);

// The name in capitals (one unit for one unit), so that two names the file system takes for
// the same compare equal unit by unit.
int FoldName(const wchar_t* name, DWORD length, wchar_t* out);

// Unit-by-unit order of two folded names.
int CompareFolded(const wchar_t* a, const wchar_t* b);

// Sorts indices 0..count-1 by before(context, a, b) (heap sort: no memory, n log n).
void SortIndices(DWORD* indices, DWORD count, bool (*before)(void* context, DWORD a, DWORD b), void* context);
