#include "support/busy_extraction.h"

#include "support/release.h"

BusyExtraction::BusyExtraction()
{
    Release large = MakeRelease({TextBytes(20 * 1000 * 1000), TextBytes(20 * 1000 * 1000 + 7)});
    if (large.cabinet.empty() || !WriteBytes(dir_ / L"large.cab", large.cabinet) ||
        !large.manifest.Write(dir_ / L"large.ini")) {
        return;
    }
    job_ = PayloadStart((dir_ / L"large.ini").c_str(), (dir_ / L"large.cab").c_str(), (dir_ / L"work").c_str());
    if (job_ == nullptr) return;
    ok_ = WaitUntil(job_, [](const JobStatus& s) { return s.phase >= PAYLOAD_EXTRACTING; }).phase ==
          PAYLOAD_EXTRACTING;
}

int BusyExtraction::Finish()
{
    if (job_ != nullptr) {
        end_ = WaitForEnd(job_).phase;
        PayloadClose(job_);
        job_ = nullptr;
    }
    return end_;
}

BusyExtraction::~BusyExtraction() { Finish(); }
