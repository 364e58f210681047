#include "delivery/wstr.h"
#include "placement/job.h"

int PercentOf(ULONGLONG done, ULONGLONG total)
{
    if (total == 0) return 0;
    if (done >= total) return 100;
    while (total > 42949672) {
        done >>= 1;
        total >>= 1;
    }
    DWORD percent = static_cast<DWORD>(done) * 100 / static_cast<DWORD>(total);
    return percent > 99 ? 99 : static_cast<int>(percent);
}

void PublishStatus(PlaceJob* job, int phase, ULONGLONG done, ULONGLONG total, const wchar_t* text)
{
    int percent = PercentOf(done, total);
    // Only the worker publishes (and the exports before the worker exists or while it waits),
    // so it may compare with its last status without the lock: most steps change neither the
    // percentage nor the text.
    if (job->phase == phase && job->percent == percent && WStrEqual(job->statusText, text)) return;
    AcquireSRWLockExclusive(&job->lock);
    job->phase = phase;
    job->percent = percent;
    WStrCopy(job->statusText, text);
    ReleaseSRWLockExclusive(&job->lock);
}

void FormatFailure(wchar_t* line, const wchar_t* text, const wchar_t* path, DWORD code)
{
    WStrCopy(line, StatusCapacity, text);
    if (path != nullptr) {
        wchar_t scratch[PathCapacity];
        WStrAppend(line, StatusCapacity, DisplayPath(path, scratch));
    }
    if (code != 0) {
        WStrAppend(line, StatusCapacity, L"（错误码 ");
        AppendDecimal(line, StatusCapacity, code, 1);
        WStrAppend(line, StatusCapacity, L"）。");
    }
}

int ReportFailure(PlaceJob* job, const wchar_t* text, const wchar_t* path, DWORD code)
{
    wchar_t line[StatusCapacity];
    FormatFailure(line, text, path, code);
    PublishStatus(job, PLACE_FAILED, 0, 0, line);
    return 0;
}

int IsCancelled(PlaceJob* job)
{
    return *static_cast<volatile LONG*>(&job->cancelRequested) != 0 ? 1 : 0;
}

int EntrySourcePath(PlaceJob* job, const ReleaseEntry& e, wchar_t* out)
{
    wchar_t leaf[12] = L"";
    AppendDecimal(leaf, 12, e.index, 4);
    return JoinPath(out, job->parts[e.part].source, leaf);
}

int PartStagePath(PlaceJob* job, DWORD part, wchar_t* out)
{
    wchar_t leaf[12] = L"";
    AppendDecimal(leaf, 12, part, 1);
    return JoinPath(out, job->stageDir, leaf);
}
