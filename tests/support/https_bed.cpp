#include "support/https_bed.h"

#include <cstdio>

#include "support/files.h"

std::wstring HttpsBed::Url(const std::wstring& mode, const std::wstring& name, const std::wstring& host) const
{
    return L"https://" + host + L":" + std::to_wstring(tlsPort) + L"/" + mode + L"/" + name;
}

std::string HttpsBed::RequestLog() const { return ReadBytes(dir + L"\\requests.log"); }

bool HttpsBed::Release(const std::wstring& name) const
{
    return WriteBytes(dir + L"\\root\\" + name + L".release", std::string());
}

void HttpsBed::Unrelease(const std::wstring& name) const { DeleteFileW((dir + L"\\root\\" + name + L".release").c_str()); }

bool FindHttpsBed(HttpsBed* bed)
{
    wchar_t exe[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, exe, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    std::wstring path(exe, length);
    for (int up = 0; up < 2; ++up) {  // drop "\name.exe", then "\bin"
        size_t slash = path.find_last_of(L'\\');
        if (slash == std::wstring::npos) return false;
        path.resize(slash);
    }
    bed->dir = path + L"\\https";
    std::string state = ReadBytes(bed->dir + L"\\server.txt");
    return sscanf(state.c_str(), "%d %d %d", &bed->tlsPort, &bed->httpPort, &bed->silentPort) == 3 &&
           bed->tlsPort > 0 && bed->httpPort > 0 && bed->silentPort > 0;
}

ServedFile::ServedFile(const HttpsBed& bed, const std::string& bytes)
{
    static LONG counter = 0;
    // Wine reuses process ids from run to run, and the server's log lives for a whole ctest run.
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    name_ = L"pkg-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(now.QuadPart) + L"-" +
            std::to_wstring(InterlockedIncrement(&counter)) + L".cab";
    path_ = bed.dir + L"\\root\\" + name_;
    ok_ = WriteBytes(path_, bytes);
}

ServedFile::~ServedFile()
{
    DeleteFileW(path_.c_str());
    DeleteFileW((path_ + L".release").c_str());
}
