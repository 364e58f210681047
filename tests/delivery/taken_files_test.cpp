// Closing a job after the host has taken what it needs: a file the job created that is no
// longer on its path is gone, which is what closing wants; a file someone else put on one of
// the job's paths is not the job's and stays.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/files.h"
#include "support/runs.h"

namespace {

std::wstring EntryName(size_t i)
{
    wchar_t name[8];
    swprintf(name, 8, L"%04u", static_cast<unsigned>(i));
    return name;
}

// A finished job in its own folder: the release, the work directory "work" (extracted and
// ready), and a folder "taken" where the host moves files to.
class TakenFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        contents_ = {TextBytes(7000), RandomBytes(4000, 3), "x"};
        Release release = MakeRelease(contents_);
        ASSERT_FALSE(release.cabinet.empty());
        ASSERT_TRUE(WriteBytes(dir_ / L"application.cab", release.cabinet));
        ASSERT_TRUE(release.manifest.Write(dir_ / L"m.ini"));
        ASSERT_TRUE(CreateDirectoryW(Taken().c_str(), nullptr));
        job_ = PayloadStart((dir_ / L"m.ini").c_str(), (dir_ / L"application.cab").c_str(), Work().c_str());
        ASSERT_NE(job_, nullptr);
        JobStatus end = WaitForEnd(job_);
        ASSERT_EQ(end.phase, PAYLOAD_READY) << Narrow(end.text);
    }
    void TearDown() override
    {
        if (job_ != nullptr) PayloadClose(job_);
    }

    int Close()
    {
        int result = PayloadClose(job_);
        job_ = nullptr;
        return result;
    }

    std::wstring Work() const { return dir_ / L"work"; }
    std::wstring Taken() const { return dir_ / L"taken"; }
    std::wstring InWork(size_t i) const { return Work() + L"\\" + EntryName(i); }
    std::wstring InTaken(size_t i) const { return Taken() + L"\\" + EntryName(i); }

    TempDir dir_;
    std::vector<std::string> contents_;
    DeliveryJob* job_ = nullptr;
};

TEST_F(TakenFiles, EveryEntryMovedOut)
{
    for (size_t i = 0; i < contents_.size(); ++i) ASSERT_TRUE(MoveFileW(InWork(i).c_str(), InTaken(i).c_str()));
    EXPECT_EQ(Close(), 1);
    EXPECT_FALSE(DirExists(Work()));
    for (size_t i = 0; i < contents_.size(); ++i) EXPECT_EQ(ReadBytes(InTaken(i)), contents_[i]) << i;
    EXPECT_TRUE(FileExists(dir_ / L"application.cab"));
}

TEST_F(TakenFiles, SomeMovedOutTheRestDeleted)
{
    ASSERT_TRUE(MoveFileW(InWork(1).c_str(), InTaken(1).c_str()));
    EXPECT_EQ(Close(), 1);
    EXPECT_FALSE(DirExists(Work()));
    EXPECT_EQ(ReadBytes(InTaken(1)), contents_[1]);
}

// The host takes one entry and puts a file of its own under the same name (a copy of the
// same bytes, so only identity tells them apart): that file is not the job's.
TEST_F(TakenFiles, AFileInTheTakenOnesPlaceStays)
{
    ASSERT_TRUE(MoveFileW(InWork(0).c_str(), InTaken(0).c_str()));
    ASSERT_TRUE(WriteBytes(InWork(0), contents_[0]));
    EXPECT_EQ(Close(), 0);
    ASSERT_TRUE(DirExists(Work()));
    EXPECT_EQ(ListDir(Work()), std::vector<std::wstring>{EntryName(0)});
    EXPECT_EQ(ReadBytes(InWork(0)), contents_[0]);
    EXPECT_EQ(ReadBytes(InTaken(0)), contents_[0]);
}

// The host deletes an entry and writes a file of its own on the same path at once. The new file
// may get the deleted one's file index (under Wine, the inode is handed out again), so only the
// rest of the identity, the times the job sealed, tells it from the job's: it stays.
TEST_F(TakenFiles, AFileWrittenWhereAnEntryWasDeletedStays)
{
    for (size_t i = 0; i < contents_.size(); ++i) {
        ASSERT_TRUE(DeleteFileW(InWork(i).c_str()));
        ASSERT_TRUE(WriteBytes(InWork(i), contents_[i]));
    }
    EXPECT_EQ(Close(), 0);
    ASSERT_TRUE(DirExists(Work()));
    for (size_t i = 0; i < contents_.size(); ++i) EXPECT_EQ(ReadBytes(InWork(i)), contents_[i]) << i;
}

// Entries swapped among themselves are still the job's own files, each under another name.
TEST_F(TakenFiles, EntriesRenamedWithinTheDirectoryStay)
{
    ASSERT_TRUE(MoveFileW(InWork(2).c_str(), (Work() + L"\\renamed").c_str()));
    ASSERT_TRUE(MoveFileW(InWork(1).c_str(), InWork(2).c_str()));
    EXPECT_EQ(Close(), 0);
    // 0002 now holds entry 1, a file of the job's on another of its paths: not the file 0002's
    // identity names, so it stays; so does the renamed file. Entry 0 went.
    std::vector<std::wstring> left = ListDir(Work());
    EXPECT_EQ(left.size(), 2u);
    EXPECT_FALSE(FileExists(InWork(0)));
    EXPECT_EQ(ReadBytes(InWork(2)), contents_[1]);
    EXPECT_EQ(ReadBytes(Work() + L"\\renamed"), contents_[2]);
}

// A reader of the host's that allows deletion does not keep the job from deleting its file; one
// that does not allow it keeps the file, and the result says so.
TEST_F(TakenFiles, OpenEntries)
{
    HANDLE shared = CreateFileW(InWork(0).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(shared, INVALID_HANDLE_VALUE);
    HANDLE exclusive = CreateFileW(InWork(1).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Close(), 0);
    CloseHandle(shared);
    EXPECT_FALSE(FileExists(InWork(0)));
    EXPECT_EQ(ReadBytes(InWork(1)), contents_[1]);
    CloseHandle(exclusive);
    EXPECT_FALSE(FileExists(InWork(2)));
}

}  // namespace
