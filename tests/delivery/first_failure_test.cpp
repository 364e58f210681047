// A member that fails its check stops the extraction: its failure is the job's final text and
// no later member is created (whether or not the decompressor itself stops on being told to).
#include <gtest/gtest.h>

#include <set>

#include "support/files.h"
#include "support/runs.h"

namespace {

TEST(FirstFailure, MemberCheckStopsTheExtraction)
{
    // The failing member first, then members with data whose progress would be published.
    for (int failing : {0, 1}) {
        SCOPED_TRACE(failing);
        TempDir dir;
        Release release = MakeRelease({TextBytes(40000), RandomBytes(30000, 2), TextBytes(50000)});
        ASSERT_FALSE(release.cabinet.empty());
        release.manifest.Set(std::to_wstring(failing), L"Sha256", Sha256Hex("something else"));
        ASSERT_TRUE(WriteBytes(dir / L"application.cab", release.cabinet));
        ASSERT_TRUE(release.manifest.Write(dir / L"manifest.ini"));

        DeliveryJob* job = PayloadStart((dir / L"manifest.ini").c_str(), (dir / L"application.cab").c_str(),
                                        (dir / L"work").c_str());
        ASSERT_NE(job, nullptr);
        JobStatus end = WaitForEnd(job);
        EXPECT_EQ(end.phase, PAYLOAD_FAILED);
        EXPECT_EQ(end.text, L"应用包中的文件校验失败。");
        std::set<std::wstring> names;
        for (const std::wstring& name : ListDir(dir / L"work")) names.insert(name);
        std::set<std::wstring> expected;
        for (int i = 0; i <= failing; ++i) expected.insert(i == 0 ? L"0000" : L"0001");
        EXPECT_EQ(names, expected);  // the failed member stays until close; nothing after it
        EXPECT_EQ(PayloadClose(job), 1);
        EXPECT_FALSE(DirExists(dir / L"work"));
    }
}

}  // namespace
