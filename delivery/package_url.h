// The package URL: split and checked before anything is sent or created.
#pragma once
#include <windows.h>
#include <winhttp.h>

constexpr DWORD HostCapacity = 256;     // a host of 256 or more characters does not fit
constexpr DWORD UrlPathCapacity = 2049;

// Splits url (zero-terminated) into host and path and takes its port (443 when none is written).
// 1 only for an https URL with a host and a path and without user name, password, query or
// fragment; 0 otherwise, the outputs then unusable.
int CrackPackageUrl(const wchar_t* url, wchar_t* host /* HostCapacity */, wchar_t* path /* UrlPathCapacity */,
                    INTERNET_PORT* port);
