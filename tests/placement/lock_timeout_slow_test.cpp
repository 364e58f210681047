// The wait for another job on the folder is bounded: after 20 seconds the second job fails with
// a clear line, and the first goes on unaffected.
#include <gtest/gtest.h>

#include "support/files.h"
#include "support/placement_bed.h"

namespace {

TEST(LockTimeout, SecondJobGivesUpAfterTwentySeconds)
{
    TempDir dir;
    std::wstring folder = dir / L"app";
    PlaceJob* first = PlaceStart(folder.c_str(), L"1");
    ASSERT_NE(first, nullptr);
    ASSERT_EQ(WaitPlacePhase(first, PLACE_OPEN).phase, PLACE_OPEN);
    DWORD start = GetTickCount();
    PlaceJob* second = PlaceStart(folder.c_str(), L"2");
    ASSERT_NE(second, nullptr);
    PlaceStatus end = WaitPlaceEnd(second, 40000);
    DWORD waited = GetTickCount() - start;
    EXPECT_EQ(end.phase, PLACE_FAILED);
    EXPECT_EQ(end.text, L"另一个安装程序正在使用安装文件夹，请等它结束后再试：" + folder);
    EXPECT_GE(waited, 19500u);
    EXPECT_LT(waited, 25000u);
    EXPECT_EQ(PlaceClose(second), 1);

    ReleaseFiles files = {{L"a.txt", "a"}};
    ASSERT_TRUE(WritePartManifest(dir / L"m.ini", files));
    wchar_t work[1024];
    ASSERT_EQ(PlaceAddPart(first, (dir / L"m.ini").c_str(), work, 1024), 1);
    ASSERT_TRUE(WriteEntryFiles(work, files));
    ASSERT_EQ(PlaceCommit(first), 1);
    EXPECT_EQ(WaitPlaceEnd(first).phase, PLACE_DONE);
    EXPECT_EQ(PlaceClose(first), 1);
    EXPECT_EQ(Difference(FilesOf(Snapshot(folder)), Expected(files)), "");
}

}  // namespace
