// One download test: a release whose package the HTTPS test server holds, a job folder whose
// manifest names a URL for it, and a record of every distinct status a poller saw.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/files.h"
#include "support/https_bed.h"
#include "support/jobs.h"
#include "support/release.h"

class DownloadCase {
public:
    // A release of one entry of contentSize incompressible bytes, stored uncompressed, so that
    // the package is a little larger than contentSize.
    DownloadCase(const HttpsBed& bed, size_t contentSize, unsigned seed);

    const std::string& Package() const { return release_.cabinet; }
    Manifest& ReleaseManifest() { return release_.manifest; }
    const std::wstring& Name() const { return served_.Name(); }
    bool Ok() const { return served_.Ok() && !release_.cabinet.empty(); }
    std::wstring PackagePath() const { return dir_ / L"application.cab"; }
    std::wstring WorkDir() const { return dir_ / L"work"; }

    // Writes the manifest with Url = url and starts the job (null on failure).
    DeliveryJob* Start(const std::wstring& url);

private:
    TempDir dir_;
    Release release_;
    ServedFile served_;
};

// Polls the job until pred holds for the latest status (or the time runs out), appending every
// status that differs from the one before it to seen. Returns the last status.
template <typename Pred>
JobStatus RecordUntil(DeliveryJob* job, std::vector<JobStatus>* seen, Pred pred, DWORD timeoutMs = 60000)
{
    DWORD start = GetTickCount();
    for (;;) {
        JobStatus status = Poll(job);
        if (seen->empty() || seen->back().phase != status.phase || seen->back().percent != status.percent ||
            seen->back().text != status.text) {
            seen->push_back(status);
        }
        if (pred(status) || GetTickCount() - start >= timeoutMs) return status;
        Sleep(1);
    }
}

inline JobStatus RecordToEnd(DeliveryJob* job, std::vector<JobStatus>* seen, DWORD timeoutMs = 60000)
{
    return RecordUntil(job, seen, [](const JobStatus& s) { return IsTerminal(s.phase); }, timeoutMs);
}

inline bool StartsWith(const std::wstring& text, const std::wstring& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// got == want, described by sizes and the first differing offset rather than by the bytes.
::testing::AssertionResult SameBytes(const std::string& got, const std::string& want);

// got is want's first got.size() bytes.
::testing::AssertionResult IsPrefixOf(const std::string& got, const std::string& want);

// The tests run under Wine, whose WinHTTP differs from Windows' in a few documented places.
bool RunningOnWine();
