// What a job's poll export hands out: its phase, percent and status line, read together under
// the job's lock so that the three always belong to one published status.
#pragma once
#include "delivery/wstr.h"

// Job: any job with a SRWLOCK lock guarding int phase, int percent and wchar_t statusText[].
// 1 when the snapshot was copied; 0 for a bad argument or a line cut short by capacity.
template <typename Job>
int CopyStatus(Job* job, int* phase, int* percent, wchar_t* text, int capacity)
{
    if (job == nullptr || phase == nullptr || percent == nullptr || text == nullptr || capacity <= 0) return 0;
    AcquireSRWLockShared(&job->lock);
    *phase = job->phase;
    *percent = job->percent;
    HRESULT copied = WStrCopy(text, static_cast<DWORD>(capacity), job->statusText);
    ReleaseSRWLockShared(&job->lock);
    return copied < 0 ? 0 : 1;
}
