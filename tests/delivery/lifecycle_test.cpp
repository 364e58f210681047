// The life of a job on a large placed package: cancelling and closing while it runs, the
// package held against writers during verification, what polls see while it runs, and that
// hundreds of jobs leave no handle or memory behind.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/files.h"
#include "support/process_handles.h"
#include "support/runs.h"
#include "support/worker_threads.h"

namespace {

// Large enough that verification takes a while (and that done * 100 leaves 32 bits).
constexpr size_t LargeSize = 48 * 1000 * 1000;

class Lifecycle : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir_ = new TempDir;
        std::string package = RandomBytes(LargeSize, 11);
        ASSERT_TRUE(WriteBytes(Package(), package));
        Manifest m = ValidManifest({1});
        DescribePackage(m, package);
        ASSERT_TRUE(m.Write(*dir_ / L"intact.ini"));
        m.Set(L"Package", L"Sha256", Sha256Hex("another package"));
        ASSERT_TRUE(m.Write(*dir_ / L"mismatch.ini"));
        ASSERT_TRUE(ValidManifest({1}, 5).Write(*dir_ / L"small.ini"));
        ASSERT_TRUE(WriteBytes(*dir_ / L"small.cab", "small"));
    }
    static void TearDownTestSuite()
    {
        delete dir_;
        dir_ = nullptr;
    }

    static std::wstring Package() { return *dir_ / L"large.cab"; }
    static std::wstring ManifestPath(const wchar_t* name) { return *dir_ / name; }
    static std::wstring WorkDir() { return *dir_ / L"work"; }

    static DeliveryJob* Start(const wchar_t* manifest = L"intact.ini", const std::wstring& package = Package())
    {
        return PayloadStart(ManifestPath(manifest).c_str(), package.c_str(), WorkDir().c_str());
    }

    // Nothing but the test's own files is in the folder: no work directory, no stray file.
    static void ExpectOnlyTheTestsFiles()
    {
        std::set<std::wstring> names;
        for (const std::wstring& name : ListDir(dir_->Path())) names.insert(name);
        EXPECT_EQ(names, (std::set<std::wstring>{L"large.cab", L"intact.ini", L"mismatch.ini", L"small.ini",
                                                 L"small.cab"}));
    }

    static TempDir* dir_;
};

TempDir* Lifecycle::dir_ = nullptr;

bool Verifying(const JobStatus& s) { return s.phase == PAYLOAD_VERIFYING || IsTerminal(s.phase); }

TEST_F(Lifecycle, CancelEndsInTheCancelledPhase)
{
    // Right after the start: the worker sees the cancel at its first test.
    DeliveryJob* early = Start();
    ASSERT_NE(early, nullptr);
    EXPECT_EQ(PayloadCancel(early), 1);
    JobStatus end = WaitForEnd(early);
    EXPECT_EQ(end.phase, PAYLOAD_CANCELLED);
    EXPECT_EQ(end.percent, 0);
    EXPECT_EQ(end.text, texts::Cancelled);
    EXPECT_EQ(PayloadClose(early), 1);

    // During verification: within one chunk, replacing the progress.
    DeliveryJob* verifying = Start();
    ASSERT_NE(verifying, nullptr);
    JobStatus seen = WaitUntil(verifying, Verifying);
    ASSERT_EQ(seen.phase, PAYLOAD_VERIFYING) << "verification ended before it was seen";
    EXPECT_EQ(PayloadCancel(verifying), 1);
    end = WaitForEnd(verifying);
    EXPECT_EQ(end.phase, PAYLOAD_CANCELLED);
    EXPECT_EQ(end.percent, 0);
    EXPECT_EQ(end.text, texts::Cancelled);
    EXPECT_EQ(PayloadClose(verifying), 1);
    ExpectOnlyTheTestsFiles();
}

// The last step of the worker decides: once it has run, a cancel changes nothing, and the
// first failure stays the job's text.
TEST_F(Lifecycle, CancelAfterTheEndChangesNothing)
{
    const struct {
        const wchar_t* manifest;
        std::wstring package;
        int phase;
        std::wstring text;
        bool cancelFirst;
    } cases[] = {
        {L"small.ini", *dir_ / L"absent.cab", PAYLOAD_FAILED, texts::Unreadable(ERROR_FILE_NOT_FOUND), false},
        {L"mismatch.ini", Package(), PAYLOAD_FAILED, texts::DigestMismatch, false},
        {L"intact.ini", Package(), PAYLOAD_CANCELLED, texts::Cancelled, true},
    };
    for (const auto& c : cases) {
        DeliveryJob* job = Start(c.manifest, c.package);
        ASSERT_NE(job, nullptr);
        if (c.cancelFirst) PayloadCancel(job);
        JobStatus end = WaitForEnd(job);
        EXPECT_EQ(end.phase, c.phase) << Narrow(c.text);
        EXPECT_EQ(end.text, c.text) << Narrow(end.text);
        // A published failure is final only once the worker's last step has run: a cancel that
        // comes before it turns the failure into the cancelled phase.
        ASSERT_TRUE(WaitForWorkers());
        EXPECT_EQ(PayloadCancel(job), 1);
        for (int i = 0; i < 10; ++i) {
            Sleep(5);
            JobStatus later = Poll(job);
            EXPECT_EQ(later.phase, end.phase);
            EXPECT_EQ(later.percent, end.percent);
            EXPECT_EQ(later.text, end.text);
        }
        EXPECT_EQ(PayloadClose(job), 1);
    }
}

// From verification to the end of extraction the job holds the package shared for reading only.
TEST_F(Lifecycle, PackageCannotBeWrittenWhileVerifying)
{
    DeliveryJob* job = Start();
    ASSERT_NE(job, nullptr);
    ASSERT_EQ(WaitUntil(job, Verifying).phase, PAYLOAD_VERIFYING);

    HANDLE writer = CreateFileW(Package().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD writeError = GetLastError();
    BOOL deleted = DeleteFileW(Package().c_str());
    DWORD deleteError = GetLastError();
    HANDLE reader = CreateFileW(Package().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    JobStatus after = Poll(job);

    EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(writeError, DWORD(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(deleted);
    EXPECT_EQ(deleteError, DWORD(ERROR_SHARING_VIOLATION));
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);  // other readers are welcome
    EXPECT_EQ(after.phase, PAYLOAD_VERIFYING) << "the attempts came after verification";
    if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
    if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
    EXPECT_EQ(PayloadClose(job), 1);
    EXPECT_TRUE(FileExists(Package()));
}

// PayloadClose waits for the worker: when it returns, the worker's handle of the package is
// closed, so the package opens for writing at once, with no retry.
TEST_F(Lifecycle, CloseDuringVerificationWaitsForTheWorker)
{
    for (int round = 0; round < 3; ++round) {
        DeliveryJob* job = Start();
        ASSERT_NE(job, nullptr);
        ASSERT_EQ(WaitUntil(job, Verifying).phase, PAYLOAD_VERIFYING);
        EXPECT_EQ(PayloadClose(job), 1);
        HANDLE writer = CreateFileW(Package().c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_NE(writer, INVALID_HANDLE_VALUE) << "error " << GetLastError();
        if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
        ExpectOnlyTheTestsFiles();
    }
}

// Everything one poll reads is one published status: the phase and the text belong together,
// the phase only moves forward and the percentage only grows within verification.
TEST_F(Lifecycle, PollsNeverSeeATornStatus)
{
    struct Watch {
        DeliveryJob* job = nullptr;
        std::vector<JobStatus> seen;
    };
    const wchar_t* manifests[] = {L"intact.ini", L"mismatch.ini", L"intact.ini"};
    Watch watches[3];
    std::vector<std::thread> pollers;
    for (int i = 0; i < 3; ++i) {
        watches[i].job = Start(manifests[i]);
        ASSERT_NE(watches[i].job, nullptr);
        // The third job is cancelled early in its verification, by its own poller, which polls
        // without pausing and so cannot miss the window even on a loaded machine.
        const bool cancelIt = i == 2;
        pollers.emplace_back([&w = watches[i], cancelIt] {
            // Every poll is checked; only changes are kept.
            bool cancelled = false;
            for (;;) {
                JobStatus s = Poll(w.job);
                if (w.seen.empty() || s.phase != w.seen.back().phase || s.percent != w.seen.back().percent ||
                    s.text != w.seen.back().text) {
                    w.seen.push_back(s);
                }
                if (cancelIt && !cancelled && s.phase == PAYLOAD_VERIFYING && s.percent >= 25) {
                    PayloadCancel(w.job);
                    cancelled = true;
                }
                if (IsTerminal(s.phase)) break;
            }
        });
    }
    for (std::thread& t : pollers) t.join();

    for (int i = 0; i < 3; ++i) {
        const std::vector<JobStatus>& seen = watches[i].seen;
        const JobStatus& end = seen.back();
        std::set<int> percents;
        for (size_t k = 0; k < seen.size(); ++k) {
            const JobStatus& s = seen[k];
            switch (s.phase) {
            case PAYLOAD_PREPARING:
                EXPECT_EQ(s.text, texts::Preparing);
                EXPECT_EQ(s.percent, 0);
                break;
            case PAYLOAD_VERIFYING:
                EXPECT_EQ(s.text, texts::Verifying);
                percents.insert(s.percent);
                break;
            case PAYLOAD_EXTRACTING:
                EXPECT_EQ(s.text, L"正在展开应用文件…");  // a non-cabinet has no member to name
                break;
            case PAYLOAD_FAILED:
            case PAYLOAD_CANCELLED:
                EXPECT_EQ(s.text, end.text);  // the one final text, never a mix
                EXPECT_EQ(s.percent, 0);
                break;
            default:
                ADD_FAILURE() << "phase " << s.phase;
            }
            if (k > 0) {
                const JobStatus& before = seen[k - 1];
                EXPECT_GE(s.phase, before.phase) << "job " << i << " sample " << k;
                if (s.phase == before.phase && s.phase == PAYLOAD_VERIFYING) {
                    EXPECT_GE(s.percent, before.percent) << "job " << i << " sample " << k;
                }
            }
        }
        // The pollers really watched the verification.
        EXPECT_GE(percents.size(), 5u) << "job " << i;
        if (i == 2) {
            EXPECT_EQ(percents.count(100), 0u) << "cancelled before the end";
        }
        PayloadClose(watches[i].job);
    }
    EXPECT_EQ(watches[0].seen.back().phase, PAYLOAD_FAILED);  // no cabinet, or no extraction yet
    EXPECT_NE(watches[0].seen.back().text, texts::DigestMismatch);
    EXPECT_EQ(watches[1].seen.back().text, texts::DigestMismatch);
    EXPECT_EQ(watches[2].seen.back().text, texts::Cancelled);
    ExpectOnlyTheTestsFiles();
}

// Start and close, in every way a job can end, 200 times: the process keeps no handle and no
// memory of them (a job record alone is about 140 KB).
TEST_F(Lifecycle, ManyJobsLeaveNothingBehind)
{
    auto cycle = [](int i) {
        switch (i % 4) {
        case 0: {  // closed at once, while the worker may still read the manifest
            PayloadClose(Start());
            break;
        }
        case 1: {  // closed at once while a large package is opened or verified
            DeliveryJob* job = Start();
            Sleep(1);
            PayloadClose(job);
            break;
        }
        case 2: {  // a small package verified, to the end
            Outcome o = RunJob(ManifestPath(L"small.ini"), *dir_ / L"small.cab", WorkDir());
            EXPECT_EQ(o.end.phase, PAYLOAD_FAILED);
            break;
        }
        default: {  // an invalid manifest, to the end
            Outcome o = RunJob(ManifestPath(L"absent.ini"), Package(), WorkDir());
            EXPECT_EQ(o.end.text, texts::ManifestInvalid);
            break;
        }
        }
    };
    for (int i = 0; i < 8; ++i) cycle(i);  // the platform's own first-use allocations
    long handles = CountProcessHandles();
    SIZE_T privateBytes = PrivateBytes();
    ASSERT_GT(handles, 0);
    ASSERT_GT(privateBytes, 0u);
    for (int i = 0; i < 200; ++i) cycle(i);
    EXPECT_EQ(CountProcessHandles(), handles);
    EXPECT_LT(PrivateBytes(), privateBytes + 2 * 1024 * 1024) << "from " << privateBytes;
    ExpectOnlyTheTestsFiles();
}

}  // namespace
