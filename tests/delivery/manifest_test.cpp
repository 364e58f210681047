// The release manifest, through whole jobs: every rule broken once ends in the one manifest
// failure; the limits that pass get past the manifest and the free-space test, which the next
// stage's failure shows (no package is placed, so reading it fails with code 2).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/runs.h"

namespace {

using Change = std::function<void(Manifest&)>;

struct Case {
    const char* what;
    Change change;
};

// Moves every key of section from into a new section to.
void RenameSection(Manifest& m, const std::wstring& from, const std::wstring& to)
{
    for (const wchar_t* key : {L"Entry", L"Size", L"Sha256", L"Name"}) m.Set(to, key, m.Get(from, key));
    m.RemoveSection(from);
}

Change SetKey(const std::wstring& section, const std::wstring& key, const std::wstring& value)
{
    return [=](Manifest& m) { m.Set(section, key, value); };
}

Change RemoveKey(const std::wstring& section, const std::wstring& key)
{
    return [=](Manifest& m) { m.Remove(section, key); };
}

// Replaces the whole manifest by a valid one with these entry sizes, then applies more.
Change Entries(const std::vector<unsigned long long>& sizes, Change more = nullptr)
{
    return [=](Manifest& m) {
        m = ValidManifest(sizes);
        if (more) more(m);
    };
}

std::wstring Upper(std::wstring text)
{
    for (wchar_t& c : text) c = static_cast<wchar_t>(towupper(c));
    return text;
}

const std::wstring Digest = Sha256Hex("some bytes");
const std::wstring Url2047 = L"https://127.0.0.1:1/" + std::wstring(2047 - 20, L'a');

class ManifestRules : public ::testing::Test {
protected:
    // Runs the base manifest (two entries of 5 and 7 bytes) after change; the package is absent.
    Outcome Run(const Change& change, bool write = true)
    {
        Manifest m = ValidManifest({5, 7});
        if (change) change(m);
        std::wstring path = dir_ / (L"m" + std::to_wstring(++runs_) + L".ini");
        if (write) {
            EXPECT_TRUE(m.Write(path));
        }
        Outcome outcome = RunJob(path, dir_ / L"absent.cab", dir_ / L"work");
        EXPECT_FALSE(DirExists(dir_ / L"work"));
        return outcome;
    }

    TempDir dir_;
    int runs_ = 0;
};

TEST_F(ManifestRules, EveryBrokenRuleIsTheManifestFailure)
{
    const Case cases[] = {
        {"no Package section", [](Manifest& m) { m.RemoveSection(L"Package"); }},
        {"Format missing", RemoveKey(L"Package", L"Format")},
        {"Format other last digit", SetKey(L"Package", L"Format", L"qel-cab-3")},
        {"Format one more digit", SetKey(L"Package", L"Format", L"qel-cab-22")},
        {"Format in capitals", SetKey(L"Package", L"Format", L"QEL-CAB-2")},
        {"Format shorter", SetKey(L"Package", L"Format", L"qel-cab-")},
        {"Target missing", RemoveKey(L"Package", L"Target")},
        {"Target other", SetKey(L"Package", L"Target", L"windows-x86")},
        {"Target capital", SetKey(L"Package", L"Target", L"Windows-x64")},
        // Locale-aware comparison ignores these characters; the manifest's text must be exact.
        {"Target with a soft hyphen", SetKey(L"Package", L"Target", L"windows-\u00ADx64")},
        {"Target with a zero-width joiner", SetKey(L"Package", L"Target", L"windows-x\u200D64")},
        {"Count missing", RemoveKey(L"Package", L"Count")},
        {"Count empty", SetKey(L"Package", L"Count", L"")},
        {"Count 0", Entries({}, SetKey(L"Package", L"Count", L"0"))},
        {"Count 257", Entries(std::vector<unsigned long long>(257, 1))},
        {"Count with a sign", SetKey(L"Package", L"Count", L"+2")},
        {"Count negative", SetKey(L"Package", L"Count", L"-2")},
        {"Count with a point", SetKey(L"Package", L"Count", L"2.0")},
        {"Count hexadecimal", SetKey(L"Package", L"Count", L"0x2")},
        {"Count fullwidth digit", SetKey(L"Package", L"Count", L"\uFF12")},
        {"Count of 31 characters", SetKey(L"Package", L"Count", std::wstring(30, L'0') + L"2")},
        {"Count above 32 bits", SetKey(L"Package", L"Count", L"4294967298")},  // 2 in 32 bits
        {"Size 0", SetKey(L"Package", L"Size", L"0")},
        {"Size 2000000001", SetKey(L"Package", L"Size", L"2000000001")},
        {"Size above 32 bits", SetKey(L"Package", L"Size", L"4294967396")},  // 100 in 32 bits
        {"Size missing", RemoveKey(L"Package", L"Size")},
        {"UnpackedSize missing", RemoveKey(L"Package", L"UnpackedSize")},
        {"UnpackedSize above 32 bits", SetKey(L"Package", L"UnpackedSize", L"4294967308")},  // 12
        {"digest in capitals", SetKey(L"Package", L"Sha256", Upper(Digest))},
        {"digest of 63 digits", SetKey(L"Package", L"Sha256", Digest.substr(1))},
        {"digest of 65 digits", SetKey(L"Package", L"Sha256", Digest + L"0")},
        {"digest with a g", SetKey(L"Package", L"Sha256", L"g" + Digest.substr(1))},
        {"digest missing", RemoveKey(L"Package", L"Sha256")},
        {"Url of 2048 units", SetKey(L"Package", L"Url", Url2047 + L"a")},
        {"entry section named 0000", [](Manifest& m) { RenameSection(m, L"0", L"0000"); }},
        {"Entry value 0", SetKey(L"0", L"Entry", L"0")},
        {"Entry value 00000", SetKey(L"0", L"Entry", L"00000")},
        {"Entry of another index", SetKey(L"1", L"Entry", L"0000")},
        {"Entry missing", RemoveKey(L"1", L"Entry")},
        {"second entry section missing", [](Manifest& m) { m.RemoveSection(L"1"); }},
        {"entry Size missing", RemoveKey(L"0", L"Size")},
        {"entry Size negative", SetKey(L"0", L"Size", L"-5")},
        {"entry Size 2000000001", SetKey(L"0", L"Size", L"2000000001")},
        {"entry digest in capitals", SetKey(L"1", L"Sha256", Upper(Digest))},
        {"entry digest of 65 digits", SetKey(L"1", L"Sha256", Digest + L"a")},
        {"entry digest missing", RemoveKey(L"1", L"Sha256")},
        {"Name empty", SetKey(L"1", L"Name", L"")},
        {"Name missing", RemoveKey(L"1", L"Name")},
        {"Name of 241 units", SetKey(L"1", L"Name", std::wstring(241, L'n'))},
        {"sum one byte more", SetKey(L"Package", L"UnpackedSize", L"13")},
        {"sum one byte less", SetKey(L"Package", L"UnpackedSize", L"11")},
        {"entry sum over 2000000000", Entries({2000000000, 1}, SetKey(L"Package", L"UnpackedSize", L"2000000000"))},
        // 2^32 + 1 in all: a 32-bit running sum would wrap to the UnpackedSize of 1.
        {"entry sum wrapping 32 bits",
         Entries({2000000000, 2000000000, 294967297}, SetKey(L"Package", L"UnpackedSize", L"1"))},
    };
    for (const Case& c : cases) {
        Outcome outcome = Run(c.change);
        EXPECT_EQ(outcome.end.phase, PAYLOAD_FAILED) << c.what;
        EXPECT_EQ(outcome.end.percent, 0) << c.what;
        EXPECT_EQ(outcome.end.text, texts::ManifestInvalid) << c.what << ": " << Narrow(outcome.end.text);
        EXPECT_EQ(outcome.closed, 1) << c.what;
    }
}

TEST_F(ManifestRules, MissingFileIsTheManifestFailure)
{
    Outcome outcome = Run(nullptr, false);
    EXPECT_EQ(outcome.end.phase, PAYLOAD_FAILED);
    EXPECT_EQ(outcome.end.text, texts::ManifestInvalid);
}

TEST_F(ManifestRules, LimitsThatPass)
{
    std::vector<unsigned long long> sizes256(256);
    for (size_t i = 0; i < sizes256.size(); ++i) sizes256[i] = i;
    const Case cases[] = {
        {"the base manifest", nullptr},
        {"Count 1", Entries({9})},
        {"Count 256", Entries(sizes256)},
        {"Count 0001", Entries({9}, SetKey(L"Package", L"Count", L"0001"))},
        {"Count of 30 characters", SetKey(L"Package", L"Count", std::wstring(29, L'0') + L"2")},
        {"Size 1", SetKey(L"Package", L"Size", L"1")},
        {"Size 2000000000", SetKey(L"Package", L"Size", L"2000000000")},
        {"UnpackedSize with leading zeros", SetKey(L"Package", L"UnpackedSize", L"0012")},
        {"Name of 240 units", SetKey(L"1", L"Name", std::wstring(240, L'n'))},
        {"Name of one unit", SetKey(L"1", L"Name", L"n")},
        {"Chinese names", [](Manifest& m) {
             m.Set(L"0", L"Name", L"应用程序.exe");
             m.Set(L"1", L"Name", L"数据\\配置文件.ini");
         }},
        {"entries of size 0", Entries({0, 0, 3, 0})},
        {"all entries of size 0", Entries({0, 0})},
        {"Url missing", RemoveKey(L"Package", L"Url")},
        {"Url empty", SetKey(L"Package", L"Url", L"")},
        {"extra sections and keys", [](Manifest& m) {
             m.Set(L"Package", L"Comment", L"not a rule");
             m.Set(L"1", L"Signed", L"yes");
             m.Set(L"2", L"Entry", L"0002");  // the section of index Count
             m.Set(L"2", L"Size", L"bad");
             m.Set(L"Other", L"Format", L"qel-cab-3");
         }},
    };
    for (const Case& c : cases) {
        Outcome outcome = Run(c.change);
        EXPECT_EQ(outcome.end.phase, PAYLOAD_FAILED) << c.what;
        EXPECT_EQ(outcome.end.text, texts::Unreadable(ERROR_FILE_NOT_FOUND)) << c.what << ": "
                                                                           << Narrow(outcome.end.text);
        EXPECT_EQ(outcome.closed, 1) << c.what;
    }
}

// A Url makes the job download, so the stage after the manifest is the download: its failure
// (nothing listens on port 1) shows that the manifest and the free-space test passed.
TEST_F(ManifestRules, UrlOf2047UnitsPasses)
{
    Outcome outcome = Run(SetKey(L"Package", L"Url", Url2047));
    EXPECT_EQ(outcome.end.phase, PAYLOAD_FAILED);
    EXPECT_NE(outcome.end.text, texts::ManifestInvalid);
    EXPECT_NE(outcome.end.text, texts::NoSpace);
    EXPECT_EQ(outcome.end.text.rfind(texts::SpaceUnknown, 0), std::wstring::npos) << Narrow(outcome.end.text);
    EXPECT_EQ(outcome.closed, 1);
}

// The profile API alone would look a bare file name up in the Windows directory; the job reads
// a relative manifest path from the current directory, like its other two paths.
TEST_F(ManifestRules, RelativePathMeansTheCurrentDirectory)
{
    ASSERT_TRUE(ValidManifest({5, 7}).Write(dir_ / L"relative.ini"));
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(dir_.Path().c_str()));
    Outcome outcome = RunJob(L"relative.ini", L"absent.cab", L"work");
    SetCurrentDirectoryW(previous);
    EXPECT_EQ(outcome.end.text, texts::Unreadable(ERROR_FILE_NOT_FOUND)) << Narrow(outcome.end.text);
}

}  // namespace
