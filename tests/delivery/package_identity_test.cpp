// The package that is extracted is the package that was verified. The package path runs
// through a folder link; between verification and extraction the link is pointed at another
// folder holding another cabinet of the same size and layout. Extraction must refuse it: not
// one member may be written from bytes that were never verified.
//
// To place the swap exactly between the two stages, another job in the same process keeps
// extraction busy (support/busy_extraction.h).
//
// After a download the same holds one stage earlier: the package that is verified is the file
// the download created, not whatever the path reaches once the download has closed it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/busy_extraction.h"
#include "support/files.h"
#include "support/https_bed.h"
#include "support/runs.h"
#include "support/unix_links.h"

namespace {

const std::wstring IncompleteText = L"应用包解压失败或文件清单不完整。";
const std::wstring NotTheDownloadedFileText = L"应用包无法读取（错误码 1006）。";

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

// The link on the package path is pointed elsewhere while the package trickles in. The other
// folder holds a byte-for-byte copy of the served package, so only identity can tell that it is
// not the file the download wrote: the job must not verify or extract it.
TEST(PackageIdentity, LinkPointedElsewhereDuringTheDownloadIsRefused)
{
    HttpsBed bed;
    ASSERT_TRUE(FindHttpsBed(&bed)) << "the HTTPS test server is not running (ctest starts it)";
    TempDir dir;
    if (UnixPath(dir.Path()).empty()) GTEST_SKIP() << "links are made with /bin/ln under Wine";

    Release release = MakeRelease({RandomBytes(2000000, 5)}, false);
    ServedFile served(bed, release.cabinet);
    ASSERT_TRUE(served.Ok());
    release.manifest.Set(L"Package", L"Url", bed.Url(L"trickle", served.Name()));
    ASSERT_TRUE(release.manifest.Write(dir / L"m.ini"));
    ASSERT_TRUE(CreateDirectoryW((dir / L"one").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((dir / L"two").c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(dir / L"two\\application.cab", release.cabinet));
    if (!MakeLink(dir / L"one", dir / L"via")) GTEST_SKIP() << "no link was made";

    DeliveryJob* job = PayloadStart((dir / L"m.ini").c_str(), (dir / L"via\\application.cab").c_str(),
                                    (dir / L"work").c_str());
    ASSERT_NE(job, nullptr);
    JobStatus downloading =
        WaitUntil(job, [](const JobStatus& s) { return s.phase > PAYLOAD_DOWNLOADING || s.percent > 0; });
    ASSERT_EQ(downloading.phase, PAYLOAD_DOWNLOADING) << Narrow(downloading.text);
    ASSERT_TRUE(RemoveLink(dir / L"via"));
    ASSERT_TRUE(MakeLink(dir / L"two", dir / L"via"));
    const bool swappedInTime = Poll(job).phase == PAYLOAD_DOWNLOADING;

    JobStatus end = WaitForEnd(job);
    EXPECT_TRUE(swappedInTime) << "the download ended before the link was swapped";
    EXPECT_EQ(end.phase, PAYLOAD_FAILED);
    EXPECT_EQ(end.text, NotTheDownloadedFileText) << Narrow(end.text);
    EXPECT_FALSE(DirExists(dir / L"work")) << "extraction started";
    // The path now reaches the copy, which is not the job's: it stays, and the result says so.
    // The downloaded file is complete, under the folder the path no longer reaches.
    EXPECT_EQ(PayloadClose(job), 0);
    EXPECT_EQ(ReadBytes(dir / L"two\\application.cab"), release.cabinet);
    EXPECT_EQ(ReadBytes(dir / L"one\\application.cab"), release.cabinet);
    EXPECT_TRUE(RemoveLink(dir / L"via"));
}

}  // namespace
