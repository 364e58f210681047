// A manifest section read in one call must give every key exactly what GetPrivateProfileStringW
// gives (the delivery reads the manifest that way): the reference here is that function itself,
// on files written the ways a hand-edited manifest can be.
#include <gtest/gtest.h>

#include <string>

#include "placement/profile_section.h"
#include "support/files.h"

namespace {

// UTF-16LE with a byte-order mark, as the packer writes manifests.
bool WriteUtf16(const std::wstring& path, const std::wstring& text)
{
    std::string bytes = "\xFF\xFE";
    for (wchar_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    return WriteBytes(path, bytes);
}

std::wstring Expected(const std::wstring& path, const wchar_t* section, const wchar_t* key, DWORD capacity, DWORD* length)
{
    std::wstring buffer(capacity, L'\0');
    *length = GetPrivateProfileStringW(section, key, L"", &buffer[0], capacity, path.c_str());
    return buffer.c_str();
}

void ExpectSameAsProfileApi(const std::wstring& path, const wchar_t* section, const wchar_t* key, DWORD capacity = 256)
{
    DWORD expectedLength = 0;
    std::wstring expected = Expected(path, section, key, capacity, &expectedLength);
    ProfileSection keys;
    keys.Read(path.c_str(), section);
    std::wstring got(capacity, L'\0');
    DWORD length = keys.Get(key, &got[0], capacity);
    EXPECT_EQ(Narrow(got.c_str()), Narrow(expected)) << Narrow(key);
    EXPECT_EQ(length, expectedLength) << Narrow(key);
}

TEST(ProfileSection, GivesWhatTheProfileApiGives)
{
    TempDir dir;
    std::wstring path = dir / L"m.ini";
    ASSERT_TRUE(WriteUtf16(path,
                           L"[0]\r\n"
                           L"Entry=0000\r\n"
                           L"  Size =  1152  \r\n"
                           L"sha256=\"c7d5\"\r\n"
                           L"Name='dir\\a b.txt'\r\n"
                           L"Name=second\r\n"
                           L"Quote=\"open\r\n"
                           L"Mixed=\"a'\r\n"
                           L"Equals=a=b\r\n"
                           L"Empty=\r\n"
                           L"Lone\r\n"
                           L"Tab=\tx\t\r\n"
                           L"Chinese=目录\\文件.txt\r\n"
                           L"Long=0123456789abcdef\r\n"
                           L"[1]\r\n"
                           L"Entry=0001\r\n"));
    for (const wchar_t* key : {L"Entry", L"Size", L"SHA256", L"Sha256", L"Name", L"Quote", L"Mixed", L"Equals", L"Empty",
                               L"Lone", L"Tab", L"Chinese", L"Missing"}) {
        ExpectSameAsProfileApi(path, L"0", key);
    }
    ExpectSameAsProfileApi(path, L"0", L"Long", 8);  // cut to the buffer
    ExpectSameAsProfileApi(path, L"1", L"Entry");
    ExpectSameAsProfileApi(path, L"1", L"Size");
    ExpectSameAsProfileApi(path, L"2", L"Entry");  // no such section
}

TEST(ProfileSection, ASectionTooLargeForOneReadIsReadKeyByKey)
{
    TempDir dir;
    std::wstring path = dir / L"big.ini";
    std::wstring text = L"[0]\r\n";
    for (int i = 0; i < 400; ++i) text += L"Filler" + std::to_wstring(i) + L"=0123456789\r\n";
    text += L"Name=last\\in.txt\r\n";
    ASSERT_GT(text.size(), ProfileSection::Capacity);
    ASSERT_TRUE(WriteUtf16(path, text));
    ProfileSection keys;
    keys.Read(path.c_str(), L"0");
    wchar_t name[64];
    EXPECT_EQ(keys.Get(L"Name", name, 64), 11u);
    EXPECT_STREQ(name, L"last\\in.txt");
}

}  // namespace
