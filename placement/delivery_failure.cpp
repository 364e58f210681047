#include "placement/delivery_failure.h"

#include "placement/paths.h"

namespace {

bool Equal(const wchar_t* a, const wchar_t* b)
{
    while (*a != 0 && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

// Codes of "应用包下载失败（错误码 N）。" that no new try mends.
bool Lasting(DWORD code)
{
    switch (code) {
    case 8:      // out of memory
    case 13:     // the address is not one qelfetch accepts
    case 29:     // a short write to the work disk
    case 80:     // a file is in the package's place
    case 112:    // the disk is full
    case 12005:  // invalid URL
    case 12006:  // unrecognised scheme
    case 12037:  // certificate expired or not yet valid
    case 12038:  // certificate for another host
    case 12044:  // the server wants a client certificate
    case 12045:  // certificate of an unknown authority
    case 12057:  // revocation could not be checked
    case 12169:  // invalid certificate
    case 12170:  // revoked certificate
    case 12175:  // the secure channel failed on the certificate
    case 12179:  // certificate not for servers
        return true;
    default:
        return false;
    }
}

bool Passing(DWORD code)
{
    return (code >= 12000 && code < 12200) ||  // WinHTTP: time-out, connection refused, cut, reset, ...
           (code >= 10000 && code < 12000) ||  // Windows sockets
           code == 5023 ||                     // a completion out of turn
           code == 64 || code == 121 || code == 1231 || code == 1236;  // the network went away
}

}  // namespace

DWORD FailureCode(const wchar_t* failure)
{
    static const wchar_t marker[] = L"（错误码 ";
    const DWORD markerLength = sizeof(marker) / sizeof(marker[0]) - 1;
    const wchar_t* found = nullptr;
    for (const wchar_t* c = failure; *c != 0; ++c) {
        if (TextStartsWith(c, marker)) found = c + markerLength;
    }
    if (found == nullptr) return 0;
    DWORD code = 0;
    const wchar_t* c = found;
    for (; *c >= L'0' && *c <= L'9'; ++c) {
        if (code > 429496728) return 0;
        code = code * 10 + static_cast<DWORD>(*c - L'0');
    }
    return c != found && Equal(c, L"）。") ? code : 0;
}

DeliveryRemedy RemedyFor(const wchar_t* failure, bool downloaded)
{
    static const wchar_t httpStatus[] = L"服务器未提供应用包（HTTP ";
    if (TextStartsWith(failure, httpStatus)) {
        DWORD status = 0;
        for (const wchar_t* c = failure + sizeof(httpStatus) / sizeof(httpStatus[0]) - 1; *c >= L'0' && *c <= L'9'; ++c) {
            if (status < 100000) status = status * 10 + static_cast<DWORD>(*c - L'0');
        }
        if (status >= 500 || status == 408 || status == 429) return DeliveryRemedy::Again;
        return DeliveryRemedy::NextUrl;
    }
    if (Equal(failure, L"应用包下载未完整，未开始安装。") || Equal(failure, L"下载数据超过发布清单声明的大小。")) {
        return DeliveryRemedy::Again;
    }
    if (Equal(failure, L"服务器返回的应用包大小与发布清单不一致。")) return DeliveryRemedy::NextUrl;
    if (Equal(failure, L"应用包 SHA-256 校验失败，未开始安装。") || Equal(failure, L"应用包大小与发布清单不一致。")) {
        return downloaded ? DeliveryRemedy::Again : DeliveryRemedy::GiveUp;
    }
    if (TextStartsWith(failure, L"应用包下载失败（错误码 ")) {
        DWORD code = FailureCode(failure);
        if (code == 12156) return DeliveryRemedy::NextUrl;  // redirected from HTTPS to HTTP
        if (!Lasting(code) && Passing(code)) return DeliveryRemedy::Again;
    }
    return DeliveryRemedy::GiveUp;
}
