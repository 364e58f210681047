// Helpers for driving qelfetch.dll's exports from tests.
#pragma once
#include <string>

#include "delivery/payload.h"

struct JobStatus {
    int phase = 0;
    int percent = -1;
    std::wstring text;
};

JobStatus Poll(DeliveryJob* job);

// Polls until the job reaches phase 5, 6 or 7 (or the time runs out) and returns that status.
JobStatus WaitForEnd(DeliveryJob* job, DWORD timeoutMs = 60000);

// Polls until pred(status) holds or the time runs out; returns the last status seen.
template <typename Pred>
JobStatus WaitUntil(DeliveryJob* job, Pred pred, DWORD timeoutMs = 60000)
{
    DWORD start = GetTickCount();
    JobStatus status = Poll(job);
    while (!pred(status) && GetTickCount() - start < timeoutMs) {
        Sleep(1);
        status = Poll(job);
    }
    return status;
}

inline bool IsTerminal(int phase) { return phase >= PAYLOAD_READY; }
