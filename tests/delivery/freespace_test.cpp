// The free-space test before anything is written, on a drive whose free bytes are exact and
// stable: Q:, a private 8 MB tmpfs that a ctest fixture mounts (as root; skipped otherwise).
// The need is UnpackedSize on the work directory's volume and, with a Url, Size on the package
// path's volume (their sum when both are one volume). A job that passes the test fails at the
// next stage, which tells the stages apart: without a Url, no package is placed (reading it
// fails with code 2); with a Url, nothing listens at it, so the download fails.
#include <gtest/gtest.h>

#include <string>

#include "support/files.h"
#include "support/runs.h"

namespace {

const std::wstring Drive = L"Q:\\";
const std::wstring UnreachableUrl = L"https://127.0.0.1:1/x";
constexpr ULONGLONG DriveSize = 8 * 1024 * 1024;

ULONGLONG FreeBytes(const std::wstring& root)
{
    ULARGE_INTEGER available = {}, total = {};
    if (!GetDiskFreeSpaceExW(root.c_str(), &available, &total, nullptr)) return 0;
    return available.QuadPart;
}

class FreeSpace : public ::testing::Test {
protected:
    void SetUp() override
    {
        ULARGE_INTEGER available = {}, total = {};
        if (!GetDiskFreeSpaceExW(Drive.c_str(), &available, &total, nullptr) || total.QuadPart != DriveSize) {
            GTEST_SKIP() << "no private 8 MB drive Q: (the tmpfs fixture needs root)";
        }
    }

    // Runs a job whose manifest, written in manifestDir, needs unpacked bytes (+ size, with a Url).
    Outcome Run(const std::wstring& manifestDir, ULONGLONG unpacked, ULONGLONG size, bool url,
                const std::wstring& package, const std::wstring& work)
    {
        Manifest m = ValidManifest({unpacked}, size);
        if (url) m.Set(L"Package", L"Url", UnreachableUrl);
        std::wstring path = manifestDir + L"\\m" + std::to_wstring(++runs_) + L".ini";
        EXPECT_TRUE(m.Write(path));
        Outcome outcome = RunJob(path, package, work);
        DeleteFileW(path.c_str());
        EXPECT_FALSE(DirExists(work));
        return outcome;
    }

    TempDir dir_;  // on C:
    int runs_ = 0;
};

// A failure of a later stage: the free-space test (and the manifest) passed.
void ExpectPassed(const Outcome& outcome, bool url, const char* what)
{
    EXPECT_EQ(outcome.end.phase, PAYLOAD_FAILED) << what;
    if (url) {
        EXPECT_NE(outcome.end.text, texts::NoSpace) << what;
        EXPECT_NE(outcome.end.text, texts::ManifestInvalid) << what;
        EXPECT_EQ(outcome.end.text.rfind(texts::SpaceUnknown, 0), std::wstring::npos) << what;
    } else {
        EXPECT_EQ(outcome.end.text, texts::Unreadable(ERROR_FILE_NOT_FOUND)) << what << ": "
                                                                           << Narrow(outcome.end.text);
    }
    EXPECT_EQ(outcome.closed, 1) << what;
}

void ExpectNoSpace(const Outcome& outcome, const char* what)
{
    EXPECT_EQ(outcome.end.phase, PAYLOAD_FAILED) << what;
    EXPECT_EQ(outcome.end.percent, 0) << what;
    EXPECT_EQ(outcome.end.text, texts::NoSpace) << what << ": " << Narrow(outcome.end.text);
    EXPECT_EQ(outcome.closed, 1) << what;
}

TEST_F(FreeSpace, ExactNeedPassesOneByteMoreFails)
{
    const ULONGLONG free = FreeBytes(Drive);
    ASSERT_GT(free, 1000u);
    const std::wstring work = Drive + L"work";
    const std::wstring package = Drive + L"package.cab";  // never created: the tmpfs stays as it is
    const struct {
        const char* what;
        ULONGLONG unpacked;
        ULONGLONG size;
        bool url;
        bool passes;
    } cases[] = {
        {"no Url, UnpackedSize = free", free, 1, false, true},
        {"no Url, UnpackedSize = free + 1", free + 1, 1, false, false},
        {"no Url, Size is not needed", free, 2000000000, false, true},
        {"Url, Size + UnpackedSize = free", free - 1000, 1000, true, true},
        {"Url, Size + UnpackedSize = free + 1", free - 1000, 1001, true, false},
        {"Url, UnpackedSize 0, Size = free + 1", 0, free + 1, true, false},
    };
    for (const auto& c : cases) {
        Outcome outcome = Run(dir_.Path(), c.unpacked, c.size, c.url, c.url ? package : dir_ / L"absent.cab", work);
        if (c.passes) {
            ExpectPassed(outcome, c.url, c.what);
        } else {
            ExpectNoSpace(outcome, c.what);
        }
        EXPECT_EQ(FreeBytes(Drive), free) << c.what;
        EXPECT_FALSE(FileExists(package)) << c.what;
    }
}

// The space is needed where the bytes go: the volumes of the work directory and the package
// path, not that of the manifest.
TEST_F(FreeSpace, VolumesAreThoseOfWorkDirectoryAndPackage)
{
    const std::wstring onDrive = Drive + L"manifests";
    ASSERT_TRUE(CreateDirectoryW(onDrive.c_str(), nullptr));
    const ULONGLONG free = FreeBytes(Drive);  // with the folder in place
    const std::wstring workOnDrive = Drive + L"work";
    const std::wstring workOnC = dir_ / L"work";
    const std::wstring packageOnDrive = Drive + L"package.cab";
    const std::wstring packageOnC = dir_ / L"package.cab";
    const struct {
        const char* what;
        std::wstring manifestDir;
        ULONGLONG unpacked;
        ULONGLONG size;
        bool url;
        std::wstring package;
        std::wstring work;
        bool passes;
    } cases[] = {
        {"manifest on Q:, work on C:, more than Q: holds", onDrive, free + 1, 1, false, dir_ / L"absent.cab", workOnC,
         true},
        {"manifest on C:, work on Q:, one byte more than Q: holds", dir_.Path(), free + 1, 1, false,
         dir_ / L"absent.cab", workOnDrive, false},
        {"manifest on C:, work on Q:, what Q: holds", dir_.Path(), free, 1, false, dir_ / L"absent.cab", workOnDrive,
         true},
        {"Url, package on Q: = free, work on C:", dir_.Path(), free + 1, free, true, packageOnDrive, workOnC, true},
        {"Url, package on Q: = free + 1, work on C:", dir_.Path(), 1, free + 1, true, packageOnDrive, workOnC, false},
        {"Url, package on C:, work on Q: = free", dir_.Path(), free, free + 1, true, packageOnC, workOnDrive, true},
        {"Url, package on C:, work on Q: = free + 1", dir_.Path(), free + 1, 1, true, packageOnC, workOnDrive, false},
    };
    for (const auto& c : cases) {
        // Only a case that needs nothing on Q: puts its manifest there (for as long as it runs).
        Outcome outcome = Run(c.manifestDir, c.unpacked, c.size, c.url, c.package, c.work);
        if (c.passes) {
            ExpectPassed(outcome, c.url, c.what);
        } else {
            ExpectNoSpace(outcome, c.what);
        }
    }
    RemoveDirectoryW(onDrive.c_str());
}

// O: is a second drive letter for Q:'s tmpfs. A package on one name and the work directory on
// the other draw on one volume: the two needs are summed, as for one name.
TEST_F(FreeSpace, OneVolumeUnderTwoDriveLetters)
{
    const std::wstring alias = L"O:\\";
    ULARGE_INTEGER available = {}, total = {};
    if (!GetDiskFreeSpaceExW(alias.c_str(), &available, &total, nullptr) || total.QuadPart != DriveSize) {
        GTEST_SKIP() << "no drive O: on Q:'s tmpfs";
    }
    const ULONGLONG free = FreeBytes(Drive);
    const struct {
        const char* what;
        std::wstring package;
        std::wstring work;
        ULONGLONG size;
        bool passes;
    } cases[] = {
        {"package on O:, work on Q:, Size + UnpackedSize = free", alias + L"package.cab", Drive + L"work", 1000, true},
        {"package on O:, work on Q:, one byte more", alias + L"package.cab", Drive + L"work", 1001, false},
        {"package on Q:, work on O:, one byte more", Drive + L"package.cab", alias + L"work", 1001, false},
        {"package on o:, work on Q:, one byte more", L"o:\\package.cab", Drive + L"work", 1001, false},
    };
    for (const auto& c : cases) {
        Outcome outcome = Run(dir_.Path(), free - 1000, c.size, true, c.package, c.work);
        if (c.passes) {
            ExpectPassed(outcome, true, c.what);
        } else {
            ExpectNoSpace(outcome, c.what);
        }
        EXPECT_EQ(FreeBytes(Drive), free) << c.what;
    }
}

// A work directory on a drive that does not exist: the space cannot be checked.
TEST(FreeSpaceQuery, UnknownDriveIsReportedWithItsCode)
{
    const wchar_t* root = L"R:\\";
    if (GetDriveTypeW(root) != DRIVE_NO_ROOT_DIR) GTEST_SKIP() << "R: exists";
    TempDir dir;
    ASSERT_TRUE(ValidManifest({1}).Write(dir / L"m.ini"));
    Outcome outcome = RunJob(dir / L"m.ini", dir / L"absent.cab", L"R:\\work");
    EXPECT_EQ(outcome.end.phase, PAYLOAD_FAILED);
    const std::wstring& text = outcome.end.text;
    const std::wstring prefix = texts::SpaceUnknown + L"（错误码 ";
    EXPECT_EQ(text.rfind(prefix, 0), 0u) << Narrow(text);
    EXPECT_EQ(text.size() > prefix.size() + 2 ? text.substr(text.size() - 2) : L"", L"）。") << Narrow(text);
    EXPECT_EQ(outcome.closed, 1);
}

}  // namespace
