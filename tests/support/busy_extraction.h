// A job that keeps this process's cabinet extraction busy. Extractions in one process take
// turns, so while this job extracts, any other job that has verified its package announces
// extraction and then waits, with its package held open, until this one is done: a test can
// change the world exactly between another job's verification and its extraction.
#pragma once
#include <string>

#include "delivery/payload.h"
#include "support/files.h"
#include "support/jobs.h"

class BusyExtraction {
public:
    // Starts the job (large compressible entries) and waits until it extracts. Ok() tells.
    BusyExtraction();
    ~BusyExtraction();  // waits for the end and closes the job
    BusyExtraction(const BusyExtraction&) = delete;
    BusyExtraction& operator=(const BusyExtraction&) = delete;

    bool Ok() const { return ok_; }
    bool StillExtracting() const { return Poll(job_).phase == PAYLOAD_EXTRACTING; }
    // Waits for the end and closes the job; the phase it ended in.
    int Finish();

private:
    TempDir dir_;
    DeliveryJob* job_ = nullptr;
    bool ok_ = false;
    int end_ = 0;
};
