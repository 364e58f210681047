// A host may unload qelfetch.dll right after its last call (an installer's plug-in call with
// unload on every call). The job's threads must not run code that is gone: the worker, and
// WinHTTP's callback threads until the request's closing notification has returned. This test
// loads the DLL itself (it does not link it), so FreeLibrary really unloads it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "delivery/payload.h"
#include "support/files.h"
#include "support/https_bed.h"
#include "support/release.h"

namespace {

using StartFn = DeliveryJob*(WINAPI*)(const wchar_t*, const wchar_t*, const wchar_t*);
using PollFn = int(WINAPI*)(DeliveryJob*, int*, int*, wchar_t*, int);
using JobFn = int(WINAPI*)(DeliveryJob*);

const wchar_t* const DllName = L"qelfetch.dll";

struct Fetch {
    HMODULE module = nullptr;
    StartFn start = nullptr;
    PollFn poll = nullptr;
    JobFn cancel = nullptr;
    JobFn close = nullptr;

    bool Load()
    {
        module = LoadLibraryW(DllName);
        if (module == nullptr) return false;
        start = reinterpret_cast<StartFn>(reinterpret_cast<void*>(GetProcAddress(module, "PayloadStart")));
        poll = reinterpret_cast<PollFn>(reinterpret_cast<void*>(GetProcAddress(module, "PayloadPoll")));
        cancel = reinterpret_cast<JobFn>(reinterpret_cast<void*>(GetProcAddress(module, "PayloadCancel")));
        close = reinterpret_cast<JobFn>(reinterpret_cast<void*>(GetProcAddress(module, "PayloadClose")));
        return start && poll && cancel && close;
    }

    int Phase(DeliveryJob* job) const
    {
        int phase = 0, percent = 0;
        wchar_t text[1024];
        poll(job, &phase, &percent, text, 1024);
        return phase;
    }

    // Polls until the job reaches phase at least (or ends); the phase seen.
    int WaitForPhase(DeliveryJob* job, int phase) const
    {
        DWORD start = GetTickCount();
        int seen = Phase(job);
        while (seen < phase && GetTickCount() - start < 60000) {
            Sleep(1);
            seen = Phase(job);
        }
        return seen;
    }
};

class Unload : public ::testing::Test {
protected:
    // After a download, WinHTTP's thread drops the callback's reference a moment after the
    // closing notification woke the worker, so the last reference may go just after the host's.
    static bool Unloaded()
    {
        DWORD start = GetTickCount();
        while (GetModuleHandleW(DllName) != nullptr) {
            if (GetTickCount() - start > 5000) return false;
            Sleep(1);
        }
        return true;
    }

    void SetUp() override
    {
        ASSERT_EQ(GetModuleHandleW(DllName), nullptr) << "the test program must not link the DLL";
    }

    // One host's life: load, start, cancel once the job is in phase, close, unload at once.
    // Returns the phase the job was in when it was cancelled.
    int Cycle(const std::wstring& manifest, const std::wstring& package, const std::wstring& work, int phase)
    {
        Fetch fetch;
        EXPECT_TRUE(fetch.Load());
        if (fetch.module == nullptr) return 0;
        DeliveryJob* job = fetch.start(manifest.c_str(), package.c_str(), work.c_str());
        EXPECT_NE(job, nullptr);
        int seen = 0;
        if (job != nullptr) {
            seen = phase > 0 ? fetch.WaitForPhase(job, phase) : 0;
            fetch.cancel(job);
            fetch.close(job);
        }
        FreeLibrary(fetch.module);
        EXPECT_TRUE(Unloaded()) << "still loaded 5 s after the host's FreeLibrary";
        return seen;
    }
};

// How many times each way; a cycle with a download costs a TLS connection under Wine.
constexpr int Cycles = 200;

TEST_F(Unload, WorkerKeepsTheDllWhileItRuns)
{
    TempDir dir;
    Release release = MakeRelease({RandomBytes(20 * 1000 * 1000, 41)}, false);
    ASSERT_TRUE(WriteBytes(dir / L"application.cab", release.cabinet));
    ASSERT_TRUE(release.manifest.Write(dir / L"m.ini"));

    Fetch fetch;
    ASSERT_TRUE(fetch.Load());
    DeliveryJob* job =
        fetch.start((dir / L"m.ini").c_str(), (dir / L"application.cab").c_str(), (dir / L"work").c_str());
    ASSERT_NE(job, nullptr);
    ASSERT_EQ(fetch.WaitForPhase(job, PAYLOAD_VERIFYING), PAYLOAD_VERIFYING);
    // The host lets go of its reference while the worker runs: the worker's keeps the code.
    FreeLibrary(fetch.module);
    EXPECT_EQ(GetModuleHandleW(DllName), fetch.module);
    // The host takes a reference again before it calls anything (same address: never unloaded).
    ASSERT_EQ(LoadLibraryW(DllName), fetch.module);
    EXPECT_EQ(fetch.cancel(job), 1);
    EXPECT_EQ(fetch.close(job), 1);
    FreeLibrary(fetch.module);
    EXPECT_EQ(GetModuleHandleW(DllName), nullptr);
    EXPECT_FALSE(DirExists(dir / L"work"));
}

TEST_F(Unload, RightAfterCloseWhateverTheJobDid)
{
    TempDir dir;
    // Three stored members of 2 MB: verification and extraction each last a little while.
    Release release = MakeRelease({RandomBytes(2000000, 42), RandomBytes(2000000, 43), RandomBytes(2000000, 44)}, false);
    ASSERT_TRUE(WriteBytes(dir / L"application.cab", release.cabinet));
    ASSERT_TRUE(release.manifest.Write(dir / L"m.ini"));
    const std::wstring work = dir / L"work";

    int extracting = 0;
    for (int i = 0; i < Cycles; ++i) {
        // Closed at once (the worker may not have read the manifest yet), then cancelled in
        // the middle of the extraction.
        Cycle(dir / L"m.ini", dir / L"application.cab", work, 0);
        if (Cycle(dir / L"m.ini", dir / L"application.cab", work, PAYLOAD_EXTRACTING) == PAYLOAD_EXTRACTING) {
            ++extracting;
        }
        ASSERT_FALSE(DirExists(work)) << "cycle " << i;
    }
    EXPECT_GE(extracting, Cycles / 2) << "too few cycles were cancelled while extracting";
}

// Cancelled while the body trickles in: the request is closed with a read outstanding, and
// WinHTTP delivers the closing notification on its own thread while the host is already
// unloading. Before the callback kept its own reference (and WinHTTP stayed loaded), this
// crashed the test program within a few cycles under Wine: a WinHTTP thread in unmapped code.
TEST_F(Unload, RightAfterCloseDuringADownload)
{
    HttpsBed bed;
    ASSERT_TRUE(FindHttpsBed(&bed)) << "the HTTPS test server is not running (ctest starts it)";
    Release release = MakeRelease({RandomBytes(2000000, 45)}, false);
    ServedFile served(bed, release.cabinet);
    ASSERT_TRUE(served.Ok());
    TempDir dir;
    // Trickled: the download is still running when the job is cancelled.
    release.manifest.Set(L"Package", L"Url", bed.Url(L"trickle", served.Name()));
    ASSERT_TRUE(release.manifest.Write(dir / L"m.ini"));

    int downloading = 0;
    for (int i = 0; i < Cycles; ++i) {
        if (Cycle(dir / L"m.ini", dir / L"application.cab", dir / L"work", PAYLOAD_DOWNLOADING) ==
            PAYLOAD_DOWNLOADING) {
            ++downloading;
        }
        ASSERT_FALSE(FileExists(dir / L"application.cab")) << "cycle " << i;
    }
    EXPECT_EQ(downloading, Cycles);
    // WinHTTP may still have work of its own queued: it stays loaded after qelfetch is gone.
    EXPECT_NE(GetModuleHandleW(L"winhttp.dll"), nullptr);
}

}  // namespace
