// Soak: a thousand complete deliveries of a small release, one after another in one process.
// Every one must reach ready with the right files and leave nothing on disk, and the process's
// kernel handles and private bytes must come back to where they started (after a warm-up that
// lets the platform make its first-use allocations: cabinet and hash providers, heap arenas).
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "support/files.h"
#include "support/process_handles.h"
#include "support/runs.h"

namespace {

constexpr int Cycles = 1000;
constexpr int WarmUp = 20;
// Fixed slack: 4 handles, 1 MiB of private bytes, 256 KiB of busy heap. A leak of one handle
// or one job record per cycle would exceed these by far (a job record alone is over 130 KB, a
// leaked hash state or file record a few hundred bytes, 1,000 times). The slack covers the
// platform's own caches, which may settle a little later than the warm-up.
constexpr long HandleSlack = 4;
constexpr SIZE_T PrivateBytesSlack = 1024 * 1024;
constexpr long long HeapBytesSlack = 256 * 1024;

TEST(Soak, ThousandReadyDeliveriesLeaveNothingBehind)
{
    TempDir dir;
    Release release = MakeRelease({TextBytes(6000), RandomBytes(3000, 5), ""});
    ASSERT_FALSE(release.cabinet.empty());
    const std::wstring manifest = dir / L"manifest.ini", package = dir / L"application.cab", work = dir / L"work";
    ASSERT_TRUE(WriteBytes(package, release.cabinet));
    ASSERT_TRUE(release.manifest.Write(manifest));

    int notReady = 0, notClosed = 0, wrongFiles = 0, leftBehind = 0;
    auto cycle = [&](bool check) {
        DeliveryJob* job = PayloadStart(manifest.c_str(), package.c_str(), work.c_str());
        if (job == nullptr) {
            ++notReady;
            return;
        }
        JobStatus end = WaitUntil(job, [](const JobStatus& s) { return IsTerminal(s.phase); }, 30000);
        if (end.phase != PAYLOAD_READY || end.text != texts::Ready || end.percent != 100) ++notReady;
        if (check && (ReadBytes(work + L"\\0000") != release.contents[0] ||
                      ReadBytes(work + L"\\0001") != release.contents[1] || !FileExists(work + L"\\0002"))) {
            ++wrongFiles;
        }
        if (PayloadClose(job) != 1) ++notClosed;
        if (DirExists(work)) ++leftBehind;
    };

    for (int i = 0; i < WarmUp; ++i) cycle(true);
    const long handles = CountProcessHandles();
    const SIZE_T privateBytes = PrivateBytes();
    const long long heapBytes = BusyHeapBytes();
    ASSERT_GT(handles, 0);
    ASSERT_GT(heapBytes, 0);
    ASSERT_GT(privateBytes, 0u);

    // The files are read back on every tenth cycle: reading them costs more than the delivery.
    for (int i = 0; i < Cycles; ++i) cycle(i % 10 == 0);

    EXPECT_EQ(notReady, 0);
    EXPECT_EQ(wrongFiles, 0);
    EXPECT_EQ(notClosed, 0);
    EXPECT_EQ(leftBehind, 0);
    EXPECT_LE(CountProcessHandles(), handles + HandleSlack) << "from " << handles;
    EXPECT_LE(PrivateBytes(), privateBytes + PrivateBytesSlack) << "from " << privateBytes;
    EXPECT_LE(BusyHeapBytes(), heapBytes + HeapBytesSlack) << "from " << heapBytes;
    std::set<std::wstring> names;
    for (const std::wstring& name : ListDir(dir.Path())) names.insert(name);
    EXPECT_EQ(names, (std::set<std::wstring>{L"manifest.ini", L"application.cab"}));
}

}  // namespace
