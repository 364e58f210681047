#include "support/download_case.h"

DownloadCase::DownloadCase(const HttpsBed& bed, size_t contentSize, unsigned seed)
    : release_(MakeRelease({RandomBytes(contentSize, seed)}, false)), served_(bed, release_.cabinet)
{
}

DeliveryJob* DownloadCase::Start(const std::wstring& url)
{
    release_.manifest.Set(L"Package", L"Url", url);
    if (!release_.manifest.Write(dir_ / L"manifest.ini")) return nullptr;
    return PayloadStart((dir_ / L"manifest.ini").c_str(), PackagePath().c_str(), WorkDir().c_str());
}

::testing::AssertionResult SameBytes(const std::string& got, const std::string& want)
{
    if (got == want) return ::testing::AssertionSuccess();
    size_t at = 0;
    while (at < got.size() && at < want.size() && got[at] == want[at]) ++at;
    return ::testing::AssertionFailure() << got.size() << " bytes, expected " << want.size() << ", first difference at "
                                         << at;
}

::testing::AssertionResult IsPrefixOf(const std::string& got, const std::string& want)
{
    if (got.size() <= want.size() && want.compare(0, got.size(), got) == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << got.size() << " bytes are not a prefix of the " << want.size()
                                         << " expected";
}

bool RunningOnWine()
{
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}
