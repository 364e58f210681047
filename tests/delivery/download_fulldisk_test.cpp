// A disk that fills up while the job writes to it. The free-space test passes at the start,
// but other programs keep writing: here the test itself fills drive Q: (a private 8 MB tmpfs,
// mounted by a ctest fixture as root; skipped otherwise) while the package is downloaded to it,
// and again before members are extracted to it. Each stage ends with its own text, nothing
// partial counts as verified, and closing leaves nothing of the job's on the drive.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/busy_extraction.h"
#include "support/download_case.h"
#include "support/runs.h"

namespace {

const std::wstring Drive = L"Q:\\";
const std::wstring Filler = L"Q:\\filler";
constexpr ULONGLONG DriveSize = 8 * 1024 * 1024;

ULONGLONG FreeBytes()
{
    ULARGE_INTEGER available = {};
    return GetDiskFreeSpaceExW(Drive.c_str(), &available, nullptr, nullptr) ? available.QuadPart : 0;
}

// Writes the filler until the drive has at most leave bytes free (0: until it is full).
bool Fill(ULONGLONG leave)
{
    HANDLE file = CreateFileW(Filler.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::vector<char> block(64 * 1024, 'f');
    for (;;) {
        ULONGLONG free = FreeBytes();
        if (free <= leave) break;
        DWORD chunk = static_cast<DWORD>(free - leave < block.size() ? free - leave : block.size());
        DWORD written = 0;
        if (!WriteFile(file, block.data(), chunk, &written, nullptr) || written == 0) break;
    }
    CloseHandle(file);
    return FreeBytes() <= leave + 4096;
}

class FullDisk : public ::testing::Test {
protected:
    void SetUp() override
    {
        ULARGE_INTEGER available = {}, total = {};
        if (!GetDiskFreeSpaceExW(Drive.c_str(), &available, &total, nullptr) || total.QuadPart != DriveSize) {
            GTEST_SKIP() << "no private 8 MB drive Q: (the tmpfs fixture needs root)";
        }
        ASSERT_EQ(ListDir(Drive), std::vector<std::wstring>{}) << "Q: is not empty";
    }
    void TearDown() override { DeleteFileW(Filler.c_str()); }
};

TEST_F(FullDisk, WhileThePackageIsDownloaded)
{
    HttpsBed bed;
    ASSERT_TRUE(FindHttpsBed(&bed)) << "the HTTPS test server is not running (ctest starts it)";
    // About 3 MB, trickled by the server (16 KiB every 20 ms): seconds of download.
    Release release = MakeRelease({RandomBytes(3 * 1000 * 1000, 21)}, false);
    ServedFile served(bed, release.cabinet);
    ASSERT_TRUE(served.Ok());
    TempDir dir;
    release.manifest.Set(L"Package", L"Url", bed.Url(L"trickle", served.Name()));
    ASSERT_TRUE(release.manifest.Write(dir / L"m.ini"));
    const std::wstring package = Drive + L"application.cab";

    DeliveryJob* job = PayloadStart((dir / L"m.ini").c_str(), package.c_str(), (dir / L"work").c_str());
    ASSERT_NE(job, nullptr);
    JobStatus seen = WaitUntil(job, [](const JobStatus& s) {
        return (s.phase == PAYLOAD_DOWNLOADING && s.percent >= 5) || IsTerminal(s.phase);
    });
    ASSERT_EQ(seen.phase, PAYLOAD_DOWNLOADING) << Narrow(seen.text);
    ASSERT_TRUE(Fill(0));

    JobStatus end = WaitForEnd(job);
    EXPECT_EQ(end.phase, PAYLOAD_FAILED);
    EXPECT_EQ(end.percent, 0);
    EXPECT_EQ(end.text, L"应用包下载失败（错误码 112）。") << Narrow(end.text);
    EXPECT_TRUE(FileExists(package)) << "the partial package is there until the job is closed";
    EXPECT_EQ(PayloadClose(job), 1);
    EXPECT_EQ(ListDir(Drive), std::vector<std::wstring>{L"filler"});
    EXPECT_FALSE(DirExists(dir / L"work"));
}

TEST_F(FullDisk, BeforeTheMembersAreExtracted)
{
    // The package stays on C:; the work directory goes to Q:, whose free space passes the test.
    std::vector<std::string> contents = {RandomBytes(1500 * 1000, 31), RandomBytes(1500 * 1000, 32),
                                         RandomBytes(1500 * 1000, 33)};
    Release release = MakeRelease(contents, false);
    TempDir dir;
    ASSERT_TRUE(WriteBytes(dir / L"application.cab", release.cabinet));
    ASSERT_TRUE(release.manifest.Write(dir / L"m.ini"));
    const std::wstring work = Drive + L"work";

    BusyExtraction busy;
    ASSERT_TRUE(busy.Ok());
    DeliveryJob* job = PayloadStart((dir / L"m.ini").c_str(), (dir / L"application.cab").c_str(), work.c_str());
    ASSERT_NE(job, nullptr);
    JobStatus waiting = WaitUntil(job, [](const JobStatus& s) { return s.phase >= PAYLOAD_EXTRACTING; });
    ASSERT_EQ(waiting.phase, PAYLOAD_EXTRACTING) << Narrow(waiting.text);
    // Room for part of the first member only.
    ASSERT_TRUE(Fill(400 * 1024));
    const bool busyStillExtracting = busy.StillExtracting();

    JobStatus end = WaitForEnd(job);
    EXPECT_EQ(end.phase, PAYLOAD_FAILED);
    EXPECT_EQ(end.text, L"应用包解压失败或文件清单不完整。") << Narrow(end.text);
    // What extraction left: a partial first member at most, never a complete one.
    std::vector<std::wstring> left = ListDir(work);
    EXPECT_LE(left.size(), 1u);
    for (const std::wstring& name : left) {
        std::string bytes = ReadBytes(work + L"\\" + name);
        EXPECT_LT(bytes.size(), contents[0].size()) << Narrow(name);
        EXPECT_EQ(bytes, contents[0].substr(0, bytes.size())) << Narrow(name);
    }
    EXPECT_EQ(PayloadClose(job), 1);
    EXPECT_EQ(ListDir(Drive), std::vector<std::wstring>{L"filler"});
    EXPECT_EQ(busy.Finish(), PAYLOAD_READY);
    EXPECT_TRUE(busyStillExtracting) << "the fill may have come after this job's extraction started";
}

}  // namespace
