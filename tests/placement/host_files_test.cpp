// Parts a host has ready in its own work directory (PlaceAddFiles): moved from there when it is
// on the install folder's volume (and moved back when the placing fails), copied into staging
// first when it is on another volume (drive Q:, a private tmpfs, when the fixture made it).
#include <gtest/gtest.h>

#include "support/files.h"
#include "support/placement_bed.h"

namespace {

const ReleaseFiles V1 = {{L"a.txt", "a v1"}, {L"sub\\b.txt", "b v1"}};
const ReleaseFiles V2 = {{L"a.txt", "a v2!"}, {L"sub\\b.txt", "b v2!"}, {L"c.txt", std::string(100000, 'c')}};

PlaceOutcome InstallFromHost(const std::wstring& folder, const std::wstring& manifest, const std::wstring& work)
{
    PlaceOutcome outcome;
    PlaceJob* job = PlaceStart(folder.c_str(), L"2");
    if (job == nullptr) return outcome;
    if (WaitPlacePhase(job, PLACE_OPEN).phase == PLACE_OPEN && PlaceAddFiles(job, manifest.c_str(), work.c_str())) {
        PlaceCommit(job);
    }
    outcome.end = WaitPlaceEnd(job);
    outcome.closed = PlaceClose(job);
    return outcome;
}

class HostFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(WritePartManifest(dir_ / L"v2.ini", V2));
        ASSERT_TRUE(WriteEntryFiles(Work(), V2));
    }
    std::wstring Work() const { return dir_ / L"work"; }
    TempDir dir_;
};

TEST_F(HostFiles, OnTheSameVolumeTheFilesAreMoved)
{
    std::wstring folder = dir_ / L"app";
    ASSERT_EQ(InstallFiles(folder, L"1", V1, dir_.Path()).end.phase, PLACE_DONE);
    PlaceOutcome out = InstallFromHost(folder, dir_ / L"v2.ini", Work());
    EXPECT_EQ(out.end.phase, PLACE_DONE) << Narrow(out.end.text);
    EXPECT_EQ(out.closed, 1);
    EXPECT_EQ(Difference(FilesOf(Snapshot(folder)), Expected(V2)), "");
    EXPECT_EQ(ListDir(Work()), std::vector<std::wstring>{}) << "the host's files were moved, not copied";
}

TEST_F(HostFiles, AFailedTryGivesTheHostItsFilesBack)
{
    std::wstring folder = dir_ / L"app";
    ASSERT_EQ(InstallFiles(folder, L"1", V1, dir_.Path()).end.phase, PLACE_DONE);
    FolderSnapshot before = Snapshot(folder);
    FolderSnapshot work = Snapshot(Work());
    HANDLE held = CreateFileW((folder + L"\\sub\\b.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    PlaceOutcome out = InstallFromHost(folder, dir_ / L"v2.ini", Work());
    CloseHandle(held);
    EXPECT_EQ(out.end.phase, PLACE_FAILED);
    EXPECT_EQ(Difference(Snapshot(folder), before), "");
    EXPECT_EQ(Difference(Snapshot(Work()), work), "");
}

TEST_F(HostFiles, AMissingOrChangedFileFailsBeforeAnythingChanges)
{
    std::wstring folder = dir_ / L"app";
    ASSERT_EQ(InstallFiles(folder, L"1", V1, dir_.Path()).end.phase, PLACE_DONE);
    FolderSnapshot before = Snapshot(folder);
    ASSERT_TRUE(WriteBytes(Work() + L"\\0002", "shorter than the manifest says"));
    PlaceOutcome out = InstallFromHost(folder, dir_ / L"v2.ini", Work());
    EXPECT_EQ(out.end.phase, PLACE_FAILED);
    EXPECT_EQ(out.end.text, L"安装文件缺失或大小不符：" + Work() + L"\\0002");
    EXPECT_EQ(Difference(Snapshot(folder), before), "");
    ASSERT_TRUE(DeleteFileW((Work() + L"\\0001").c_str()));
    out = InstallFromHost(folder, dir_ / L"v2.ini", Work());
    EXPECT_EQ(out.end.text, L"安装文件缺失或大小不符：" + Work() + L"\\0001");
}

TEST_F(HostFiles, OnAnotherVolumeTheyAreCopiedIntoStagingFirst)
{
    ULARGE_INTEGER available = {}, total = {};
    if (!GetDiskFreeSpaceExW(L"Q:\\", &available, &total, nullptr) || total.QuadPart != 8 * 1024 * 1024) {
        GTEST_SKIP() << "no private 8 MB drive Q: (the tmpfs fixture needs root)";
    }
    std::wstring folder = L"Q:\\hostfiles-app";
    RemoveLongTree(folder);
    ASSERT_EQ(InstallFiles(folder, L"1", V1, dir_.Path()).end.phase, PLACE_DONE);
    PlaceJob* job = PlaceStart(folder.c_str(), L"2");
    ASSERT_EQ(WaitPlacePhase(job, PLACE_OPEN).phase, PLACE_OPEN);
    ASSERT_EQ(PlaceAddFiles(job, (dir_ / L"v2.ini").c_str(), Work().c_str()), 1);
    ASSERT_EQ(PlaceCommit(job), 1);
    bool copying = false;
    PlaceStatus s = PollPlace(job);
    while (s.phase < PLACE_DONE) {
        copying = copying || s.phase == PLACE_STAGING;
        s = PollPlace(job);
    }
    EXPECT_EQ(s.phase, PLACE_DONE) << Narrow(s.text);
    EXPECT_EQ(PlaceClose(job), 1);
    EXPECT_EQ(Difference(FilesOf(Snapshot(folder)), Expected(V2)), "");
    // The host's directory is as it was.
    EXPECT_EQ(ListDir(Work()).size(), 3u);
    EXPECT_EQ(ReadBytes(Work() + L"\\0002"), std::string(100000, 'c'));
    (void)copying;  // the copy may be over before a poll sees it
    RemoveLongTree(folder);
}

}  // namespace
