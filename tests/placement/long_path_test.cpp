// Paths longer than MAX_PATH: an install folder of 300 units and names that take the paths past
// 500; installed, upgraded, delivered into by qelfetch and uninstalled.
#include <gtest/gtest.h>

#include <string>

#include "delivery/payload.h"
#include "support/files.h"
#include "support/jobs.h"
#include "support/placement_bed.h"
#include "support/release.h"

namespace {

class LongPaths : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = dir_.Path();
        while (folder_.size() < 300) folder_ += L"\\长路径-abcdefghijklmnopqrstuvwxyz-0123456789";
    }
    void TearDown() override { RemoveLongTree(folder_.substr(0, folder_.find(L"\\长路径"))); }
    std::wstring Name(const std::wstring& leaf) const
    {
        return std::wstring(L"sub-") + std::wstring(100, L's') + L"\\" + std::wstring(100, L'n') + L"-" + leaf;
    }
    TempDir dir_;
    std::wstring folder_;
};

TEST_F(LongPaths, InstallUpgradeUninstall)
{
    ASSERT_GT(folder_.size() + Name(L"a").size(), 500u);
    ReleaseFiles v1 = {{Name(L"a.txt"), "a v1"}, {Name(L"b.txt"), "b v1"}};
    ReleaseFiles v2 = {{Name(L"a.txt"), "a v2"}, {L"c.txt", "c"}};
    PlaceOutcome out = InstallFiles(folder_, L"1", v1, dir_.Path());
    ASSERT_EQ(out.end.phase, PLACE_DONE) << Narrow(out.end.text);
    EXPECT_EQ(out.closed, 1);
    EXPECT_EQ(Difference(FilesOf(Snapshot(folder_)), Expected(v1)), "");
    out = InstallFiles(folder_, L"2", v2, dir_.Path());
    ASSERT_EQ(out.end.phase, PLACE_DONE) << Narrow(out.end.text);
    EXPECT_EQ(Difference(FilesOf(Snapshot(folder_)), Expected(v2)), "");
    out = UninstallFolder(folder_);
    ASSERT_EQ(out.end.phase, PLACE_DONE) << Narrow(out.end.text);
    EXPECT_EQ(GetFileAttributesW(LongForm(folder_).c_str()), INVALID_FILE_ATTRIBUTES);
}

// The work directory handed out is in the \\?\ form past MAX_PATH; qelfetch delivers into it.
TEST_F(LongPaths, DeliveredByQelfetch)
{
    Release release = MakeRelease({"first file", std::string(5000, 'x')});
    release.manifest.Set(L"0", L"Name", Name(L"one.txt"));
    release.manifest.Set(L"1", L"Name", L"two.bin");
    ASSERT_TRUE(release.manifest.Write(dir_ / L"m.ini"));
    ASSERT_TRUE(WriteBytes(dir_ / L"application.cab", release.cabinet));
    PlaceJob* job = PlaceStart(folder_.c_str(), L"1");
    ASSERT_EQ(WaitPlacePhase(job, PLACE_OPEN).phase, PLACE_OPEN);
    wchar_t work[1024];
    ASSERT_EQ(PlaceAddPart(job, (dir_ / L"m.ini").c_str(), work, 1024), 1);
    EXPECT_EQ(std::wstring(work).rfind(L"\\\\?\\", 0), 0u) << Narrow(work);
    DeliveryJob* delivery = PayloadStart((dir_ / L"m.ini").c_str(), (dir_ / L"application.cab").c_str(), work);
    ASSERT_NE(delivery, nullptr);
    JobStatus delivered = WaitForEnd(delivery);
    ASSERT_EQ(delivered.phase, PAYLOAD_READY) << Narrow(delivered.text);
    ASSERT_EQ(PlaceCommit(job), 1);
    PlaceStatus end = WaitPlaceEnd(job);
    EXPECT_EQ(end.phase, PLACE_DONE) << Narrow(end.text);
    EXPECT_EQ(PayloadClose(delivery), 1);
    EXPECT_EQ(PlaceClose(job), 1);
    EXPECT_EQ(Difference(FilesOf(Snapshot(folder_)), {{Name(L"one.txt"), "first file"}, {L"two.bin", std::string(5000, 'x')}}),
              "");
}

}  // namespace
