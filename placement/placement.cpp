#include "placement/placement.h"

#include "delivery/wstr.h"
#include "placement/file_ops.h"
#include "placement/holders.h"

void FreePlacement(Placement* p)
{
    FreePlan(&p->plan);
    p->record.Free();
    p->listing.Free();
    for (DWORD i = 0; i < p->sources.count; ++i) {
        if (p->sources[i].handle != nullptr && p->sources[i].handle != INVALID_HANDLE_VALUE) CloseHandle(p->sources[i].handle);
    }
    p->sources.Free();
    p->recordTimes.Free();
    p->newOrder.Free();
    if (p->recordHandle != nullptr) CloseHandle(p->recordHandle);
    if (p->newRecord != nullptr) CloseHandle(p->newRecord);
    p->recordHandle = p->newRecord = nullptr;
}

void PlacingProgress(Placement* p, const wchar_t* text)
{
    ++p->done;
    int percent = PercentOf(p->done, p->total);
    if (percent > 99) percent = 99;
    if (percent < p->shown) percent = p->shown;
    p->shown = percent;
    PublishStatus(p->job, PLACE_PLACING, static_cast<ULONGLONG>(percent), 100, text);
}

OpenResult OpenTarget(Placement* p, const wchar_t* path, bool allowRewrite, HANDLE* out)
{
    PlaceJob* job = p->job;
    DWORD start = GetTickCount();
    bool waiting = false;
    for (;;) {
        HANDLE file = OpenForMove(path, ShareAll);
        if (file != INVALID_HANDLE_VALUE) {
            *out = file;
            return OpenResult::Opened;
        }
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return OpenResult::Gone;
        if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION && error != ERROR_ACCESS_DENIED) {
            ReportFailure(job, L"无法打开文件：", path, error);
            return OpenResult::Failed;
        }
        // Held without delete sharing: a plain installer would write over it, and so may we
        // (its old bytes are backed up first).
        if (allowRewrite && error == ERROR_SHARING_VIOLATION) {
            file = OpenForRewrite(path);
            if (file != INVALID_HANDLE_VALUE) {
                *out = file;
                return OpenResult::Rewrite;
            }
        }
        if (GetTickCount() - start >= InUseRetryMs) {
            if (error == ERROR_ACCESS_DENIED) {
                ReportFailure(job, L"无法替换文件：", path, error);
                return OpenResult::Failed;
            }
            wchar_t line[StatusCapacity];
            wchar_t scratch[PathCapacity];
            const wchar_t* shown = DisplayPath(path, scratch);
            WStrCopy(line, L"文件正被使用：");
            WStrAppend(line, shown);
            AppendHolderNames(shown, line, StatusCapacity);
            PublishStatus(job, PLACE_FAILED, 0, 0, line);
            return OpenResult::Failed;
        }
        if (!waiting) {
            wchar_t line[StatusCapacity];
            wchar_t scratch[PathCapacity];
            WStrCopy(line, L"正在等待文件释放：");
            WStrAppend(line, DisplayPath(path, scratch));
            PublishStatus(job, job->phase == PLACE_STAGING ? PLACE_STAGING : PLACE_PLACING,
                          static_cast<ULONGLONG>(p->shown), 100, line);
            waiting = true;
        }
        WaitForSingleObject(job->wake, InUsePauseMs);
        if (IsCancelled(job)) return OpenResult::Cancelled;
    }
}
