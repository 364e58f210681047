#include "support/jobs.h"

JobStatus Poll(DeliveryJob* job)
{
    JobStatus status;
    wchar_t text[1024] = {};
    PayloadPoll(job, &status.phase, &status.percent, text, 1024);
    status.text = text;
    return status;
}

JobStatus WaitForEnd(DeliveryJob* job, DWORD timeoutMs)
{
    return WaitUntil(job, [](const JobStatus& s) { return IsTerminal(s.phase); }, timeoutMs);
}
