// Splitting of the package URL: the cases the exports cannot reach without a name server (a
// host that fits exactly) or a server on port 443 (the default port).
#include <gtest/gtest.h>

#include <string>

#include "delivery/package_url.h"

namespace {

TEST(PackageUrl, HostOf255FitsAnd256DoesNot)
{
    wchar_t host[HostCapacity];
    wchar_t path[UrlPathCapacity];
    INTERNET_PORT port = 0;
    std::wstring fits(255, L'a');
    ASSERT_EQ(CrackPackageUrl((L"https://" + fits + L"/p").c_str(), host, path, &port), 1);
    EXPECT_EQ(std::wstring(host), fits);
    EXPECT_EQ(std::wstring(path), L"/p");
    std::wstring tooLong(256, L'a');
    EXPECT_EQ(CrackPackageUrl((L"https://" + tooLong + L"/p").c_str(), host, path, &port), 0);
}

TEST(PackageUrl, PortIsTheWrittenOneOr443)
{
    wchar_t host[HostCapacity];
    wchar_t path[UrlPathCapacity];
    INTERNET_PORT port = 0;
    ASSERT_EQ(CrackPackageUrl(L"https://example.test/dir/app.cab", host, path, &port), 1);
    EXPECT_EQ(port, 443);
    EXPECT_EQ(std::wstring(host), L"example.test");
    EXPECT_EQ(std::wstring(path), L"/dir/app.cab");
    ASSERT_EQ(CrackPackageUrl(L"https://example.test:8443/app.cab", host, path, &port), 1);
    EXPECT_EQ(port, 8443);
    EXPECT_EQ(std::wstring(path), L"/app.cab");
}

}  // namespace
