// One job at a time per install folder: a second job waits (saying so) until the first lets go,
// and can be cancelled while it waits; an uninstall waits for an install the same way.
#include <gtest/gtest.h>

#include "support/files.h"
#include "support/placement_bed.h"

namespace {

const ReleaseFiles First = {{L"a.txt", "first"}, {L"shared.txt", "first's"}};
const ReleaseFiles Second = {{L"b.txt", "second"}, {L"shared.txt", "second's"}};

class Lock : public ::testing::Test {
protected:
    std::wstring Folder() const { return dir_ / L"app"; }
    PlaceJob* Open(const std::wstring& version)
    {
        PlaceJob* job = PlaceStart(Folder().c_str(), version.c_str());
        EXPECT_NE(job, nullptr);
        return job;
    }
    int AddAndCommit(PlaceJob* job, const ReleaseFiles& files, const std::wstring& name)
    {
        std::wstring manifest = dir_ / (name + L".ini");
        wchar_t work[1024];
        if (!WritePartManifest(manifest, files) || !PlaceAddPart(job, manifest.c_str(), work, 1024)) return 0;
        WriteEntryFiles(work, files);
        return PlaceCommit(job);
    }
    TempDir dir_;
};

TEST_F(Lock, SecondJobWaitsForTheFirst)
{
    PlaceJob* first = Open(L"1");
    ASSERT_EQ(WaitPlacePhase(first, PLACE_OPEN).phase, PLACE_OPEN);
    PlaceJob* second = Open(L"2");
    DWORD start = GetTickCount();
    PlaceStatus waiting = PollPlace(second);
    while (waiting.text != L"正在等待另一个安装程序结束…" && GetTickCount() - start < 5000) waiting = PollPlace(second);
    EXPECT_EQ(waiting.phase, PLACE_PREPARING);
    EXPECT_EQ(waiting.text, L"正在等待另一个安装程序结束…");
    Sleep(300);
    EXPECT_EQ(PollPlace(second).phase, PLACE_PREPARING) << "the second must not open while the first is open";

    ASSERT_EQ(AddAndCommit(first, First, L"first"), 1);
    EXPECT_EQ(WaitPlaceEnd(first).phase, PLACE_DONE);
    EXPECT_EQ(PollPlace(second).phase, PLACE_PREPARING) << "the lock is held until the close";
    EXPECT_EQ(PlaceClose(first), 1);

    ASSERT_EQ(WaitPlacePhase(second, PLACE_OPEN).phase, PLACE_OPEN);
    ASSERT_EQ(AddAndCommit(second, Second, L"second"), 1);
    EXPECT_EQ(WaitPlaceEnd(second).phase, PLACE_DONE);
    EXPECT_EQ(PlaceClose(second), 1);
    // The second saw the first's install: it replaced shared.txt and removed a.txt.
    EXPECT_EQ(Difference(FilesOf(Snapshot(Folder())), Expected(Second)), "");
}

TEST_F(Lock, CancelWhileWaiting)
{
    PlaceJob* first = Open(L"1");
    ASSERT_EQ(WaitPlacePhase(first, PLACE_OPEN).phase, PLACE_OPEN);
    PlaceJob* second = Open(L"2");
    Sleep(200);
    DWORD start = GetTickCount();
    PlaceCancel(second);
    PlaceStatus end = WaitPlaceEnd(second);
    EXPECT_LT(GetTickCount() - start, 1000u);
    EXPECT_EQ(end.phase, PLACE_CANCELLED);
    EXPECT_EQ(end.text, L"已取消，安装文件夹保持原样。");
    EXPECT_EQ(PlaceClose(second), 1);
    // The first is unaffected.
    ASSERT_EQ(AddAndCommit(first, First, L"first"), 1);
    EXPECT_EQ(WaitPlaceEnd(first).phase, PLACE_DONE);
    EXPECT_EQ(PlaceClose(first), 1);
    EXPECT_EQ(Difference(FilesOf(Snapshot(Folder())), Expected(First)), "");
}

TEST_F(Lock, UninstallWaitsForAnInstall)
{
    ASSERT_EQ(InstallFiles(Folder(), L"1", First, dir_.Path()).end.phase, PLACE_DONE);
    PlaceJob* install = Open(L"2");
    ASSERT_EQ(WaitPlacePhase(install, PLACE_OPEN).phase, PLACE_OPEN);
    PlaceJob* removal = RemoveStart(Folder().c_str());
    ASSERT_NE(removal, nullptr);
    Sleep(300);
    EXPECT_EQ(PollPlace(removal).phase, PLACE_PREPARING);
    ASSERT_EQ(AddAndCommit(install, Second, L"second"), 1);
    EXPECT_EQ(WaitPlaceEnd(install).phase, PLACE_DONE);
    EXPECT_EQ(PlaceClose(install), 1);
    PlaceStatus end = WaitPlaceEnd(removal);
    EXPECT_EQ(end.phase, PLACE_DONE) << Narrow(end.text);
    EXPECT_EQ(PlaceClose(removal), 1);
    EXPECT_FALSE(DirExists(Folder()));
}

}  // namespace
