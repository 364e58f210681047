// Installs and upgrades through the exports: what lands in the folder, what the record says,
// what an upgrade replaces, adds and removes, and what it leaves alone.
#include <gtest/gtest.h>

#include "support/files.h"
#include "support/placement_bed.h"
#include "support/release.h"

namespace {

class Install : public ::testing::Test {
protected:
    std::wstring Folder() const { return dir_ / L"app"; }
    std::wstring Scratch() const { return dir_.Path(); }
    PlaceOutcome Run(const ReleaseFiles& files, const std::wstring& version = L"1.0")
    {
        return InstallFiles(Folder(), version, files, Scratch());
    }
    TempDir dir_;
};

const ReleaseFiles V1 = {
    {L"app.exe", "version one program"},
    {L"readme.txt", "read me v1"},
    {L"子目录\\数据.bin", std::string(70000, 'd')},
    {L"docs\\old\\gone.txt", "removed in v2"},
    {L"same.dat", "unchanged between versions"},
};
const ReleaseFiles V2 = {
    {L"app.exe", "version two program, longer"},
    {L"readme.txt", "read me v2"},
    {L"子目录\\数据.bin", std::string(50000, 'e')},
    {L"same.dat", "unchanged between versions"},
    {L"plugins\\new.dll", "added in v2"},
};

TEST_F(Install, FreshInstallPlacesEveryFileAndTheRecord)
{
    PlaceOutcome out = Run(V1);
    ASSERT_EQ(out.end.phase, PLACE_DONE) << Narrow(out.end.text);
    EXPECT_EQ(out.end.text, L"安装完成。");
    EXPECT_EQ(out.end.percent, 100);
    EXPECT_EQ(out.closed, 1);
    FolderSnapshot now = Snapshot(Folder());
    EXPECT_EQ(Difference(FilesOf(now), Expected(V1)), "");
    // Nothing of the engine's own stays: no staging, no lock.
    for (const auto& [name, bytes] : now) EXPECT_NE(name.rfind(L".qel", 0), 0u) << Narrow(name);

    std::wstring record = ReadRecord(Folder());
    ASSERT_FALSE(record.empty());
    EXPECT_EQ(RecordValue(record, L"Install", L"Version"), L"1.0");
    EXPECT_EQ(RecordValue(record, L"Install", L"Count"), L"5");
    EXPECT_EQ(RecordValue(record, L"2", L"Name"), L"子目录\\数据.bin");
    EXPECT_EQ(RecordValue(record, L"2", L"Size"), L"70000");
    EXPECT_EQ(RecordValue(record, L"2", L"Sha256"), Sha256Hex(std::string(70000, 'd')));
    // The time recorded is the file's last-write time.
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExW((Folder() + L"\\子目录\\数据.bin").c_str(), GetFileExInfoStandard, &data));
    ULONGLONG time = (static_cast<ULONGLONG>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
    EXPECT_EQ(RecordValue(record, L"2", L"Time"), std::to_wstring(time));
    // The profile API (NSIS's ReadINIStr) reads it.
    wchar_t version[64] = {};
    GetPrivateProfileStringW(L"Install", L"Version", L"", version, 64, (Folder() + L"\\qel-install.ini").c_str());
    EXPECT_STREQ(version, L"1.0");
}

TEST_F(Install, UpgradeReplacesAddsAndRemovesAndLeavesTheUsersFilesAlone)
{
    ASSERT_EQ(Run(V1).end.phase, PLACE_DONE);
    ASSERT_TRUE(WriteBytes(Folder() + L"\\user-notes.txt", "mine"));
    ASSERT_TRUE(CreateDirectoryW((Folder() + L"\\docs\\mine").c_str(), nullptr));
    HANDLE before = CreateFileW((Folder() + L"\\same.dat").c_str(), FILE_READ_ATTRIBUTES, 7, nullptr, OPEN_EXISTING, 0, nullptr);
    BY_HANDLE_FILE_INFORMATION sameBefore;
    ASSERT_TRUE(GetFileInformationByHandle(before, &sameBefore));
    CloseHandle(before);

    PlaceOutcome out = Run(V2, L"2.0");
    ASSERT_EQ(out.end.phase, PLACE_DONE) << Narrow(out.end.text);
    EXPECT_EQ(out.closed, 1);
    FolderSnapshot want = Expected(V2);
    want[L"user-notes.txt"] = "mine";
    FolderSnapshot now = Snapshot(Folder());
    EXPECT_EQ(Difference(FilesOf(now), want), "");
    // The removed file's folder had the user's folder in it: docs stays, docs\old goes.
    EXPECT_EQ(now.count(L"docs\\old\\"), 0u);
    EXPECT_EQ(now.count(L"docs\\mine\\"), 1u);
    EXPECT_EQ(RecordValue(ReadRecord(Folder()), L"Install", L"Version"), L"2.0");
    EXPECT_EQ(RecordValue(ReadRecord(Folder()), L"4", L"Name"), L"plugins\\new.dll");
    // A file the new release brings unchanged is not touched at all.
    HANDLE after = CreateFileW((Folder() + L"\\same.dat").c_str(), FILE_READ_ATTRIBUTES, 7, nullptr, OPEN_EXISTING, 0, nullptr);
    BY_HANDLE_FILE_INFORMATION sameAfter;
    ASSERT_TRUE(GetFileInformationByHandle(after, &sameAfter));
    CloseHandle(after);
    EXPECT_EQ(sameAfter.nFileIndexLow, sameBefore.nFileIndexLow);
    EXPECT_EQ(sameAfter.nFileIndexHigh, sameBefore.nFileIndexHigh);
}

TEST_F(Install, EmptyFoldersOfRemovedFilesGo)
{
    ASSERT_EQ(Run(V1).end.phase, PLACE_DONE);
    ASSERT_EQ(Run(V2, L"2.0").end.phase, PLACE_DONE);
    FolderSnapshot now = Snapshot(Folder());
    EXPECT_EQ(now.count(L"docs\\"), 0u);
    EXPECT_EQ(now.count(L"docs\\old\\"), 0u);
}

}  // namespace
