#include "delivery/package_url.h"

int CrackPackageUrl(const wchar_t* url, wchar_t* host, wchar_t* path, INTERNET_PORT* port)
{
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host;
    parts.dwHostNameLength = HostCapacity;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = UrlPathCapacity;
    // A null pointer with a nonzero length asks only where the part is and how long it is.
    parts.dwUserNameLength = 1;
    parts.dwPasswordLength = 1;
    parts.dwExtraInfoLength = 1;  // query string and fragment

    if (!WinHttpCrackUrl(url, 0, 0, &parts)) return 0;
    if (parts.nScheme != INTERNET_SCHEME_HTTPS) return 0;
    if (parts.dwUserNameLength != 0 || parts.dwPasswordLength != 0 || parts.dwExtraInfoLength != 0) return 0;
    if (parts.dwHostNameLength == 0 || parts.dwUrlPathLength == 0) return 0;
    *port = parts.nPort;
    return 1;
}
