// Concurrency: eight jobs at once in one process, each driven from its own thread, which polls
// it and at a random point (fixed seed) cancels it, closes it in the middle of its work, or
// lets it run to the end. No crash; every job that is watched to its end ends in a terminal
// phase that fits what was done to it (a cancelled job may have been ready first); every close
// returns 1; nothing is left on disk, and no handle is left in the process.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "fuzz_seed.h"
#include "support/files.h"
#include "support/process_handles.h"
#include "support/runs.h"

namespace {

constexpr int Jobs = 8;
constexpr int Rounds = 10;
constexpr unsigned FixedSeed = 88;

enum Action { CancelAtPhase, CloseMidway, RunToEnd, CancelAtOnce, ActionCount };

struct Result {
    Action action = RunToEnd;
    bool started = false, ended = true, filesRight = true;
    int phase = 0;  // final phase when watched to the end
    int closed = -1;
    std::string detail;
};

struct Shared {
    std::wstring manifest, package;
    std::vector<std::string> contents;
    HANDLE gate;
};

void Drive(const Shared& shared, const std::wstring& work, unsigned seed, Result* result)
{
    std::mt19937 random(seed);
    result->action = static_cast<Action>(random() % ActionCount);
    const int targetPhase = 1 + static_cast<int>(random() % 4);
    const unsigned polls = random() % 300;
    WaitForSingleObject(shared.gate, INFINITE);

    DeliveryJob* job = PayloadStart(shared.manifest.c_str(), shared.package.c_str(), work.c_str());
    result->started = job != nullptr;
    if (job == nullptr) return;
    auto pause = [&] {
        if (random() % 3 == 0) Sleep(random() % 3);
    };
    JobStatus status = Poll(job);
    switch (result->action) {
    case CancelAtPhase:
        while (status.phase < targetPhase) {
            pause();
            status = Poll(job);
        }
        for (unsigned i = 0; i < polls % 50 && !IsTerminal(status.phase); ++i) status = Poll(job);
        PayloadCancel(job);
        status = WaitForEnd(job, 30000);
        result->ended = status.phase == PAYLOAD_CANCELLED || status.phase == PAYLOAD_READY;
        break;
    case CloseMidway:
        for (unsigned i = 0; i < polls; ++i) {
            pause();
            status = Poll(job);
        }
        break;
    case CancelAtOnce:
        PayloadCancel(job);
        status = WaitForEnd(job, 30000);
        result->ended = status.phase == PAYLOAD_CANCELLED;
        break;
    default:
        status = WaitForEnd(job, 30000);
        result->ended = status.phase == PAYLOAD_READY;
        break;
    }
    result->phase = status.phase;
    result->detail = Narrow(status.text);
    if (status.phase == PAYLOAD_READY) {
        for (size_t i = 0; i < shared.contents.size(); ++i) {
            if (ReadBytes(work + L"\\000" + std::to_wstring(i)) != shared.contents[i]) result->filesRight = false;
        }
    }
    result->closed = PayloadClose(job);
}

TEST(Concurrency, EightJobsPolledCancelledAndClosedAtRandom)
{
    const unsigned seed = FuzzSeed(FixedSeed, "Concurrency");
    TempDir dir;
    Shared shared;
    shared.contents = {TextBytes(3000000), RandomBytes(200000, 4), ""};
    Release release = MakeRelease(shared.contents);
    ASSERT_FALSE(release.cabinet.empty());
    shared.manifest = dir / L"manifest.ini";
    shared.package = dir / L"application.cab";
    ASSERT_TRUE(WriteBytes(shared.package, release.cabinet));
    ASSERT_TRUE(release.manifest.Write(shared.manifest));

    long handles = 0;
    int seen[ActionCount] = {};
    // Round 0 warms the platform up (its first-use handles); the handle count is taken after it.
    for (int round = 0; round <= Rounds; ++round) {
        if (round == 1) handles = CountProcessHandles();
        shared.gate = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        ASSERT_NE(shared.gate, nullptr);
        std::vector<Result> results(Jobs);
        std::vector<std::thread> threads;
        for (int j = 0; j < Jobs; ++j) {
            threads.emplace_back(Drive, std::cref(shared), dir / (L"work" + std::to_wstring(j)),
                                 seed * 7919u + static_cast<unsigned>(round * Jobs + j), &results[j]);
        }
        SetEvent(shared.gate);
        for (std::thread& t : threads) t.join();
        CloseHandle(shared.gate);

        for (int j = 0; j < Jobs; ++j) {
            const Result& r = results[j];
            SCOPED_TRACE("seed " + std::to_string(seed) + ", round " + std::to_string(round) + ", job " +
                         std::to_string(j) + ", action " + std::to_string(r.action));
            ++seen[r.action];
            EXPECT_TRUE(r.started);
            EXPECT_TRUE(r.ended) << "phase " << r.phase << " " << r.detail;
            EXPECT_TRUE(r.filesRight);
            EXPECT_EQ(r.closed, 1);
        }
        std::set<std::wstring> names;
        for (const std::wstring& name : ListDir(dir.Path())) names.insert(name);
        EXPECT_EQ(names, (std::set<std::wstring>{L"manifest.ini", L"application.cab"})) << "round " << round;
    }
    EXPECT_LE(CountProcessHandles(), handles + 4) << "from " << handles;
    for (int a = 0; a < ActionCount; ++a) EXPECT_GT(seen[a], 0) << "action " << a << " never drawn";
}

}  // namespace
