// Names are checked when a part is added, before anything is delivered: unsafe names, names the
// file system takes for one (across parts too), a name that is also a folder, the engine's own
// names, broken manifests. A refused part fails the job and nothing reaches the folder.
#include <gtest/gtest.h>

#include <string>

#include "support/files.h"
#include "support/placement_bed.h"

namespace {

class Names : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(CreateDirectoryW(Folder().c_str(), nullptr));
        ASSERT_TRUE(WriteBytes(Folder() + L"\\existing.txt", "stays"));
        job_ = PlaceStart(Folder().c_str(), L"1");
        ASSERT_NE(job_, nullptr);
        ASSERT_EQ(WaitPlacePhase(job_, PLACE_OPEN).phase, PLACE_OPEN);
    }
    void TearDown() override
    {
        if (job_ != nullptr) {
            EXPECT_EQ(PlaceClose(job_), 1);
        }
        FolderSnapshot left = Snapshot(Folder());
        EXPECT_EQ(Difference(left, {{L"existing.txt", "stays"}}), "") << "a refused part left something";
    }
    std::wstring Folder() const { return dir_ / L"app"; }
    int Add(const ReleaseFiles& files)
    {
        std::wstring path = dir_ / (L"m" + std::to_wstring(++manifests_) + L".ini");
        EXPECT_TRUE(WritePartManifest(path, files));
        wchar_t work[1024] = L"unchanged";
        int added = PlaceAddPart(job_, path.c_str(), work, 1024);
        if (added) {
            EXPECT_TRUE(WriteEntryFiles(work, files));
        } else {
            EXPECT_STREQ(work, L"");
        }
        return added;
    }
    void ExpectRefused(const std::wstring& text)
    {
        PlaceStatus s = PollPlace(job_);
        EXPECT_EQ(s.phase, PLACE_FAILED);
        EXPECT_EQ(s.text, text);
        EXPECT_EQ(PlaceCommit(job_), 0);
        EXPECT_EQ(PlaceAddPart(job_, L"x.ini", nullptr, 0), 0);
    }
    TempDir dir_;
    PlaceJob* job_ = nullptr;
    int manifests_ = 0;
};

class UnsafeName : public Names, public ::testing::WithParamInterface<const wchar_t*> {};

TEST_P(UnsafeName, IsRefusedBeforeAnythingIsDelivered)
{
    // The first entry is fine; it must not be placed because of what follows it.
    EXPECT_EQ(Add({{L"fine.txt", "fine"}, {GetParam(), "evil"}}), 0);
    // The profile API strips spaces around a value unless it is quoted, and drops the quotes.
    std::wstring name = GetParam();
    if (name.size() > 2 && name.front() == L'"' && name.back() == L'"') name = name.substr(1, name.size() - 2);
    ExpectRefused(L"发布清单中的文件名不能安装：" + name);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, UnsafeName,
    ::testing::Values(L"C:\\evil.txt", L"C:evil.txt", L"\\evil.txt", L"/evil.txt", L"..\\evil.txt",
                      L"sub\\..\\..\\evil.txt", L"a/../../evil.txt", L".\\evil.txt", L"sub\\\\evil.txt", L"sub\\",
                      L"CON", L"nul.txt", L"sub\\com1", L"Com1 .log", L"LPT9.doc", L"com\u00B9", L"CONOUT$", L"clock$.x",
                      L"evil.txt.", L"\"evil \"", L"\" evil\"", L"\"sub \\x\"", L"evil?.txt", L"a*b", L"a<b", L"a>b", L"a|b", L"a\"b",
                      L"tab\there", L"\\\\?\\C:\\evil.txt", L"\\\\server\\share\\evil.txt",
                      // The engine's own names at the top of the folder.
                      L".qel-stage\\x", L".QEL-LOCK", L".qel-anything", L"qel-install.ini", L"QEL-INSTALL.INI"));

TEST_F(Names, AllowedNamesAreAccepted)
{
    EXPECT_EQ(Add({{L"COM10.txt", "1"},
                   {L"conx.txt", "2"},
                   {L"sub/forward.txt", "3"},
                   {L"sub\\qel-install.ini", "4"},
                   {L"x.qel-stage", "5"},
                   {std::wstring(240, L'n'), "6"},
                   {L"中文\\名称.txt", "7"}}),
              1);
    EXPECT_EQ(PollPlace(job_).phase, PLACE_OPEN);
    PlaceCancel(job_);
}

TEST_F(Names, TooLongNameIsRefused)
{
    EXPECT_EQ(Add({{std::wstring(241, L'n'), "x"}}), 0);
    // The profile API cuts the value it reads; over the limit reads as a broken manifest.
    PlaceStatus s = PollPlace(job_);
    EXPECT_EQ(s.phase, PLACE_FAILED);
}

TEST_F(Names, DuplicatesWithoutRegardToCaseInOnePart)
{
    EXPECT_EQ(Add({{L"Readme.TXT", "1"}, {L"docs\\a.txt", "2"}, {L"README.txt", "3"}}), 0);
    ExpectRefused(L"发布清单中的文件名重复：README.txt");
}

TEST_F(Names, DuplicatesAcrossParts)
{
    EXPECT_EQ(Add({{L"bin\\app.exe", "1"}, {L"data\\Ä.bin", "2"}}), 1);
    EXPECT_EQ(Add({{L"other.txt", "3"}}), 1);
    EXPECT_EQ(Add({{L"DATA\\ä.BIN", "4"}}), 0);
    ExpectRefused(L"发布清单中的文件名重复：DATA\\ä.BIN");
}

TEST_F(Names, SameNameWithSlashesIsADuplicate)
{
    EXPECT_EQ(Add({{L"sub\\x.txt", "1"}, {L"sub/X.txt", "2"}}), 0);
    ExpectRefused(L"发布清单中的文件名重复：sub\\X.txt");
}

TEST_F(Names, AFileThatIsAlsoAFolder)
{
    EXPECT_EQ(Add({{L"lib", "a file"}}), 1);
    EXPECT_EQ(Add({{L"LIB\\inner.dll", "under it"}}), 0);
    ExpectRefused(L"发布清单中的文件名与文件夹重名：LIB\\inner.dll");
}

TEST_F(Names, BrokenManifests)
{
    wchar_t work[1024];
    EXPECT_EQ(PlaceAddPart(job_, (dir_ / L"missing.ini").c_str(), work, 1024), 0);
    ExpectRefused(L"应用包发布清单无效。");
}

TEST_F(Names, ManifestWithBadCount)
{
    ASSERT_TRUE(WritePartManifest(dir_ / L"bad.ini", {{L"a", "1"}}));
    WritePrivateProfileStringW(L"Package", L"Count", L"2", (dir_ / L"bad.ini").c_str());
    wchar_t work[1024];
    EXPECT_EQ(PlaceAddPart(job_, (dir_ / L"bad.ini").c_str(), work, 1024), 0);
    ExpectRefused(L"应用包发布清单无效。");
}

TEST_F(Names, ManifestWithUppercaseDigest)
{
    ASSERT_TRUE(WritePartManifest(dir_ / L"bad.ini", {{L"a", "1"}}));
    wchar_t digest[80];
    GetPrivateProfileStringW(L"0", L"Sha256", L"", digest, 80, (dir_ / L"bad.ini").c_str());
    for (wchar_t* c = digest; *c; ++c) *c = static_cast<wchar_t>(towupper(*c));
    WritePrivateProfileStringW(L"0", L"Sha256", digest, (dir_ / L"bad.ini").c_str());
    wchar_t work[1024];
    EXPECT_EQ(PlaceAddPart(job_, (dir_ / L"bad.ini").c_str(), work, 1024), 0);
    ExpectRefused(L"应用包发布清单无效。");
}

TEST_F(Names, AtMost64Parts)
{
    for (int i = 0; i < 64; ++i) ASSERT_EQ(Add({{L"p" + std::to_wstring(i) + L".txt", "x"}}), 1) << i;
    std::wstring path = dir_ / L"last.ini";
    ASSERT_TRUE(WritePartManifest(path, {{L"last.txt", "x"}}));
    wchar_t work[1024];
    EXPECT_EQ(PlaceAddPart(job_, path.c_str(), work, 1024), 0);
    EXPECT_EQ(PollPlace(job_).phase, PLACE_OPEN) << "a part too many is refused without failing the job";
    PlaceCancel(job_);
}

}  // namespace
