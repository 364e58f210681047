// What a killed run or a stranger leaves under the engine's names: stale staging (with a journal
// cut short, or a delivery's half-extracted files) is removed before anything else; a link
// under the staging name is removed as itself, never followed; someone's file there is not
// deleted; a folder that is a link is not placed into.
#include <gtest/gtest.h>

#include "support/files.h"
#include "support/placement_bed.h"
#include "support/unix_links.h"

namespace {

const ReleaseFiles Release = {{L"a.txt", "a"}, {L"sub\\b.txt", "b"}};

class Leftovers : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(InstallFiles(Folder(), L"1", Release, dir_.Path()).end.phase, PLACE_DONE); }
    std::wstring Folder() const { return dir_ / L"app"; }
    std::wstring In(const std::wstring& name) const { return Folder() + L"\\" + name; }
    // A job that only starts and closes: what any next run does first.
    PlaceStatus StartAndClose(int* closed)
    {
        PlaceJob* job = PlaceStart(Folder().c_str(), L"x");
        PlaceStatus s = WaitPlacePhase(job, PLACE_OPEN);
        *closed = PlaceClose(job);
        return s;
    }
    TempDir dir_;
};

TEST_F(Leftovers, StaleStagingGoes)
{
    FolderSnapshot before = Snapshot(Folder());
    ASSERT_TRUE(WriteLong(In(L".qel-stage\\dead-run\\0\\0000"), "half-extracted"));
    ASSERT_TRUE(WriteLong(In(L".qel-stage\\dead-run\\b\\0"), "a backup of a finished run"));
    ASSERT_TRUE(WriteLong(In(L".qel-stage\\dead-run\\journal"), "QELJ cut short by a kill"));
    ASSERT_TRUE(WriteLong(In(L".qel-stage\\other\\x"), "x"));
    ASSERT_TRUE(SetFileAttributesW(In(L".qel-stage\\other\\x").c_str(), FILE_ATTRIBUTE_READONLY));
    int closed = 0;
    EXPECT_EQ(StartAndClose(&closed).phase, PLACE_OPEN);
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(Difference(Snapshot(Folder()), before), "");
}

TEST_F(Leftovers, AStrangersFileUnderTheStagingNameIsKept)
{
    ASSERT_TRUE(WriteBytes(In(L".qel-stage"), "someone's file"));
    int closed = 0;
    PlaceStatus s = StartAndClose(&closed);
    EXPECT_EQ(s.phase, PLACE_FAILED);
    EXPECT_EQ(s.text, L"无法写入安装文件夹：" + In(L".qel-stage") + L"（错误码 183）。");
    EXPECT_EQ(ReadBytes(In(L".qel-stage")), "someone's file");
}

TEST_F(Leftovers, ALinkUnderTheStagingNameIsNotFollowed)
{
    std::wstring elsewhere = dir_ / L"elsewhere";
    ASSERT_TRUE(CreateDirectoryW(elsewhere.c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(elsewhere + L"\\precious.txt", "precious"));
    ASSERT_TRUE(CreateDirectoryW((elsewhere + L"\\journal-like").c_str(), nullptr));
    if (!MakeLink(elsewhere, In(L".qel-stage"))) GTEST_SKIP() << "no symbolic links here";
    int closed = 0;
    PlaceStatus s = StartAndClose(&closed);
    EXPECT_EQ(ReadBytes(elsewhere + L"\\precious.txt"), "precious");
    EXPECT_TRUE(DirExists(elsewhere + L"\\journal-like"));
    if (s.phase == PLACE_OPEN) {
        // Removed as itself.
        EXPECT_EQ(GetFileAttributesW(In(L".qel-stage").c_str()), INVALID_FILE_ATTRIBUTES);
    } else {
        // Wine opens what a link points at even when asked for the link itself, so the engine
        // cannot remove it there: the job refuses to stage into it.
        EXPECT_EQ(s.text, L"无法写入安装文件夹：" + In(L".qel-stage") + L"（错误码 183）。");
        RemoveLink(In(L".qel-stage"));
    }
}

TEST_F(Leftovers, AFolderThatIsALinkIsNotPlacedInto)
{
    std::wstring elsewhere = dir_ / L"elsewhere";
    ASSERT_TRUE(CreateDirectoryW(elsewhere.c_str(), nullptr));
    if (!MakeLink(elsewhere, In(L"plugins"))) GTEST_SKIP() << "no symbolic links here";
    ReleaseFiles v2 = Release;
    v2.push_back({L"plugins\\p.dll", "p"});
    PlaceOutcome out = InstallFiles(Folder(), L"2", v2, dir_.Path());
    EXPECT_EQ(out.end.phase, PLACE_FAILED);
    EXPECT_EQ(out.end.text, L"安装位置的文件夹是一个链接：" + In(L"plugins"));
    EXPECT_EQ(ListDir(elsewhere), std::vector<std::wstring>{});
    RemoveLink(In(L"plugins"));
}

// A recorded file's folder replaced by a link to elsewhere: an uninstall removes nothing behind it.
TEST_F(Leftovers, AnUninstallDoesNotReachThroughALink)
{
    std::wstring elsewhere = dir_ / L"elsewhere";
    ASSERT_TRUE(CreateDirectoryW(elsewhere.c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(elsewhere + L"\\b.txt", "b"));  // the bytes the record lists for sub\b.txt
    ASSERT_TRUE(DeleteFileW(In(L"sub\\b.txt").c_str()));
    ASSERT_TRUE(RemoveDirectoryW(In(L"sub").c_str()));
    if (!MakeLink(elsewhere, In(L"sub"))) GTEST_SKIP() << "no symbolic links here";
    PlaceOutcome out = UninstallFolder(Folder());
    EXPECT_EQ(out.end.phase, PLACE_DONE) << Narrow(out.end.text);
    EXPECT_EQ(ReadBytes(elsewhere + L"\\b.txt"), "b");
    RemoveLink(In(L"sub"));
}

}  // namespace
