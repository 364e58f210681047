// The package that is extracted is the package that was verified. The package path runs
// through a folder link; between verification and extraction the link is pointed at another
// folder holding another cabinet of the same size and layout. Extraction must refuse it: not
// one member may be written from bytes that were never verified.
//
// To place the swap exactly between the two stages, another job in the same process keeps
// extraction busy (support/busy_extraction.h).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/busy_extraction.h"
#include "support/files.h"
#include "support/runs.h"
#include "support/unix_links.h"

namespace {

const std::wstring IncompleteText = L"应用包解压失败或文件清单不完整。";

TEST(PackageIdentity, LinkPointedElsewhereBeforeExtractionIsRefused)
{
    TempDir dir;
    if (UnixPath(dir.Path()).empty()) GTEST_SKIP() << "links are made with /bin/ln under Wine";

    // Two releases whose cabinets have the same size and member names, different bytes.
    Release verified = MakeRelease({RandomBytes(30000, 1), RandomBytes(20000, 2)}, false);
    Release other = MakeRelease({RandomBytes(30000, 3), RandomBytes(20000, 4)}, false);
    ASSERT_FALSE(verified.cabinet.empty());
    ASSERT_EQ(verified.cabinet.size(), other.cabinet.size());
    ASSERT_TRUE(CreateDirectoryW((dir / L"one").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((dir / L"two").c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(dir / L"one\\application.cab", verified.cabinet));
    ASSERT_TRUE(WriteBytes(dir / L"two\\application.cab", other.cabinet));
    ASSERT_TRUE(verified.manifest.Write(dir / L"m.ini"));
    // "via" points at one.
    if (!MakeLink(dir / L"one", dir / L"via")) GTEST_SKIP() << "no link was made";

    BusyExtraction busy;
    ASSERT_TRUE(busy.Ok());

    DeliveryJob* job = PayloadStart((dir / L"m.ini").c_str(), (dir / L"via\\application.cab").c_str(),
                                    (dir / L"work").c_str());
    ASSERT_NE(job, nullptr);
    JobStatus waiting = WaitUntil(job, [](const JobStatus& s) { return s.phase >= PAYLOAD_EXTRACTING; });
    ASSERT_EQ(waiting.phase, PAYLOAD_EXTRACTING) << Narrow(waiting.text);

    // The swap, from the Unix side (Wine's MoveFileExW follows a folder link and moves its
    // target): the link is removed and a new one to two takes its name.
    ASSERT_TRUE(RemoveLink(dir / L"via"));
    ASSERT_TRUE(MakeLink(dir / L"two", dir / L"via"));
    ASSERT_EQ(ReadBytes(dir / L"via\\application.cab"), other.cabinet);
    const bool busyStillExtracting = busy.StillExtracting();

    JobStatus end = WaitForEnd(job);
    EXPECT_EQ(end.phase, PAYLOAD_FAILED);
    EXPECT_EQ(end.text, IncompleteText) << Narrow(end.text);
    EXPECT_EQ(ListDir(dir / L"work"), std::vector<std::wstring>{}) << "a member was written";
    EXPECT_EQ(PayloadClose(job), 1);
    EXPECT_FALSE(DirExists(dir / L"work"));

    EXPECT_EQ(busy.Finish(), PAYLOAD_READY);
    EXPECT_TRUE(busyStillExtracting) << "the other job's extraction ended before the swap: the swap may have come "
                                        "after this job's extraction started";

    // Nothing of either cabinet was touched; the links go with /bin/rm.
    EXPECT_EQ(ReadBytes(dir / L"one\\application.cab"), verified.cabinet);
    EXPECT_EQ(ReadBytes(dir / L"two\\application.cab"), other.cabinet);
    EXPECT_TRUE(RemoveLink(dir / L"via"));
}

}  // namespace
