// The user's own changes are never lost silently: a file that differs from what the record says
// was installed stays when the new release brings the old bytes, and is kept beside the new
// file as "<name>.user" when it brings new ones. Files the record does not know are the user's.
#include <gtest/gtest.h>

#include "support/files.h"
#include "support/placement_bed.h"

namespace {

const ReleaseFiles V1 = {{L"settings.ini", "colour=blue"}, {L"app.exe", "program v1"}, {L"conf\\extra.ini", "extra v1"}};
const ReleaseFiles V2Same = {{L"settings.ini", "colour=blue"}, {L"app.exe", "program v2"}, {L"conf\\extra.ini", "extra v1"}};
const ReleaseFiles V2New = {{L"settings.ini", "colour=green; size=big"}, {L"app.exe", "program v2"}, {L"conf\\extra.ini", "extra v2"}};

ULONGLONG FileIndex(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, 7, nullptr, OPEN_EXISTING, 0, nullptr);
    BY_HANDLE_FILE_INFORMATION info = {};
    GetFileInformationByHandle(file, &info);
    CloseHandle(file);
    return (static_cast<ULONGLONG>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
}

// A change the user makes: other bytes and a later time.
void Edit(const std::wstring& path, const std::string& bytes)
{
    ASSERT_TRUE(WriteBytes(path, bytes));
    HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 7, nullptr, OPEN_EXISTING, 0, nullptr);
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER t;
    t.LowPart = now.dwLowDateTime;
    t.HighPart = now.dwHighDateTime;
    t.QuadPart += 20000000;  // two seconds on
    FILETIME later = {t.LowPart, t.HighPart};
    SetFileTime(file, nullptr, nullptr, &later);
    CloseHandle(file);
}

class UserFiles : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(Install(V1, L"1").end.phase, PLACE_DONE); }
    std::wstring Folder() const { return dir_ / L"app"; }
    std::wstring In(const std::wstring& name) const { return Folder() + L"\\" + name; }
    PlaceOutcome Install(const ReleaseFiles& files, const std::wstring& version)
    {
        PlaceOutcome out = InstallFiles(Folder(), version, files, dir_.Path());
        EXPECT_EQ(out.end.phase, PLACE_DONE) << Narrow(out.end.text);
        EXPECT_EQ(out.closed, 1);
        return out;
    }
    TempDir dir_;
};

TEST_F(UserFiles, ChangedFileStaysWhenTheReleaseBringsTheSameBytes)
{
    Edit(In(L"settings.ini"), "colour=red (mine)");
    std::wstring before = RecordValue(ReadRecord(Folder()), L"0", L"Time");
    Install(V2Same, L"2");
    FolderSnapshot want = Expected(V2Same);
    want[L"settings.ini"] = "colour=red (mine)";
    EXPECT_EQ(Difference(FilesOf(Snapshot(Folder())), want), "");
    // Still recorded as installed, with the time it was installed at, so it reads as changed
    // next time too.
    std::wstring record = ReadRecord(Folder());
    EXPECT_EQ(RecordValue(record, L"0", L"Name"), L"settings.ini");
    EXPECT_EQ(RecordValue(record, L"0", L"Time"), before);
    Install(V2New, L"3");
    EXPECT_EQ(ReadBytes(In(L"settings.ini")), "colour=green; size=big");
    EXPECT_EQ(ReadBytes(In(L"settings.ini.user")), "colour=red (mine)");
}

TEST_F(UserFiles, ChangedFileIsKeptBesideTheNewOne)
{
    Edit(In(L"settings.ini"), "colour=red (mine)");
    Edit(In(L"conf\\extra.ini"), "my extra");
    Install(V2New, L"2");
    FolderSnapshot want = Expected(V2New);
    want[L"settings.ini.user"] = "colour=red (mine)";
    want[L"conf\\extra.ini.user"] = "my extra";
    EXPECT_EQ(Difference(FilesOf(Snapshot(Folder())), want), "");
    // The copy is the user's now: not in the record, and an uninstall leaves it.
    EXPECT_EQ(ReadRecord(Folder()).find(L".user"), std::wstring::npos);
    PlaceOutcome out = UninstallFolder(Folder());
    ASSERT_EQ(out.end.phase, PLACE_DONE) << Narrow(out.end.text);
    EXPECT_EQ(Difference(FilesOf(Snapshot(Folder())),
                         {{L"settings.ini.user", "colour=red (mine)"}, {L"conf\\extra.ini.user", "my extra"}}),
              "");
}

TEST_F(UserFiles, TakenCopyNamesAreSkipped)
{
    Edit(In(L"settings.ini"), "mine");
    ASSERT_TRUE(WriteBytes(In(L"settings.ini.user"), "an older copy"));
    Install(V2New, L"2");
    EXPECT_EQ(ReadBytes(In(L"settings.ini.user")), "an older copy");
    EXPECT_EQ(ReadBytes(In(L"settings.ini.user2")), "mine");
}

// Touched but not changed: the bytes decide, and the file is replaced like any other.
TEST_F(UserFiles, SameBytesWithAnotherTimeCountAsUnchanged)
{
    Edit(In(L"settings.ini"), "colour=blue");
    Install(V2New, L"2");
    EXPECT_EQ(Difference(FilesOf(Snapshot(Folder())), Expected(V2New)), "");
}

TEST_F(UserFiles, ChangedFileTheNewReleaseDropsStays)
{
    Edit(In(L"conf\\extra.ini"), "my extra");
    ReleaseFiles v2 = {{L"settings.ini", "colour=blue"}, {L"app.exe", "program v2"}};
    Install(v2, L"2");
    FolderSnapshot want = Expected(v2);
    want[L"conf\\extra.ini"] = "my extra";
    EXPECT_EQ(Difference(FilesOf(Snapshot(Folder())), want), "");
    EXPECT_EQ(ReadRecord(Folder()).find(L"extra"), std::wstring::npos) << "no longer installed by us";
}

// A file the record does not know is the user's: kept as a copy, unless it already holds the
// new bytes (then it is taken as installed and not touched).
TEST_F(UserFiles, FilesNotInTheRecord)
{
    ASSERT_TRUE(WriteBytes(In(L"plugin.dll"), "the user's own plugin"));
    ASSERT_TRUE(WriteBytes(In(L"readme.txt"), "read me"));
    ULONGLONG readmeIndex = FileIndex(In(L"readme.txt"));
    ReleaseFiles v2 = V2Same;
    v2.push_back({L"plugin.dll", "our plugin"});
    v2.push_back({L"readme.txt", "read me"});
    Install(v2, L"2");
    FolderSnapshot want = Expected(v2);
    want[L"plugin.dll.user"] = "the user's own plugin";
    EXPECT_EQ(Difference(FilesOf(Snapshot(Folder())), want), "");
    EXPECT_EQ(FileIndex(In(L"readme.txt")), readmeIndex);
    EXPECT_NE(ReadRecord(Folder()).find(L"Name=readme.txt"), std::wstring::npos);
}

TEST_F(UserFiles, UninstallKeepsChangedFiles)
{
    Edit(In(L"conf\\extra.ini"), "my extra");
    PlaceOutcome out = UninstallFolder(Folder());
    ASSERT_EQ(out.end.phase, PLACE_DONE) << Narrow(out.end.text);
    EXPECT_EQ(out.end.text, L"卸载完成。");
    EXPECT_EQ(Difference(Snapshot(Folder()), {{L"conf\\", ""}, {L"conf\\extra.ini", "my extra"}}), "");
}

}  // namespace
