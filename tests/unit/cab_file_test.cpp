// The decompressor callbacks on their own, for what no cabinet can make the decompressor do:
// open another name, write the package, seek past the accepted range, write past an entry's
// size, or call back for a cancelled job.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "delivery/cab_file.h"
#include "delivery/extraction_lock.h"
#include "support/files.h"
#include "support/release.h"

namespace {

struct JobDeleter {
    void operator()(DeliveryJob* job) const
    {
        CloseHandle(job->cancelEvent);
        HeapFree(GetProcessHeap(), 0, job);
    }
};

// A job as the worker has it during extraction, published as the job being extracted.
class Callbacks : public ::testing::Test {
protected:
    void SetUp() override
    {
        job_.reset(static_cast<DeliveryJob*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(DeliveryJob))));
        job_->cancelEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        ASSERT_TRUE(WriteBytes(dir_ / L"package", std::string("MSCF-not-really")));
        lstrcpyW(job_->packagePath, (dir_ / L"package").c_str());
        // The worker has verified this file: extraction may open it, and nothing else.
        HANDLE verified = CreateFileW(job_->packagePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                      nullptr);
        ASSERT_NE(verified, INVALID_HANDLE_VALUE);
        ASSERT_TRUE(ReadFileIdentity(verified, &job_->verifiedIdentity));
        CloseHandle(verified);
        lstrcpyW(job_->workDir, dir_.Path().c_str());
        job_->entryCount = 1;
        job_->entries[0].size = 4;
        job_->unpackedSize = 4;
        lstrcpyW(job_->entries[0].name, L"only.bin");
        ExtractionJob = job_.get();
    }
    void TearDown() override
    {
        while (job_->openFiles != nullptr) CabClose(reinterpret_cast<INT_PTR>(job_->openFiles));
        ExtractionJob = nullptr;
    }

    INT_PTR Open(const char* name)
    {
        std::string copy = name;
        return CabOpen(copy.data(), 0, 0);
    }

    INT_PTR Notify(FDINOTIFICATIONTYPE type, const char* name, LONG size, INT_PTR file = 0)
    {
        std::string copy = name;
        FDINOTIFICATION n = {};
        n.psz1 = copy.data();
        n.cb = size;
        n.hf = file;
        n.attribs = 0x20;
        n.pv = job_.get();
        return CabNotify(type, &n);
    }

    TempDir dir_;
    std::unique_ptr<DeliveryJob, JobDeleter> job_;
};

TEST_F(Callbacks, OnlyThePackageNameOpens)
{
    const char* others[] = {"Application.cab", "application.cab ", "application.ca", "..\\application.cab",
                            "next.cab", ""};
    for (const char* name : others) EXPECT_EQ(Open(name), -1) << name;
    EXPECT_EQ(job_->openFiles, nullptr);

    INT_PTR package = Open("application.cab");
    ASSERT_NE(package, -1);
    EXPECT_EQ(job_->openFiles, CabFileOf(package));
    EXPECT_EQ(CabFileOf(package)->entry, -1);
    char data[8] = {};
    EXPECT_EQ(CabRead(package, data, 4), 4u);
    EXPECT_EQ(std::string(data, 4), "MSCF");
    EXPECT_EQ(CabWrite(package, data, 1), static_cast<UINT>(-1));  // the package is never written
    EXPECT_EQ(CabClose(package), 0);
    EXPECT_EQ(job_->openFiles, nullptr);

    ExtractionJob = nullptr;  // no extraction running
    EXPECT_EQ(Open("application.cab"), -1);
}

TEST_F(Callbacks, SeekStaysWithinTheAcceptedRange)
{
    INT_PTR package = Open("application.cab");
    ASSERT_NE(package, -1);
    EXPECT_EQ(CabSeek(package, 2000000000, SEEK_SET), 2000000000);
    EXPECT_EQ(CabSeek(package, 1, SEEK_CUR), -1);
    EXPECT_EQ(CabSeek(package, -3, SEEK_END), 12);
    EXPECT_EQ(CabSeek(package, -13, SEEK_CUR), -1);  // before the start
    EXPECT_EQ(CabSeek(package, 0, 3), -1);
    EXPECT_EQ(CabSeek(package, 0, SEEK_CUR), 12);
    EXPECT_EQ(CabClose(0), -1);
    EXPECT_EQ(CabClose(-1), -1);
}

TEST_F(Callbacks, WritesAreBoundedByTheEntrySize)
{
    std::string bytes = "abcd";
    std::string hex = Narrow(Sha256Hex(bytes));  // the manifest's digest of the four bytes
    for (int i = 0; i < 32; ++i) {
        job_->entries[0].sha256[i] = static_cast<BYTE>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
    }

    INT_PTR member = Notify(fdintCOPY_FILE, "0000", 4);
    ASSERT_NE(member, -1);
    EXPECT_EQ(job_->entries[0].created, 1);
    EXPECT_EQ(CabWrite(member, bytes.data(), 3), 3u);
    EXPECT_EQ(CabWrite(member, bytes.data(), 2), static_cast<UINT>(-1));  // 5 > 4
    EXPECT_EQ(job_->extractedBytes, 3u);
    EXPECT_EQ(CabWrite(member, bytes.data() + 3, 1), 1u);
    EXPECT_EQ(Notify(fdintCLOSE_FILE_INFO, "0000", 0, member), 1);
    EXPECT_EQ(job_->entries[0].verified, 1);
    EXPECT_EQ(job_->openFiles, nullptr);
    EXPECT_EQ(ReadBytes(dir_ / L"0000"), "abcd");

    // A second member of the same name is refused before anything is opened.
    EXPECT_EQ(Notify(fdintCOPY_FILE, "0000", 4), -1);
    EXPECT_EQ(job_->openFiles, nullptr);
}

TEST_F(Callbacks, CancelledJobGetsNoCallback)
{
    INT_PTR package = Open("application.cab");
    ASSERT_NE(package, -1);
    RequestCancel(job_.get());
    char data[4];
    EXPECT_EQ(Open("application.cab"), -1);
    EXPECT_EQ(CabRead(package, data, 4), static_cast<UINT>(-1));
    EXPECT_EQ(CabSeek(package, 0, SEEK_SET), -1);
    EXPECT_EQ(Notify(fdintCABINET_INFO, "", 0), -1);
    EXPECT_EQ(Notify(fdintCOPY_FILE, "0000", 4), -1);
    EXPECT_EQ(job_->entries[0].created, 0);
    EXPECT_EQ(job_->phase, 0);  // nothing published
    EXPECT_EQ(CabClose(package), 0);
}

}  // namespace
