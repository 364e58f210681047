// qelplace with qelfetch, as the NSIS include drives them: the delivery goes into the work
// directory the placement job hands out (inside the install folder's staging), placing follows,
// and both jobs close without anything left: after success (the files were moved out of the
// work directory) and after a failed placing (qelfetch deletes its files again).
#include <gtest/gtest.h>

#include "delivery/payload.h"
#include "support/files.h"
#include "support/jobs.h"
#include "support/placement_bed.h"
#include "support/release.h"

namespace {

class Delivery : public ::testing::Test {
protected:
    void SetUp() override
    {
        release_ = MakeRelease({TextBytes(30000), RandomBytes(20000, 7), "tiny"});
        release_.manifest.Set(L"0", L"Name", L"readme.txt");
        release_.manifest.Set(L"1", L"Name", L"bin\\data.bin");
        release_.manifest.Set(L"2", L"Name", L"bin\\tiny.txt");
        ASSERT_TRUE(release_.manifest.Write(dir_ / L"m.ini"));
        ASSERT_TRUE(WriteBytes(dir_ / L"application.cab", release_.cabinet));
    }
    std::wstring Folder() const { return dir_ / L"app"; }
    FolderSnapshot Want() const
    {
        return {{L"readme.txt", release_.contents[0]}, {L"bin\\data.bin", release_.contents[1]}, {L"bin\\tiny.txt", "tiny"}};
    }
    // Delivers into the job's staging; returns the delivery (ready) or null.
    DeliveryJob* Deliver(PlaceJob* job)
    {
        if (WaitPlacePhase(job, PLACE_OPEN).phase != PLACE_OPEN) return nullptr;
        wchar_t work[1024];
        if (!PlaceAddPart(job, (dir_ / L"m.ini").c_str(), work, 1024)) return nullptr;
        DeliveryJob* delivery = PayloadStart((dir_ / L"m.ini").c_str(), (dir_ / L"application.cab").c_str(), work);
        if (delivery == nullptr) return nullptr;
        JobStatus end = WaitForEnd(delivery);
        EXPECT_EQ(end.phase, PAYLOAD_READY) << Narrow(end.text);
        return delivery;
    }
    TempDir dir_;
    Release release_;
};

TEST_F(Delivery, DeliveredAndPlaced)
{
    PlaceJob* job = PlaceStart(Folder().c_str(), L"1.0");
    DeliveryJob* delivery = Deliver(job);
    ASSERT_NE(delivery, nullptr);
    ASSERT_EQ(PlaceCommit(job), 1);
    PlaceStatus end = WaitPlaceEnd(job);
    EXPECT_EQ(end.phase, PLACE_DONE) << Narrow(end.text);
    EXPECT_EQ(PayloadClose(delivery), 1) << "the files moved out count as gone";
    EXPECT_EQ(PlaceClose(job), 1);
    EXPECT_EQ(Difference(Snapshot(Folder()), [&] {
                  FolderSnapshot want = Want();
                  want[L"bin\\"] = "";
                  want[L"qel-install.ini"] = Snapshot(Folder())[L"qel-install.ini"];
                  return want;
              }()),
              "");
}

TEST_F(Delivery, FailedPlacingLeavesNothing)
{
    ASSERT_TRUE(CreateDirectoryW(Folder().c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((Folder() + L"\\readme.txt").c_str(), nullptr));
    FolderSnapshot before = Snapshot(Folder());
    PlaceJob* job = PlaceStart(Folder().c_str(), L"1.0");
    DeliveryJob* delivery = Deliver(job);
    ASSERT_NE(delivery, nullptr);
    ASSERT_EQ(PlaceCommit(job), 1);
    PlaceStatus end = WaitPlaceEnd(job);
    EXPECT_EQ(end.phase, PLACE_FAILED);
    EXPECT_EQ(end.text, L"安装位置已有同名文件夹：" + Folder() + L"\\readme.txt");
    EXPECT_EQ(PayloadClose(delivery), 1) << "qelfetch's own files were given back to their paths";
    EXPECT_EQ(PlaceClose(job), 1);
    EXPECT_EQ(Difference(Snapshot(Folder()), before), "");
}

// Closing the placement first takes qelfetch's files with the staging folder; qelfetch then
// finds them gone and its work directory too, and says so.
TEST_F(Delivery, ClosingInTheWrongOrderStillLeavesNothing)
{
    PlaceJob* job = PlaceStart(Folder().c_str(), L"1.0");
    DeliveryJob* delivery = Deliver(job);
    ASSERT_NE(delivery, nullptr);
    EXPECT_EQ(PlaceClose(job), 1);
    EXPECT_EQ(PayloadClose(delivery), 0);
    EXPECT_FALSE(DirExists(Folder()));
}

}  // namespace
