#include "delivery/job.h"
#include "delivery/wstr.h"

int PercentOf(ULONGLONG done64, ULONGLONG total64)
{
    // Every count is at most 2,000,000,000, so the low 32 bits carry the whole value.
    DWORD done = static_cast<DWORD>(done64);
    DWORD total = static_cast<DWORD>(total64);
    if (total == 0) return 0;
    if (done >= total) return 100;
    // Halve both until done * 100 fits in 32 bits.
    while (total > 42949672) {
        done >>= 1;
        total >>= 1;
    }
    DWORD percent = done * 100 / total;
    return percent > 99 ? 99 : static_cast<int>(percent);
}

void PublishStatus(DeliveryJob* job, int phase, ULONGLONG done, ULONGLONG total, const wchar_t* text)
{
    int percent = PercentOf(done, total);
    // Only the worker publishes (and PayloadStart, before the worker exists), so it may read
    // its own last status without the lock. A status that would not change is not stored:
    // most chunks move neither the percentage nor the text, and each exclusive acquisition
    // would have to wait for a poller that holds the lock shared and may have been preempted.
    if (job->phase == phase && job->percent == percent && WStrEqual(job->statusText, text)) return;
    AcquireSRWLockExclusive(&job->lock);
    job->phase = phase;
    job->percent = percent;
    WStrCopy(job->statusText, text);
    ReleaseSRWLockExclusive(&job->lock);
}

int ReportFailure(DeliveryJob* job, const wchar_t* text, DWORD code)
{
    wchar_t line[StatusCapacity];
    WStrCopy(line, text);
    if (code != 0) {
        WStrAppend(line, L"（错误码 ");
        AppendDecimal(line, StatusCapacity, code, 1);
        WStrAppend(line, L"）。");
    }
    PublishStatus(job, PAYLOAD_FAILED, 0, 0, line);
    return 0;
}

int RequestCancel(DeliveryJob* job)
{
    InterlockedExchange(&job->cancelRequested, 1);
    return SetEvent(job->cancelEvent) ? 1 : 0;
}

int IsCancelled(DeliveryJob* job)
{
    // A wait on the event with zero timeout would say the same, but it is a round trip to the
    // kernel (under Wine, to the wineserver: tens of microseconds) on every read and write of
    // the pipeline, and far more while other threads keep the machine busy. The flag is set
    // before the event, so whoever sees the event set sees the flag too.
    return *static_cast<volatile LONG*>(&job->cancelRequested) != 0 ? 1 : 0;
}

int EntryFilePath(DeliveryJob* job, DWORD index, wchar_t* out)
{
    if (WStrCopy(out, PathCapacity, job->workDir) < 0) return 0;
    if (WStrAppend(out, PathCapacity, L"\\") < 0) return 0;
    if (AppendDecimal(out, PathCapacity, index, 4) < 0) return 0;
    return 1;
}
