#include "delivery/wstr.h"

namespace {

// Copies src to dest with at least one unit of room; on running out of room the last unit
// stored becomes the terminator.
HRESULT CopyStep(wchar_t* dest, DWORD room, const wchar_t* src)
{
    while (room > 0 && *src != 0) {
        *dest++ = *src++;
        --room;
    }
    if (room == 0) {
        dest[-1] = 0;
        return TextCut;
    }
    *dest = 0;
    return S_OK;
}

bool BadCapacity(DWORD capacity) { return capacity == 0 || capacity > MaxCapacity; }

}  // namespace

HRESULT WStrCopy(wchar_t* dest, DWORD capacity, const wchar_t* src)
{
    if (BadCapacity(capacity)) {
        if (capacity != 0) dest[0] = 0;
        return TextBadArg;
    }
    return CopyStep(dest, capacity, src);
}

HRESULT WStrAppend(wchar_t* dest, DWORD capacity, const wchar_t* src)
{
    if (BadCapacity(capacity)) return TextBadArg;
    DWORD length = 0;
    while (length < capacity && dest[length] != 0) ++length;
    if (length == capacity) return TextBadArg;
    return CopyStep(dest + length, capacity - length, src);
}

HRESULT AppendDecimal(wchar_t* dest, DWORD capacity, DWORD value, DWORD minDigits)
{
    wchar_t reversed[10];
    DWORD count = 0;
    do {
        reversed[count++] = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count < minDigits && count < 10) reversed[count++] = L'0';

    wchar_t digits[11];
    for (DWORD i = 0; i < count; ++i) digits[i] = reversed[count - 1 - i];
    digits[count] = 0;
    return WStrAppend(dest, capacity, digits);
}

HRESULT AppendMegabytes(wchar_t* dest, DWORD capacity, ULONGLONG bytes)
{
    // Counts here never exceed 2,000,000,000, so 32-bit arithmetic on the low half suffices.
    DWORD hundredths = (static_cast<DWORD>(bytes) + 5000) / 10000;
    AppendDecimal(dest, capacity, hundredths / 100, 1);
    WStrAppend(dest, capacity, L".");
    return AppendDecimal(dest, capacity, hundredths % 100, 2);
}

bool WStrEqual(const wchar_t* a, const wchar_t* b)
{
    while (*a != 0 && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}
