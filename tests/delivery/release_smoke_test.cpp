// A release placed by the host is verified and extracted end to end.
#include <gtest/gtest.h>

#include "support/files.h"
#include "support/jobs.h"
#include "support/release.h"

namespace {

TEST(Release, PrePlacedPackageIsVerified)
{
    TempDir dir;
    Release release = MakeRelease({TextBytes(100000), RandomBytes(70000, 1), ""});
    ASSERT_FALSE(release.cabinet.empty());
    ASSERT_TRUE(WriteBytes(dir / L"application.cab", release.cabinet));
    ASSERT_TRUE(release.manifest.Write(dir / L"manifest.ini"));

    DeliveryJob* job = PayloadStart((dir / L"manifest.ini").c_str(), (dir / L"application.cab").c_str(),
                                    (dir / L"work").c_str());
    ASSERT_NE(job, nullptr);
    JobStatus end = WaitForEnd(job);
    // Extraction is not there yet: verification passes and the general failure follows.
    EXPECT_EQ(end.phase, PAYLOAD_FAILED);
    EXPECT_EQ(end.text, L"应用包准备失败，未开始安装。");
    EXPECT_EQ(PayloadClose(job), 1);
    EXPECT_TRUE(FileExists(dir / L"application.cab"));
}

}  // namespace
