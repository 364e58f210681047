#include "placement/paths.h"

#include "delivery/wstr.h"

DWORD TextLength(const wchar_t* text)
{
    DWORD length = 0;
    while (text[length] != 0) ++length;
    return length;
}

bool TextStartsWith(const wchar_t* text, const wchar_t* prefix)
{
    while (*prefix != 0) {
        if (*text++ != *prefix++) return false;
    }
    return true;
}

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Drops separators at the end, but keeps the one after a drive ("\\?\C:\").
void TrimSeparators(wchar_t* path)
{
    DWORD length = TextLength(path);
    while (length > 0 && IsSeparator(path[length - 1])) {
        if (length >= 2 && path[length - 2] == L':') break;
        path[--length] = 0;
    }
}

}  // namespace

int LongAbsolutePath(const wchar_t* path, DWORD limit, wchar_t* out)
{
    DWORD length = 0;
    for (; path[length] != 0; ++length) {
        if (path[length] < 0x20 || length >= PathCapacity) return 0;
    }
    if (length == 0 || TextStartsWith(path, L"\\\\.\\") || TextStartsWith(path, L"\\??\\")) return 0;

    wchar_t full[PathCapacity];
    if (TextStartsWith(path, L"\\\\?\\")) {
        // Already in the long form: taken as it stands, as the platform does.
        if (WStrCopy(full, path) < 0) return 0;
    } else {
        DWORD made = GetFullPathNameW(path, PathCapacity, full, nullptr);
        if (made == 0 || made >= PathCapacity) return 0;
    }
    TrimSeparators(full);

    out[0] = 0;
    if (TextStartsWith(full, L"\\\\?\\")) {
        if (WStrCopy(out, PathCapacity, full) < 0) return 0;
    } else if (TextStartsWith(full, L"\\\\")) {
        if (WStrCopy(out, PathCapacity, L"\\\\?\\UNC\\") < 0 || WStrAppend(out, PathCapacity, full + 2) < 0) return 0;
    } else if (full[0] != 0 && full[1] == L':') {
        if (WStrCopy(out, PathCapacity, L"\\\\?\\") < 0 || WStrAppend(out, PathCapacity, full) < 0) return 0;
    } else {
        return 0;
    }
    // The limit counts the plain form, the one the host gave and reads.
    wchar_t scratch[PathCapacity];
    return TextLength(DisplayPath(out, scratch)) <= limit ? 1 : 0;
}

int JoinPath(wchar_t* out, const wchar_t* base, const wchar_t* relative, DWORD relativeLength)
{
    DWORD baseLength = TextLength(base);
    bool separator = relativeLength > 0 && baseLength > 0 && base[baseLength - 1] != L'\\';
    if (baseLength + (separator ? 1 : 0) + relativeLength + 1 > PathCapacity) return 0;
    DWORD at = 0;
    // base may be out itself.
    if (out != base) {
        for (; at < baseLength; ++at) out[at] = base[at];
    }
    at = baseLength;
    if (separator) out[at++] = L'\\';
    for (DWORD i = 0; i < relativeLength; ++i) out[at++] = relative[i];
    out[at] = 0;
    return 1;
}

int JoinPath(wchar_t* out, const wchar_t* base, const wchar_t* relative)
{
    return JoinPath(out, base, relative, TextLength(relative));
}

const wchar_t* DisplayPath(const wchar_t* longPath, wchar_t* scratch)
{
    if (TextStartsWith(longPath, L"\\\\?\\UNC\\")) {
        scratch[0] = L'\\';
        WStrCopy(scratch + 1, PathCapacity - 1, longPath + 7);
        return scratch;
    }
    if (TextStartsWith(longPath, L"\\\\?\\")) return longPath + 4;
    return longPath;
}

int ParentPath(const wchar_t* path, wchar_t* out)
{
    DWORD length = TextLength(path);
    DWORD cut = length;
    while (cut > 0 && path[cut - 1] != L'\\') --cut;
    if (cut <= 1) return 0;
    DWORD end = cut - 1;  // the separator
    // "\\?\C:\x" -> "\\?\C:\" (a drive's root keeps its separator).
    if (end >= 1 && path[end - 1] == L':') ++end;
    if (end >= length) return 0;
    for (DWORD i = 0; i < end; ++i) out[i] = path[i];
    out[end] = 0;
    return 1;
}
