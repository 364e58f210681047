// A release placed by the host is verified and extracted end to end.
#include <gtest/gtest.h>

#include "support/files.h"
#include "support/jobs.h"
#include "support/release.h"

namespace {

TEST(Release, PrePlacedPackageIsVerifiedAndExtracted)
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
    EXPECT_EQ(end.phase, PAYLOAD_READY);
    EXPECT_EQ(end.text, L"应用文件已准备好。");
    for (size_t i = 0; i < release.contents.size(); ++i) {
        wchar_t name[8];
        swprintf(name, 8, L"%04u", static_cast<unsigned>(i));
        EXPECT_TRUE(ReadBytes(dir / (std::wstring(L"work\\") + name)) == release.contents[i]) << i;
    }
    EXPECT_EQ(PayloadClose(job), 1);
    EXPECT_FALSE(DirExists(dir / L"work"));
    EXPECT_TRUE(FileExists(dir / L"application.cab"));
}

}  // namespace
