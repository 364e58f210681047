// Verification of a package the host placed: its size and SHA-256 digest against the manifest,
// and what may stand at the package path.
#include <gtest/gtest.h>

#include <string>

#include "support/files.h"
#include "support/runs.h"
#include "support/unix_links.h"

namespace {

class Verification : public ::testing::Test {
protected:
    // Runs a job on package bytes placed at the package path, described by a manifest whose
    // Size and Sha256 are those of described.
    Outcome Run(const std::string& placed, const std::string& described)
    {
        Manifest m = ValidManifest({1});
        DescribePackage(m, described);
        std::wstring name = std::to_wstring(++runs_);
        EXPECT_TRUE(m.Write(dir_ / (L"m" + name + L".ini")));
        EXPECT_TRUE(WriteBytes(dir_ / (L"p" + name + L".cab"), placed));
        Outcome outcome = RunJob(dir_ / (L"m" + name + L".ini"), dir_ / (L"p" + name + L".cab"), dir_ / L"work");
        // A placed package is the host's: it stays, unchanged.
        EXPECT_EQ(ReadBytes(dir_ / (L"p" + name + L".cab")), placed);
        return outcome;
    }

    TempDir dir_;
    int runs_ = 0;
};

TEST_F(Verification, SizeDifferingByOneByteFailsBeforeReading)
{
    std::string package = RandomBytes(1000, 7);
    Outcome shorter = Run(package.substr(1), package);
    EXPECT_EQ(shorter.end.phase, PAYLOAD_FAILED);
    EXPECT_EQ(shorter.end.text, texts::SizeMismatch);
    Outcome longer = Run(package + "x", package);
    EXPECT_EQ(longer.end.phase, PAYLOAD_FAILED);
    EXPECT_EQ(longer.end.text, texts::SizeMismatch);
    EXPECT_EQ(longer.end.percent, 0);
}

// The package is read in 64 KiB chunks: sizes around one chunk, each intact and with one byte
// changed (the first or the last). An intact package gets past verification, so the failure
// that ends the job is not one of verification's own.
TEST_F(Verification, DigestOfEveryChunkBoundary)
{
    for (size_t size : {size_t(1), size_t(65535), size_t(65536), size_t(65537), size_t(200000)}) {
        std::string package = RandomBytes(size, static_cast<unsigned>(size));
        Outcome intact = Run(package, package);
        EXPECT_EQ(intact.end.phase, PAYLOAD_FAILED) << size;  // it is no cabinet
        EXPECT_NE(intact.end.text, texts::DigestMismatch) << size;
        EXPECT_NE(intact.end.text, texts::SizeMismatch) << size;

        for (size_t at : {size - 1, size_t(0)}) {
            std::string changed = package;
            changed[at] = static_cast<char>(changed[at] ^ 0x01);
            Outcome bad = Run(changed, package);
            EXPECT_EQ(bad.end.phase, PAYLOAD_FAILED) << size << " at " << at;
            EXPECT_EQ(bad.end.percent, 0) << size << " at " << at;
            EXPECT_EQ(bad.end.text, texts::DigestMismatch) << size << " at " << at;
        }
    }
}

TEST_F(Verification, WhatStandsAtThePackagePath)
{
    Manifest m = ValidManifest({1});
    ASSERT_TRUE(m.Write(dir_ / L"m.ini"));

    Outcome missing = RunJob(dir_ / L"m.ini", dir_ / L"absent.cab", dir_ / L"work");
    EXPECT_EQ(missing.end.phase, PAYLOAD_FAILED);
    EXPECT_EQ(missing.end.text, texts::Unreadable(ERROR_FILE_NOT_FOUND));

    Outcome noFolder = RunJob(dir_ / L"m.ini", dir_ / L"absent\\p.cab", dir_ / L"work");
    EXPECT_EQ(noFolder.end.text, texts::Unreadable(ERROR_PATH_NOT_FOUND));

    ASSERT_TRUE(CreateDirectoryW((dir_ / L"folder.cab").c_str(), nullptr));
    Outcome folder = RunJob(dir_ / L"m.ini", dir_ / L"folder.cab", dir_ / L"work");
    EXPECT_EQ(folder.end.phase, PAYLOAD_FAILED);
    EXPECT_EQ(folder.end.text, texts::NotRegular);
    EXPECT_EQ(folder.closed, 1);
    EXPECT_TRUE(DirExists(dir_ / L"folder.cab"));
}

// A symbolic link to a folder (made with /bin/ln, see support/unix_links.h).
TEST_F(Verification, LinkToAFolderIsNoRegularFile)
{
    if (UnixPath(dir_.Path()).empty()) GTEST_SKIP() << "not running under Wine";
    ASSERT_TRUE(CreateDirectoryW((dir_ / L"target").c_str(), nullptr));
    std::wstring link = dir_ / L"link.cab";
    if (!MakeLink(dir_ / L"target", link)) GTEST_SKIP() << "no link was made";
    EXPECT_EQ(GetFileAttributesW(link.c_str()) & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT),
              DWORD(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));

    ASSERT_TRUE(ValidManifest({1}).Write(dir_ / L"m.ini"));
    Outcome outcome = RunJob(dir_ / L"m.ini", link, dir_ / L"work");
    EXPECT_EQ(outcome.end.phase, PAYLOAD_FAILED);
    EXPECT_EQ(outcome.end.text, texts::NotRegular);
    EXPECT_EQ(outcome.closed, 1);
    EXPECT_TRUE(DirExists(dir_ / L"target"));
    // Wine removes such a link neither as a folder nor as a file.
    EXPECT_TRUE(RemoveLink(link));
}

}  // namespace
