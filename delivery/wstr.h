// Bounded UTF-16 text: every string lives in a fixed buffer whose capacity counts UTF-16 units,
// terminator included. The operations never write past the capacity and never leave a buffer
// without a terminator; they report a cut through their HRESULT-style result.
#pragma once
#include <windows.h>

constexpr HRESULT TextCut = static_cast<HRESULT>(0x8007007A);     // ERROR_INSUFFICIENT_BUFFER
constexpr HRESULT TextBadArg = static_cast<HRESULT>(0x80070057);  // E_INVALIDARG
constexpr DWORD MaxCapacity = 0x7FFFFFFF;

HRESULT WStrCopy(wchar_t* dest, DWORD capacity, const wchar_t* src);
HRESULT WStrAppend(wchar_t* dest, DWORD capacity, const wchar_t* src);
// Appends value in decimal, zero-padded on the left to at least minDigits digits (at most 10).
HRESULT AppendDecimal(wchar_t* dest, DWORD capacity, DWORD value, DWORD minDigits);
// Appends a byte count as decimal megabytes (1 MB = 1,000,000 bytes) with two decimals,
// rounded half up; counts are at most 2,000,000,000.
HRESULT AppendMegabytes(wchar_t* dest, DWORD capacity, ULONGLONG bytes);

// Exact comparison of two strings, unit by unit (no locale, no case folding, no ignorable
// characters): what a manifest's fixed values are checked with.
bool WStrEqual(const wchar_t* a, const wchar_t* b);

template <DWORD N>
HRESULT WStrCopy(wchar_t (&dest)[N], const wchar_t* src) { return WStrCopy(dest, N, src); }
template <DWORD N>
HRESULT WStrAppend(wchar_t (&dest)[N], const wchar_t* src) { return WStrAppend(dest, N, src); }
