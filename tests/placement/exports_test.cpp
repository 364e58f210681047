// The exports' contract: arguments refused, the phases a job goes through, what each call
// accepts in which phase, cancel before the commit, paths fixed at start.
#include <gtest/gtest.h>

#include <string>

#include "support/files.h"
#include "support/placement_bed.h"

namespace {

const ReleaseFiles Small = {{L"a.txt", "alpha"}, {L"sub\\b.txt", "beta"}};

class Exports : public ::testing::Test {
protected:
    std::wstring Folder() const { return dir_ / L"app"; }
    std::wstring Manifest(const ReleaseFiles& files)
    {
        std::wstring path = dir_ / (L"m" + std::to_wstring(++manifests_) + L".ini");
        EXPECT_TRUE(WritePartManifest(path, files));
        return path;
    }
    TempDir dir_;
    int manifests_ = 0;
};

TEST_F(Exports, StartRefusesBadArguments)
{
    EXPECT_EQ(PlaceStart(nullptr, L"1"), nullptr);
    EXPECT_EQ(PlaceStart(Folder().c_str(), nullptr), nullptr);
    EXPECT_EQ(PlaceStart(L"", L"1"), nullptr);
    EXPECT_EQ(PlaceStart(Folder().c_str(), L"1\r\n[0]"), nullptr);  // would write lines into the record
    EXPECT_EQ(PlaceStart(Folder().c_str(), std::wstring(128, L'9').c_str()), nullptr);
    EXPECT_EQ(PlaceStart((dir_.Path() + L"\\" + std::wstring(901, L'x')).c_str(), L"1"), nullptr);
    EXPECT_EQ(PlaceStart(L"\\\\.\\PhysicalDrive0", L"1"), nullptr);
    EXPECT_EQ(RemoveStart(nullptr), nullptr);
    EXPECT_EQ(RemoveStart(L""), nullptr);
    // Nothing was made for any of them.
    EXPECT_FALSE(DirExists(Folder()));
    EXPECT_EQ(PlaceClose(nullptr), 1);
    EXPECT_EQ(PlaceCancel(nullptr), 0);
    EXPECT_EQ(PlaceCommit(nullptr), 0);
    wchar_t text[16];
    EXPECT_EQ(PlaceAddPart(nullptr, L"m.ini", text, 16), 0);
    EXPECT_EQ(PlaceAddFiles(nullptr, L"m.ini", L"w"), 0);
    int phase = 0;
    int percent = 0;
    EXPECT_EQ(PlacePoll(nullptr, &phase, &percent, text, 16), 0);
}

TEST_F(Exports, PhasesOfAnInstall)
{
    PlaceJob* job = PlaceStart(Folder().c_str(), L"1.0");
    ASSERT_NE(job, nullptr);
    PlaceStatus first = PollPlace(job);
    EXPECT_GE(first.phase, PLACE_PREPARING);  // never 0
    PlaceStatus open = WaitPlacePhase(job, PLACE_OPEN);
    ASSERT_EQ(open.phase, PLACE_OPEN) << Narrow(open.text);
    EXPECT_EQ(open.text, L"正在准备安装…");
    EXPECT_TRUE(DirExists(Folder()));

    EXPECT_EQ(PlaceCommit(job), 0) << "a commit without parts";
    std::wstring manifest = Manifest(Small);
    wchar_t tiny[8];
    EXPECT_EQ(PlaceAddPart(job, manifest.c_str(), tiny, 8), 0) << "the work directory does not fit";
    EXPECT_EQ(PlaceAddPart(job, nullptr, tiny, 8), 0);
    EXPECT_EQ(PollPlace(job).phase, PLACE_OPEN) << "bad arguments change nothing";

    wchar_t work[1024];
    ASSERT_EQ(PlaceAddPart(job, manifest.c_str(), work, 1024), 1);
    std::wstring workDir = work;
    EXPECT_EQ(workDir.rfind(Folder() + L"\\.qel-stage\\", 0), 0u) << Narrow(workDir);
    EXPECT_FALSE(DirExists(workDir)) << "qelfetch makes the work directory itself";
    ASSERT_TRUE(WriteEntryFiles(workDir, Small));

    ASSERT_EQ(PlaceCommit(job), 1);
    // From the commit on, no poll sees the open phase again.
    PlaceStatus placing = PollPlace(job);
    EXPECT_GE(placing.phase, PLACE_PLACING);
    int last = placing.phase;
    PlaceStatus s = placing;
    while (s.phase < PLACE_DONE) {
        s = PollPlace(job);
        EXPECT_GE(s.phase, last) << "phases only move forward";
        last = s.phase;
    }
    EXPECT_EQ(s.phase, PLACE_DONE) << Narrow(s.text);
    EXPECT_EQ(s.percent, 100);
    EXPECT_EQ(PlaceAddPart(job, manifest.c_str(), work, 1024), 0) << "no parts after the commit";
    EXPECT_EQ(PlaceCommit(job), 0) << "a done job does not place again";
    EXPECT_EQ(PlaceClose(job), 1);
    EXPECT_EQ(Difference(FilesOf(Snapshot(Folder())), Expected(Small)), "");
}

TEST_F(Exports, PollCutsTheTextAndSaysSo)
{
    PlaceJob* job = PlaceStart(Folder().c_str(), L"1");
    ASSERT_NE(job, nullptr);
    WaitPlacePhase(job, PLACE_OPEN);
    wchar_t text[4];
    int phase = 0;
    int percent = -1;
    EXPECT_EQ(PlacePoll(job, &phase, &percent, text, 4), 0);
    EXPECT_EQ(phase, PLACE_OPEN);
    EXPECT_EQ(percent, 0);
    EXPECT_STREQ(text, L"正在准");
    EXPECT_EQ(PlacePoll(job, &phase, &percent, text, 0), 0);
    EXPECT_EQ(PlacePoll(job, nullptr, &percent, text, 4), 0);
    EXPECT_EQ(PlaceClose(job), 1);
}

// A cancel in the open phase ends the job; the folder it made goes at the close.
TEST_F(Exports, CancelWhileOpen)
{
    PlaceJob* job = PlaceStart(Folder().c_str(), L"1");
    ASSERT_NE(job, nullptr);
    ASSERT_EQ(WaitPlacePhase(job, PLACE_OPEN).phase, PLACE_OPEN);
    wchar_t work[1024];
    ASSERT_EQ(PlaceAddPart(job, Manifest(Small).c_str(), work, 1024), 1);
    ASSERT_TRUE(WriteEntryFiles(work, Small));
    EXPECT_EQ(PlaceCancel(job), 1);
    PlaceStatus end = WaitPlaceEnd(job);
    EXPECT_EQ(end.phase, PLACE_CANCELLED);
    EXPECT_EQ(end.text, L"已取消，安装文件夹保持原样。");
    EXPECT_EQ(PlaceCommit(job), 0) << "a cancelled job does not place";
    EXPECT_EQ(PlaceClose(job), 1);
    EXPECT_FALSE(DirExists(Folder())) << "the folder the job made, left empty, goes";
    EXPECT_TRUE(DirExists(dir_.Path()));
}

// An install folder that existed before stays, empty as it was, after a job that did nothing.
TEST_F(Exports, CloseWithoutCommitLeavesAnExistingFolderAsItWas)
{
    ASSERT_TRUE(CreateDirectoryW(Folder().c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(Folder() + L"\\keep.txt", "keep"));
    FolderSnapshot before = Snapshot(Folder());
    PlaceJob* job = PlaceStart(Folder().c_str(), L"1");
    ASSERT_NE(job, nullptr);
    ASSERT_EQ(WaitPlacePhase(job, PLACE_OPEN).phase, PLACE_OPEN);
    EXPECT_EQ(PlaceClose(job), 1);
    EXPECT_EQ(Difference(Snapshot(Folder()), before), "");
}

// The folder is the one named when the job started, whatever the host's current directory is
// later; a relative manifest path is read when it is added.
TEST_F(Exports, RelativePathsAreFixedWhenGiven)
{
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(dir_.Path().c_str()));
    PlaceJob* job = PlaceStart(L"rel\\app", L"1");
    ASSERT_NE(job, nullptr);
    ASSERT_EQ(WaitPlacePhase(job, PLACE_OPEN).phase, PLACE_OPEN);
    ASSERT_TRUE(WritePartManifest(dir_ / L"rel.ini", Small));
    wchar_t work[1024];
    ASSERT_EQ(PlaceAddPart(job, L"rel.ini", work, 1024), 1);
    TempDir other;
    ASSERT_TRUE(SetCurrentDirectoryW(other.Path().c_str()));
    ASSERT_TRUE(WriteEntryFiles(work, Small));
    ASSERT_EQ(PlaceCommit(job), 1);
    PlaceStatus end = WaitPlaceEnd(job);
    EXPECT_EQ(end.phase, PLACE_DONE) << Narrow(end.text);
    EXPECT_EQ(PlaceClose(job), 1);
    SetCurrentDirectoryW(previous);
    EXPECT_EQ(Difference(FilesOf(Snapshot(dir_ / L"rel\\app")), Expected(Small)), "");
    EXPECT_FALSE(DirExists(other / L"rel"));
}

TEST_F(Exports, InstallFolderThatIsAFileFails)
{
    ASSERT_TRUE(WriteBytes(Folder(), "a file"));
    PlaceJob* job = PlaceStart(Folder().c_str(), L"1");
    ASSERT_NE(job, nullptr);
    PlaceStatus end = WaitPlaceEnd(job);
    EXPECT_EQ(end.phase, PLACE_FAILED);
    EXPECT_EQ(end.text, L"安装位置是一个文件，不是文件夹：" + Folder());
    wchar_t work[1024];
    EXPECT_EQ(PlaceAddPart(job, Manifest(Small).c_str(), work, 1024), 0);
    EXPECT_EQ(PlaceClose(job), 1);
    EXPECT_EQ(ReadBytes(Folder()), "a file");
}

TEST_F(Exports, InstallFolderUnderAFileFails)
{
    ASSERT_TRUE(WriteBytes(dir_ / L"plain", "a file"));
    PlaceOutcome out = InstallFiles(dir_ / L"plain\\app", L"1", Small, dir_.Path());
    EXPECT_EQ(out.end.phase, PLACE_FAILED);
    EXPECT_EQ(out.end.text, L"安装位置是一个文件，不是文件夹：" + dir_ / L"plain");
    EXPECT_EQ(ReadBytes(dir_ / L"plain"), "a file");
}

TEST_F(Exports, MissingParentsAreMadeAndGoAgainWhenNothingWasInstalled)
{
    std::wstring deep = dir_ / L"one\\two\\three";
    PlaceJob* job = PlaceStart(deep.c_str(), L"1");
    ASSERT_NE(job, nullptr);
    ASSERT_EQ(WaitPlacePhase(job, PLACE_OPEN).phase, PLACE_OPEN);
    EXPECT_TRUE(DirExists(deep));
    EXPECT_EQ(PlaceClose(job), 1);
    EXPECT_FALSE(DirExists(dir_ / L"one"));

    PlaceOutcome out = InstallFiles(deep, L"1", Small, dir_.Path());
    ASSERT_EQ(out.end.phase, PLACE_DONE) << Narrow(out.end.text);
    EXPECT_EQ(Difference(FilesOf(Snapshot(deep)), Expected(Small)), "");
}

TEST_F(Exports, UninstallWithoutARecordFails)
{
    ASSERT_TRUE(CreateDirectoryW(Folder().c_str(), nullptr));
    PlaceOutcome out = UninstallFolder(Folder());
    EXPECT_EQ(out.end.phase, PLACE_FAILED);
    EXPECT_EQ(out.end.text, L"找不到安装记录：" + Folder() + L"\\qel-install.ini");
    EXPECT_TRUE(DirExists(Folder()));
    out = UninstallFolder(dir_ / L"never");
    EXPECT_EQ(out.end.phase, PLACE_FAILED);
    EXPECT_FALSE(DirExists(dir_ / L"never"));
}

}  // namespace
