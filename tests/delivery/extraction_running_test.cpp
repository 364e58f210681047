// Extraction while it runs: progress and entry names in the status, cancelling and closing in
// the middle of it, and two jobs of one process extracting one after the other. One large,
// compressible release (four members of 5 MB) is built once and shared by the tests.
#include <gtest/gtest.h>

#include <windows.h>

#include <tlhelp32.h>
#include <winternl.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/jobs.h"
#include "support/release.h"
#include "support/worker_threads.h"

namespace {

const std::wstring StartText = L"正在展开应用文件…";
const std::wstring Names[] = {L"程序\\主程序.exe", L"资源 1.pak", L"data.bin", L"说明.txt"};

struct LargeRelease {
    TempDir dir;
    std::vector<std::string> contents;
    std::wstring Package() const { return dir / L"application.cab"; }
    std::wstring ManifestPath() const { return dir / L"manifest.ini"; }
};

class Running : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        large_ = std::make_unique<LargeRelease>();
        for (int i = 0; i < 4; ++i) {
            large_->contents.push_back(TextBytes(5000000));
            large_->contents.back()[0] = static_cast<char>('a' + i);  // four different members
        }
        Release release = MakeRelease(large_->contents);
        for (int i = 0; i < 4; ++i) release.manifest.Set(std::to_wstring(i), L"Name", Names[i]);
        ASSERT_FALSE(release.cabinet.empty());
        ASSERT_TRUE(WriteBytes(large_->Package(), release.cabinet));
        ASSERT_TRUE(release.manifest.Write(large_->ManifestPath()));
    }
    static void TearDownTestSuite() { large_.reset(); }

    // A job over the shared release, extracting into a fresh directory of its own.
    static DeliveryJob* Start(const TempDir& dir)
    {
        return PayloadStart(large_->ManifestPath().c_str(), large_->Package().c_str(), (dir / L"work").c_str());
    }

    static void ExpectExtracted(const TempDir& dir)
    {
        const wchar_t* files[] = {L"0000", L"0001", L"0002", L"0003"};
        for (int i = 0; i < 4; ++i) {
            EXPECT_TRUE(ReadBytes(dir / (std::wstring(L"work\\") + files[i])) == large_->contents[i]) << i;
        }
    }

    static std::unique_ptr<LargeRelease> large_;
};

std::unique_ptr<LargeRelease> Running::large_;

// Inside the decompressor: a member's bytes have been written and the last write is still to
// come (it publishes 100 percent). A job in this state holds the process's extraction lock.
bool MidExtraction(const JobStatus& s)
{
    return s.phase == PAYLOAD_EXTRACTING && s.text != StartText && s.percent < 100;
}

TEST_F(Running, StatusShowsEntryNamesAndGrowingPercent)
{
    TempDir dir;
    DeliveryJob* job = Start(dir);
    ASSERT_NE(job, nullptr);
    std::set<std::wstring> texts;
    int lastPercent = 0;
    JobStatus s = Poll(job);
    for (DWORD start = GetTickCount(); !IsTerminal(s.phase) && GetTickCount() - start < 60000; s = Poll(job)) {
        Sleep(1);
        if (s.phase != PAYLOAD_EXTRACTING) continue;
        texts.insert(s.text);
        EXPECT_GE(s.percent, lastPercent);
        lastPercent = s.percent;
    }
    EXPECT_EQ(s.phase, PAYLOAD_READY);
    std::set<std::wstring> expected(std::begin(Names), std::end(Names));
    texts.erase(StartText);
    EXPECT_EQ(texts, expected);
    EXPECT_GT(lastPercent, 0);
    ExpectExtracted(dir);
    EXPECT_EQ(PayloadClose(job), 1);
}

TEST_F(Running, CancelDuringExtraction)
{
    // As soon as extraction is announced, and in the middle of writing a member.
    bool (*moments[])(const JobStatus&) = {[](const JobStatus& s) { return s.phase >= PAYLOAD_EXTRACTING; },
                                           MidExtraction};
    for (auto moment : moments) {
        TempDir dir;
        DeliveryJob* job = Start(dir);
        ASSERT_NE(job, nullptr);
        JobStatus seen = WaitUntil(job, moment);
        ASSERT_EQ(seen.phase, PAYLOAD_EXTRACTING);
        EXPECT_EQ(PayloadCancel(job), 1);
        JobStatus end = WaitForEnd(job);
        EXPECT_EQ(end.phase, PAYLOAD_CANCELLED);
        EXPECT_EQ(end.percent, 0);
        EXPECT_EQ(end.text, L"已取消，未开始安装。");
        EXPECT_EQ(PayloadClose(job), 1);
        EXPECT_FALSE(DirExists(dir / L"work"));
    }
}

TEST_F(Running, CloseDuringExtractionReturnsAfterTheWorker)
{
    TempDir dir;
    std::vector<HANDLE> before = WorkerThreads();
    EXPECT_TRUE(before.empty());  // the other tests' workers have all ended
    for (HANDLE h : before) CloseHandle(h);

    DeliveryJob* job = Start(dir);
    ASSERT_NE(job, nullptr);
    ASSERT_TRUE(MidExtraction(WaitUntil(job, MidExtraction)));
    std::vector<HANDLE> workers = WorkerThreads();
    ASSERT_EQ(workers.size(), 1u);
    ASSERT_EQ(WaitForSingleObject(workers[0], 0), static_cast<DWORD>(WAIT_TIMEOUT));

    EXPECT_EQ(PayloadClose(job), 1);
    EXPECT_EQ(WaitForSingleObject(workers[0], 0), static_cast<DWORD>(WAIT_OBJECT_0));
    CloseHandle(workers[0]);
    EXPECT_FALSE(DirExists(dir / L"work"));
    EXPECT_TRUE(ListDir(dir.Path()).empty());
    EXPECT_TRUE(FileExists(large_->Package()));
}

TEST_F(Running, TwoJobsExtractOneAfterTheOther)
{
    TempDir dirs[2];
    DeliveryJob* jobs[2] = {Start(dirs[0]), Start(dirs[1])};
    ASSERT_NE(jobs[0], nullptr);
    ASSERT_NE(jobs[1], nullptr);

    // Polls alternate between the jobs. A job seen mid-extraction on both sides of a poll of
    // the other holds the extraction lock all that time, so the other cannot be mid-extraction
    // in between.
    bool mid[3] = {false, false, false};  // the last three polls, newest last
    bool seenMid[2] = {false, false};
    int overlaps = 0;
    JobStatus last[2];
    DWORD start = GetTickCount();
    for (int turn = 0; GetTickCount() - start < 60000; ++turn) {
        Sleep(1);
        JobStatus& s = last[turn % 2];
        s = Poll(jobs[turn % 2]);
        mid[0] = mid[1];
        mid[1] = mid[2];
        mid[2] = MidExtraction(s);
        seenMid[turn % 2] = seenMid[turn % 2] || mid[2];
        if (turn >= 2 && mid[0] && mid[1] && mid[2]) ++overlaps;
        if (IsTerminal(last[0].phase) && IsTerminal(last[1].phase)) break;
    }
    EXPECT_TRUE(seenMid[0] && seenMid[1]);  // both extractions were watched while they ran
    EXPECT_EQ(overlaps, 0);

    for (int k = 0; k < 2; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(Poll(jobs[k]).phase, PAYLOAD_READY);
        ExpectExtracted(dirs[k]);
        EXPECT_EQ(PayloadClose(jobs[k]), 1);
    }
}

}  // namespace
