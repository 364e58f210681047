#include "placement/names.h"

#include "placement/job.h"

namespace {

wchar_t Upper(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - 32) : c; }

// Equal without regard to ASCII case (device names are ASCII, apart from the superscripts).
bool SameAscii(const wchar_t* a, DWORD length, const wchar_t* b)
{
    DWORD i = 0;
    for (; i < length; ++i) {
        if (b[i] == 0 || Upper(a[i]) != b[i]) return false;
    }
    return b[i] == 0;
}

// The part of a component before its first dot, trailing spaces dropped, is what the system
// compares with device names ("nul.txt", "COM1 .log").
bool IsDeviceName(const wchar_t* component, DWORD length)
{
    DWORD stem = 0;
    while (stem < length && component[stem] != L'.') ++stem;
    while (stem > 0 && component[stem - 1] == L' ') --stem;
    static const wchar_t* const fixed[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$", L"CLOCK$"};
    for (const wchar_t* device : fixed) {
        if (SameAscii(component, stem, device)) return true;
    }
    if (stem == 4 && (SameAscii(component, 3, L"COM") || SameAscii(component, 3, L"LPT"))) {
        wchar_t digit = component[3];
        // ¹ ² ³ count as digits to the system.
        return (digit >= L'0' && digit <= L'9') || digit == 0x00B9 || digit == 0x00B2 || digit == 0x00B3;
    }
    return false;
}

bool BadCharacter(wchar_t c)
{
    return c < 0x20 || c == L':' || c == L'<' || c == L'>' || c == L'"' || c == L'|' || c == L'?' || c == L'*';
}

// The engine's own names at the top of the install folder: ".qel-" and anything after it
// (staging, the lock), and the record.
bool ReservedTopName(const wchar_t* component, DWORD length, bool last)
{
    if (length >= 5 && SameAscii(component, 5, L".QEL-")) return true;
    return last && SameAscii(component, length, L"QEL-INSTALL.INI");
}

void SiftDown(DWORD* a, DWORD root, DWORD end, bool (*before)(void*, DWORD, DWORD), void* context)
{
    for (;;) {
        DWORD child = 2 * root + 1;
        if (child >= end) return;
        if (child + 1 < end && before(context, a[child], a[child + 1])) ++child;
        if (!before(context, a[root], a[child])) return;
        DWORD t = a[root];
        a[root] = a[child];
        a[child] = t;
        root = child;
    }
}

}  // namespace

int NormalizeName(const wchar_t* name, wchar_t* out, DWORD* outLength)
{
    DWORD length = 0;
    while (name[length] != 0) {
        if (++length > NameCapacity - 2) return 0;
    }
    if (length == 0) return 0;
    DWORD start = 0;
    bool top = true;
    for (DWORD i = 0; i <= length; ++i) {
        wchar_t c = i < length ? name[i] : 0;
        bool separator = c == L'\\' || c == L'/' || c == 0;
        if (!separator) {
            if (BadCharacter(c)) return 0;
            out[i] = c;
            continue;
        }
        DWORD size = i - start;
        const wchar_t* component = name + start;
        if (size == 0) return 0;  // leading separator, "a\\b" or a trailing separator
        if (component[0] == L' ' || component[size - 1] == L'.' || component[size - 1] == L' ') return 0;
        if (IsDeviceName(component, size)) return 0;
        if (top && ReservedTopName(component, size, c == 0)) return 0;
        top = false;
        out[i] = c == 0 ? 0 : L'\\';
        start = i + 1;
    }
    *outLength = length;
    return 1;
}

int FoldName(const wchar_t* name, DWORD length, wchar_t* out)
{
    if (length == 0) {
        out[0] = 0;
        return 1;
    }
    int made = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, name, static_cast<int>(length), out,
                             static_cast<int>(length), nullptr, nullptr, 0);
    if (made != static_cast<int>(length)) return 0;
    out[length] = 0;
    return 1;
}

int CompareFolded(const wchar_t* a, const wchar_t* b)
{
    while (*a != 0 && *a == *b) {
        ++a;
        ++b;
    }
    return *a < *b ? -1 : (*a > *b ? 1 : 0);
}

void SortIndices(DWORD* a, DWORD count, bool (*before)(void*, DWORD, DWORD), void* context)
{
    if (count < 2) return;
    for (DWORD root = count / 2; root-- > 0;) SiftDown(a, root, count, before, context);
    for (DWORD end = count - 1; end > 0; --end) {
        DWORD t = a[0];
        a[0] = a[end];
        a[end] = t;
        SiftDown(a, 0, end, before, context);
    }
}
