// Uninstall removes exactly what the record lists (and the folders that became empty, and the
// folder itself when empty); anything else stays. A file that cannot be removed fails it with
// nothing lost; a record that is not one of ours is refused.
#include <gtest/gtest.h>

#include "support/files.h"
#include "support/placement_bed.h"

namespace {

const ReleaseFiles Release = {
    {L"app.exe", "program"},
    {L"lib\\a.dll", "a"},
    {L"lib\\deep\\b.dll", "b"},
    {L"share\\doc.txt", "doc"},
};

class Uninstall : public ::testing::Test {
protected:
    void SetUp() override
    {
        PlaceOutcome out = InstallFiles(Folder(), L"1", Release, dir_.Path());
        ASSERT_EQ(out.end.phase, PLACE_DONE) << Narrow(out.end.text);
    }
    std::wstring Folder() const { return dir_ / L"app"; }
    std::wstring In(const std::wstring& name) const { return Folder() + L"\\" + name; }
    TempDir dir_;
};

TEST_F(Uninstall, EverythingRecordedGoesAndTheFolderWithIt)
{
    PlaceJob* job = RemoveStart(Folder().c_str());
    ASSERT_NE(job, nullptr);
    EXPECT_GE(PollPlace(job).phase, PLACE_PREPARING);
    PlaceStatus end = WaitPlaceEnd(job);
    EXPECT_EQ(end.phase, PLACE_DONE) << Narrow(end.text);
    EXPECT_EQ(end.text, L"卸载完成。");
    EXPECT_EQ(PlaceCommit(job), 0);
    EXPECT_EQ(PlaceClose(job), 1);
    EXPECT_FALSE(DirExists(Folder()));
    EXPECT_TRUE(DirExists(dir_.Path()));
}

TEST_F(Uninstall, WhatIsNotRecordedStays)
{
    ASSERT_TRUE(WriteBytes(In(L"lib\\user.cfg"), "mine"));
    ASSERT_TRUE(CreateDirectoryW(In(L"empty-of-mine").c_str(), nullptr));
    PlaceOutcome out = UninstallFolder(Folder());
    EXPECT_EQ(out.end.phase, PLACE_DONE) << Narrow(out.end.text);
    EXPECT_EQ(out.closed, 1);
    EXPECT_EQ(Difference(Snapshot(Folder()), {{L"lib\\", ""}, {L"lib\\user.cfg", "mine"}, {L"empty-of-mine\\", ""}}), "");
}

TEST_F(Uninstall, AFileHeldWithoutSharingFailsItWithNothingLost)
{
    FolderSnapshot before = Snapshot(Folder());
    HANDLE held = CreateFileW(In(L"lib\\deep\\b.dll").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    PlaceOutcome out = UninstallFolder(Folder());
    EXPECT_EQ(out.end.phase, PLACE_FAILED);
    EXPECT_EQ(out.end.text.substr(0, out.end.text.find(L"（")), L"文件正被使用：" + In(L"lib\\deep\\b.dll"));
    EXPECT_EQ(out.closed, 1);
    CloseHandle(held);
    EXPECT_EQ(Difference(Snapshot(Folder()), before), "");
    // Once it is free the uninstall goes through.
    EXPECT_EQ(UninstallFolder(Folder()).end.phase, PLACE_DONE);
    EXPECT_FALSE(DirExists(Folder()));
}

// A reader that allows deletion keeps the file's name until it lets go (as on Windows): the
// file is out of the folder at once, its backup stays in staging until the next run.
TEST_F(Uninstall, AFileHeldWithDeleteSharingGoesAndItsBackupFollows)
{
    HANDLE held = CreateFileW(In(L"app.exe").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    PlaceOutcome out = UninstallFolder(Folder());
    EXPECT_EQ(out.end.phase, PLACE_DONE) << Narrow(out.end.text);
    FolderSnapshot left = Snapshot(Folder());
    EXPECT_EQ(WithoutEngine(left), FolderSnapshot{}) << Difference(left, {});
    EXPECT_EQ(out.closed, 0) << "the backup cannot go while it is held";
    EXPECT_EQ(left.count(L".qel-lock"), 0u);
    CloseHandle(held);
    // The next job on the folder clears what is left.
    PlaceJob* next = PlaceStart(Folder().c_str(), L"x");
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(WaitPlacePhase(next, PLACE_OPEN).phase, PLACE_OPEN);
    EXPECT_EQ(PlaceClose(next), 1);
    EXPECT_EQ(Difference(Snapshot(Folder()), {}), "");
}

TEST_F(Uninstall, ARecordNotOfOursIsRefused)
{
    ASSERT_TRUE(WriteBytes(dir_ / L"outside.txt", "outside"));
    std::wstring record = ReadRecord(Folder());
    ASSERT_FALSE(record.empty());
    // A record changed by hand to reach outside the folder.
    size_t at = record.find(L"Name=app.exe");
    ASSERT_NE(at, std::wstring::npos);
    record.replace(at, 12, L"Name=..\\outside.txt");
    std::string bytes = "\xFF\xFE";
    bytes.append(reinterpret_cast<const char*>(record.data()), record.size() * 2);
    ASSERT_TRUE(WriteBytes(In(L"qel-install.ini"), bytes));
    FolderSnapshot before = Snapshot(Folder());
    PlaceOutcome out = UninstallFolder(Folder());
    EXPECT_EQ(out.end.phase, PLACE_FAILED);
    EXPECT_EQ(out.end.text, L"安装记录无效：" + In(L"qel-install.ini"));
    EXPECT_EQ(ReadBytes(dir_ / L"outside.txt"), "outside");
    EXPECT_EQ(Difference(Snapshot(Folder()), before), "");

    // Not UTF-16, cut short, a key missing: all refused the same way.
    for (const std::string& broken : {std::string("[Install]\r\nVersion=1\r\nCount=0\r\n"), bytes.substr(0, bytes.size() / 2),
                                      std::string("\xFF\xFE")}) {
        ASSERT_TRUE(WriteBytes(In(L"qel-install.ini"), broken));
        EXPECT_EQ(UninstallFolder(Folder()).end.text, L"安装记录无效：" + In(L"qel-install.ini"));
    }
}

TEST_F(Uninstall, FilesAlreadyGoneAreFine)
{
    ASSERT_TRUE(DeleteFileW(In(L"lib\\a.dll").c_str()));
    PlaceOutcome out = UninstallFolder(Folder());
    EXPECT_EQ(out.end.phase, PLACE_DONE) << Narrow(out.end.text);
    EXPECT_FALSE(DirExists(Folder()));
}

TEST_F(Uninstall, CancelBeforeTheCommitKeepsEverything)
{
    FolderSnapshot before = Snapshot(Folder());
    HANDLE held = CreateFileW(In(L"share\\doc.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    PlaceJob* job = RemoveStart(Folder().c_str());
    ASSERT_NE(job, nullptr);
    DWORD start = GetTickCount();
    while (PollPlace(job).text.rfind(L"正在等待文件释放", 0) != 0 && GetTickCount() - start < 5000) Sleep(5);
    PlaceCancel(job);
    PlaceStatus end = WaitPlaceEnd(job);
    EXPECT_EQ(end.phase, PLACE_CANCELLED) << Narrow(end.text);
    CloseHandle(held);
    EXPECT_EQ(PlaceClose(job), 1);
    EXPECT_EQ(Difference(Snapshot(Folder()), before), "");
}

}  // namespace
