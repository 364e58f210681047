// Paths as a host gives them: relative to a current directory that the host changes whenever
// it likes (an output-path command, a file dialog). A job works on the places its paths named
// when it started, from the first read to the last deletion.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/files.h"
#include "support/runs.h"

namespace {

// Sets the current directory for a scope and puts the old one back.
class CurrentDirectory {
public:
    explicit CurrentDirectory(const std::wstring& path)
    {
        GetCurrentDirectoryW(MAX_PATH, old_);
        ok_ = SetCurrentDirectoryW(path.c_str()) != 0;
    }
    ~CurrentDirectory() { SetCurrentDirectoryW(old_); }
    CurrentDirectory(const CurrentDirectory&) = delete;
    CurrentDirectory& operator=(const CurrentDirectory&) = delete;
    bool Ok() const { return ok_; }

private:
    wchar_t old_[MAX_PATH] = {};
    bool ok_ = false;
};

// Folder A holds a release (manifest m.ini, package application.cab); folder B holds decoys
// named like everything the job creates or reads.
class RelativePaths : public ::testing::Test {
protected:
    void Place(const std::vector<std::string>& contents, bool compress = true)
    {
        contents_ = contents;
        Release release = MakeRelease(contents, compress);
        ASSERT_FALSE(release.cabinet.empty());
        ASSERT_TRUE(WriteBytes(a_ / L"application.cab", release.cabinet));
        ASSERT_TRUE(release.manifest.Write(a_ / L"m.ini"));
        // In B: a work directory with files named like the entry files, and a broken package
        // and manifest, so that a job reading from B fails and one deleting in B shows.
        ASSERT_TRUE(CreateDirectoryW((b_ / L"work").c_str(), nullptr));
        for (size_t i = 0; i < contents.size(); ++i) ASSERT_TRUE(WriteBytes(BEntry(i), "decoy"));
        ASSERT_TRUE(WriteBytes(b_ / L"application.cab", "not a cabinet"));
        ASSERT_TRUE(ValidManifest({1}).Write(b_ / L"m.ini"));
    }

    static std::wstring Entry(const std::wstring& work, size_t i)
    {
        wchar_t name[8];
        swprintf(name, 8, L"%04u", static_cast<unsigned>(i));
        return work + L"\\" + name;
    }
    std::wstring BEntry(size_t i) const { return Entry(b_ / L"work", i); }

    DeliveryJob* StartInA()
    {
        CurrentDirectory inA(a_.Path());
        if (!inA.Ok()) return nullptr;
        return PayloadStart(L"m.ini", L"application.cab", L"work");
    }

    void ExpectExtractedInA()
    {
        for (size_t i = 0; i < contents_.size(); ++i) {
            EXPECT_EQ(ReadBytes(Entry(a_ / L"work", i)), contents_[i]) << "entry " << i;
        }
    }

    void ExpectBUntouched()
    {
        for (size_t i = 0; i < contents_.size(); ++i) EXPECT_EQ(ReadBytes(BEntry(i)), "decoy") << "entry " << i;
        EXPECT_EQ(ListDir(b_ / L"work").size(), contents_.size());
        EXPECT_EQ(ReadBytes(b_ / L"application.cab"), "not a cabinet");
    }

    TempDir a_;
    TempDir b_;
    std::vector<std::string> contents_;
};

TEST_F(RelativePaths, CloseAfterAChangeOfDirectoryRemovesTheFirstPlace)
{
    Place({TextBytes(5000), RandomBytes(3000, 4)});
    DeliveryJob* job = StartInA();
    ASSERT_NE(job, nullptr);
    JobStatus end = WaitForEnd(job);
    EXPECT_EQ(end.phase, PAYLOAD_READY) << Narrow(end.text);
    ExpectExtractedInA();

    CurrentDirectory inB(b_.Path());
    ASSERT_TRUE(inB.Ok());
    EXPECT_EQ(PayloadClose(job), 1);
    EXPECT_FALSE(DirExists(a_ / L"work"));
    EXPECT_TRUE(FileExists(a_ / L"application.cab"));  // placed by the host: never deleted
    ExpectBUntouched();
}

// The host changes its directory while the job reads the package, and again while it writes
// the entry files: every read and write still goes to A.
TEST_F(RelativePaths, ChangeOfDirectoryWhileTheJobRuns)
{
    // Stored, several megabytes per member: verification and extraction each last long enough
    // for a poll to see them.
    Place({TextBytes(12 * 1000 * 1000), RandomBytes(8 * 1000 * 1000, 5), TextBytes(9 * 1000 * 1000)}, false);
    const int phases[] = {PAYLOAD_VERIFYING, PAYLOAD_EXTRACTING};
    for (int phase : phases) {
        DeliveryJob* job = StartInA();
        ASSERT_NE(job, nullptr);
        JobStatus seen = WaitUntil(job, [phase](const JobStatus& s) { return s.phase >= phase; });
        {
            CurrentDirectory inB(b_.Path());
            ASSERT_TRUE(inB.Ok());
            JobStatus end = WaitForEnd(job);
            EXPECT_EQ(end.phase, PAYLOAD_READY) << "changed in phase " << seen.phase << ": " << Narrow(end.text);
            if (seen.phase != phase) {
                std::printf("note: the change came in phase %d instead of %d\n", seen.phase, phase);
            }
        }
        ExpectExtractedInA();
        EXPECT_EQ(PayloadClose(job), 1);
        EXPECT_FALSE(DirExists(a_ / L"work"));
        ExpectBUntouched();
    }
}

TEST(PathArguments, EmptyPathsAreRefused)
{
    TempDir dir;
    const std::wstring ok = dir / L"x";
    EXPECT_EQ(PayloadStart(L"", ok.c_str(), ok.c_str()), nullptr);
    EXPECT_EQ(PayloadStart(ok.c_str(), L"", ok.c_str()), nullptr);
    EXPECT_EQ(PayloadStart(ok.c_str(), ok.c_str(), L""), nullptr);
}

// A short relative path can name a long place: the limit holds for the absolute form.
TEST(PathArguments, LimitHoldsForTheAbsoluteForm)
{
    TempDir dir;
    ASSERT_TRUE(ValidManifest({1}).Write(dir / L"m.ini"));
    CurrentDirectory here(dir.Path());
    ASSERT_TRUE(here.Ok());
    const size_t base = dir.Path().size() + 1;  // the folder and a backslash
    ASSERT_LT(base, 1000u);
    const std::wstring fits(1023 - base, L'p');      // absolute form: 1023 units
    const std::wstring tooLong(1024 - base, L'p');   // absolute form: 1024 units
    ASSERT_EQ(dir.Path().size() + 1 + fits.size(), 1023u);

    EXPECT_EQ(PayloadStart(L"m.ini", tooLong.c_str(), L"w"), nullptr);
    EXPECT_EQ(PayloadStart(L"m.ini", L"p.cab", tooLong.c_str()), nullptr);
    EXPECT_EQ(PayloadStart(tooLong.c_str(), L"p.cab", L"w"), nullptr);
    // ".\" adds units to the argument but none to the absolute form.
    EXPECT_EQ(PayloadStart((L".\\" + tooLong).c_str(), L"p.cab", L"w"), nullptr);

    // One unit less fits, in either place; the package is missing, so the job gets as far as
    // opening it (the code depends on the name: missing, or a name too long for the file system).
    const std::wstring fitting[][2] = {{fits, L"w"}, {L"p.cab", fits}};
    for (const auto& paths : fitting) {
        DeliveryJob* job = PayloadStart(L"m.ini", paths[0].c_str(), paths[1].c_str());
        ASSERT_NE(job, nullptr);
        JobStatus end = WaitForEnd(job);
        EXPECT_EQ(end.phase, PAYLOAD_FAILED);
        EXPECT_EQ(end.text.rfind(L"应用包无法读取（错误码 ", 0), 0u) << Narrow(end.text);
        EXPECT_EQ(PayloadClose(job), 1);
    }
}

}  // namespace
