// The release job's worker: reads the release, waits for the placement job to open, adds every
// part (its names are checked before anything is fetched), delivers the parts two at a time
// (again after a network fault, round the part's addresses), places them with one commit, and
// at the end closes the deliveries, then the placement job, then qelfetch.dll.
#include "delivery/wstr.h"
#include "placement/delivery_failure.h"
#include "placement/release_job.h"
#include "placement/release_text.h"

namespace {

constexpr DWORD PollMs = 30;
// Parts delivered at once. Two in one process: while one part waits on its server or on the
// disk (each member file is flushed), the other's manifest is read and its files written.
constexpr DWORD Lanes = 2;
constexpr DWORD AttemptsPerUrl = 3;
constexpr DWORD LongestPause = 8;  // seconds
constexpr int DeliveryShare = 90;  // percent of the bar for delivering; placing has the rest

// qelfetch's phases.
constexpr int FetchDownloading = 2;
constexpr int FetchVerifying = 3;
constexpr int FetchExtracting = 4;
constexpr int FetchReady = 5;
constexpr int FetchCancelled = 7;

// A cancel before placing started: nothing of the release was installed (qelfetch's own line).
const wchar_t* NotStartedLine() { return L"已取消，未开始安装。"; }
// A cancel once placing had started: placement's line.
const wchar_t* KeptLine() { return L"已取消，安装文件夹保持原样。"; }

struct Outcome {
    int phase;  // RELEASE_DONE, RELEASE_FAILED or RELEASE_CANCELLED
    wchar_t text[StatusCapacity];
};

int Finish(Outcome* out, int phase, const wchar_t* text)
{
    out->phase = phase;
    WStrCopy(out->text, StatusCapacity, text);
    return 0;
}

bool Cancelled(ReleaseJob* job, DWORD waitMs)
{
    return WaitForSingleObject(job->cancelEvent, waitMs) == WAIT_OBJECT_0;
}

// What one part weighs in the bar: its download, its verification and its files.
ULONGLONG Weight(const ReleasePartSource& part)
{
    return (part.url[0] != 0 ? part.size : 0) + part.size + part.unpacked;
}

// Progress over the whole release while parts are delivered.
struct Progress {
    ULONGLONG total;          // sum of the weights
    ULONGLONG done;           // weights of the parts delivered
    ULONGLONG downloadTotal;  // packages to download
    ULONGLONG downloaded;     // of the parts delivered
    int shown;                // the bar never goes back while delivering
};

int BarPercent(Progress* progress, ULONGLONG done)
{
    int percent = PercentOf(done, progress->total) * DeliveryShare / 100;
    if (percent > progress->shown) progress->shown = percent;
    return progress->shown;
}

// One part on its way: the tries of its addresses, and the delivery running now or the pause
// before the next try.
struct Lane {
    bool busy;
    DWORD part;
    FetchJob* delivery;  // the try running now; null during a pause
    DWORD attempts[1 + MaxMirrors];
    bool dead[1 + MaxMirrors];
    DWORD current;     // the address of the try running or due
    DWORD inManifest;  // the address the staged manifest names now
    DWORD retries;
    DWORD pauseStart;  // GetTickCount at the start of the pause
    DWORD pauseMs;
    int phase;  // the running try's last status
    int percent;
    wchar_t text[StatusCapacity];
};

// Points the staged manifest of part i at url (qelfetch reads its Url from there).
bool UseUrl(ReleaseJob* job, DWORD i, const wchar_t* url)
{
    if (job->manifestsInPlace) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    return WritePrivateProfileStringW(L"Package", L"Url", url, job->manifests[i]) != FALSE;
}

// Starts a try of the lane's part from its current address: the package beside the release, or
// a download to <work directory>.cab.
int StartTry(ReleaseJob* job, Lane* lane, Outcome* out)
{
    const DWORD i = lane->part;
    const ReleasePartSource& part = job->index.parts[i];
    if (lane->current != lane->inManifest) {
        wchar_t url[UrlCapacity];
        if (lane->current == 0) WStrCopy(url, UrlCapacity, part.url);
        else MirrorUrl(job->index.mirrors[lane->current - 1], part.packageName, url);
        if (!UseUrl(job, i, url)) {
            wchar_t line[StatusCapacity];
            FormatFailure(line, L"无法写入安装文件夹：", job->manifests[i], GetLastError());
            return Finish(out, RELEASE_FAILED, line);
        }
        lane->inManifest = lane->current;
    }
    wchar_t package[ReleasePathCapacity];
    if (part.url[0] != 0) {
        WStrCopy(package, ReleasePathCapacity, job->workDirs[i]);
        if (WStrAppend(package, ReleasePathCapacity, L".cab") < 0) package[0] = 0;
    } else {
        WStrCopy(package, ReleasePathCapacity, part.package);
    }
    ++lane->attempts[lane->current];
    lane->phase = 0;
    lane->percent = 0;
    lane->text[0] = 0;
    lane->delivery = job->fetch.start(job->manifests[i], package, job->workDirs[i]);
    if (lane->delivery == nullptr) return Finish(out, RELEASE_FAILED, L"应用包准备失败，未开始安装。");
    return 1;
}

// Takes the end of the lane's try: the part delivered (1, the lane is free), another try due
// (2: now from the next address, or after a pause for a fault a new try may mend), or the end
// of the release (0, out set). Each address is tried at most AttemptsPerUrl times.
int SettleTry(ReleaseJob* job, Lane* lane, Progress* progress, Outcome* out)
{
    const ReleasePartSource& part = job->index.parts[lane->part];
    const bool download = part.url[0] != 0;
    if (lane->phase == FetchReady) {
        job->deliveries[lane->part] = lane->delivery;
        lane->delivery = nullptr;
        progress->done += Weight(part);
        if (download) progress->downloaded += part.size;
        return 1;
    }
    // qelfetch deletes what this try left (the partial package, the files) as it closes.
    job->fetch.close(lane->delivery);
    lane->delivery = nullptr;
    if (lane->phase == FetchCancelled || Cancelled(job, 0)) return Finish(out, RELEASE_CANCELLED, NotStartedLine());
    DeliveryRemedy remedy = RemedyFor(lane->text, download);
    if (remedy == DeliveryRemedy::GiveUp) return Finish(out, RELEASE_FAILED, lane->text);
    if (remedy == DeliveryRemedy::NextUrl || lane->attempts[lane->current] >= AttemptsPerUrl) {
        lane->dead[lane->current] = true;
    }
    const DWORD urls = download ? 1 + job->index.mirrorCount : 1;
    DWORD next = lane->current;
    bool found = false;
    for (DWORD step = 1; step <= urls && !found; ++step) {
        next = (lane->current + step) % urls;
        found = !lane->dead[next];
    }
    if (!found) return Finish(out, RELEASE_FAILED, lane->text);
    lane->current = next;
    if (remedy == DeliveryRemedy::Again) {
        ++lane->retries;
        DWORD seconds = lane->retries > 4 ? LongestPause : 1u << (lane->retries - 1);
        if (seconds > LongestPause) seconds = LongestPause;
        lane->pauseMs = seconds * 1000;
        lane->pauseStart = GetTickCount();
        return 2;
    }
    return StartTry(job, lane, out) ? 2 : 0;
}

// The release's line while parts are on their way: a pause before a new try wins (counted
// down in seconds), then the downloading line over every part, then the text of the first part
// on its way. The bar counts what every lane has done.
void ShowLanes(ReleaseJob* job, Progress* progress, const Lane* lanes, DWORD count)
{
    ULONGLONG inFlight = 0;
    ULONGLONG downloaded = progress->downloaded;
    bool downloading = false;
    const Lane* first = nullptr;
    const Lane* paused = nullptr;
    for (DWORD k = 0; k < count; ++k) {
        const Lane& lane = lanes[k];
        if (!lane.busy) continue;
        if (lane.delivery == nullptr) {
            if (paused == nullptr || lane.part < paused->part) paused = &lane;
            continue;
        }
        if (first == nullptr || lane.part < first->part) first = &lane;
        const ReleasePartSource& part = job->index.parts[lane.part];
        const ULONGLONG download = part.url[0] != 0 ? part.size : 0;
        if (lane.phase == FetchDownloading) {
            ULONGLONG bytes = 0;
            if (ReadDownloadedBytes(lane.text, &bytes)) {
                if (bytes > download) bytes = download;
                downloading = true;
            } else {
                bytes = download * static_cast<DWORD>(lane.percent) / 100;
            }
            inFlight += bytes;
            downloaded += bytes;
        } else if (lane.phase == FetchVerifying) {
            inFlight += download + part.size * static_cast<DWORD>(lane.percent) / 100;
            downloaded += download;
        } else if (lane.phase == FetchExtracting) {
            inFlight += download + part.size + part.unpacked * static_cast<DWORD>(lane.percent) / 100;
            downloaded += download;
        }
    }
    const int percent = BarPercent(progress, progress->done + inFlight);
    wchar_t line[StatusCapacity];
    if (paused != nullptr) {
        DWORD elapsed = GetTickCount() - paused->pauseStart;
        DWORD left = elapsed >= paused->pauseMs ? 1 : (paused->pauseMs - elapsed + 999) / 1000;
        RetryLine(line, left, paused->retries);
        PublishRelease(job, RELEASE_WAITING, percent, line);
    } else if (downloading) {
        DownloadLine(line, downloaded, progress->downloadTotal);
        PublishRelease(job, RELEASE_DELIVERING, percent, line);
    } else if (first != nullptr && first->text[0] != 0) {
        PublishRelease(job, RELEASE_DELIVERING, percent, first->text);
    }
}

// Closes the tries still running (qelfetch cancels them and deletes what they left).
void StopLanes(ReleaseJob* job, Lane* lanes, DWORD count)
{
    for (DWORD k = 0; k < count; ++k) {
        if (lanes[k].delivery != nullptr) job->fetch.close(lanes[k].delivery);
        lanes[k].delivery = nullptr;
        lanes[k].busy = false;
    }
}

// Delivers every part, Lanes of them at a time in the order of the index: a part that waits on
// its server or for a new try does not hold up the others. 1 when every part is ready.
int DeliverAll(ReleaseJob* job, Progress* progress, Lane* lanes, Outcome* out)
{
    DWORD next = 0;
    for (;;) {
        bool moved = false;  // a lane took a new part: poll again at once
        bool busy = false;
        for (DWORD k = 0; k < Lanes; ++k) {
            Lane& lane = lanes[k];
            if (!lane.busy && next < job->index.partCount) {
                lane = Lane{};
                lane.busy = true;
                lane.part = next++;
                if (!StartTry(job, &lane, out)) return 0;
            }
            if (!lane.busy) continue;
            busy = true;
            if (lane.delivery == nullptr) {
                if (GetTickCount() - lane.pauseStart >= lane.pauseMs && !StartTry(job, &lane, out)) return 0;
                continue;
            }
            job->fetch.poll(lane.delivery, &lane.phase, &lane.percent, lane.text, StatusCapacity);
            if (lane.phase < FetchReady) continue;
            int settled = SettleTry(job, &lane, progress, out);
            if (settled == 0) return 0;
            if (settled == 1) {
                lane.busy = false;
                moved = true;
            }
        }
        if (!busy) return 1;
        ShowLanes(job, progress, lanes, Lanes);
        if (Cancelled(job, moved ? 0 : PollMs)) return Finish(out, RELEASE_CANCELLED, NotStartedLine());
    }
}

// Waits for the placement job to leave its preparing phase (the folder's lock, a killed run's
// recovery), showing its lines. 1 in the open phase.
int WaitOpen(ReleaseJob* job, Outcome* out)
{
    for (;;) {
        int phase = 0;
        int percent = 0;
        wchar_t text[StatusCapacity];
        PlacePoll(job->place, &phase, &percent, text, StatusCapacity);
        if (phase == PLACE_OPEN) return 1;
        if (phase == PLACE_FAILED) return Finish(out, RELEASE_FAILED, text);
        if (phase >= PLACE_DONE) return Finish(out, RELEASE_CANCELLED, NotStartedLine());
        PublishRelease(job, RELEASE_PREPARING, 0, text);
        if (Cancelled(job, PollMs)) return Finish(out, RELEASE_CANCELLED, NotStartedLine());
    }
}

// Every part's manifest copied into staging (the delivery reads the bytes whose names were
// checked, and a mirror's Url can be written there) and added to the placement job.
int AddParts(ReleaseJob* job, Outcome* out)
{
    for (DWORD i = 0; i < job->index.partCount; ++i) {
        wchar_t copy[PathCapacity];
        wchar_t line[StatusCapacity];
        if (!PartStagePath(job->place, i, copy) || WStrAppend(copy, PathCapacity, L".ini") < 0 ||
            TextLength(copy) >= ReleasePathCapacity) {
            FormatFailure(line, L"无法写入安装文件夹：", job->place->installDir, ERROR_FILENAME_EXCED_RANGE);
            return Finish(out, RELEASE_FAILED, line);
        }
        // The profile API reads only plain paths shorter than MAX_PATH: in a folder deeper than
        // that the part's manifest is read where it lies (and no mirror's Url can be written).
        wchar_t scratch[PathCapacity];
        const wchar_t* plain = DisplayPath(copy, scratch);
        if (TextLength(plain) < MAX_PATH) {
            if (!CopyFileW(job->index.parts[i].manifest, copy, TRUE)) {
                FormatFailure(line, L"无法写入安装文件夹：", copy, GetLastError());
                return Finish(out, RELEASE_FAILED, line);
            }
            WStrCopy(job->manifests[i], ReleasePathCapacity, plain);
        } else {
            WStrCopy(job->manifests[i], ReleasePathCapacity, job->index.parts[i].manifest);
            job->manifestsInPlace = 1;
        }
        if (!PlaceAddPart(job->place, job->manifests[i], job->workDirs[i], ReleasePathCapacity)) {
            int phase = 0;
            int percent = 0;
            PlacePoll(job->place, &phase, &percent, line, StatusCapacity);
            return Finish(out, RELEASE_FAILED, phase == PLACE_FAILED ? line : L"应用包发布清单无效。");
        }
        if (Cancelled(job, 0)) return Finish(out, RELEASE_CANCELLED, NotStartedLine());
    }
    return 1;
}

bool PlacingRetryable(PlaceJob* place)
{
    AcquireSRWLockShared(&place->partsLock);
    bool retryable = place->retryable != 0 && place->committed == 0;
    ReleaseSRWLockShared(&place->partsLock);
    return retryable;
}

// One commit, then again each time the host asks after a placing that gave every file back.
int PlaceAll(ReleaseJob* job, Outcome* out)
{
    for (;;) {
        if (!PlaceCommit(job->place)) return Finish(out, RELEASE_FAILED, L"安装失败，安装文件夹保持原样。");
        bool cancelSent = false;
        int phase = 0;
        int percent = 0;
        wchar_t text[StatusCapacity];
        for (;;) {
            PlacePoll(job->place, &phase, &percent, text, StatusCapacity);
            if (phase >= PLACE_DONE) break;
            PublishRelease(job, RELEASE_PLACING, DeliveryShare + percent * (100 - DeliveryShare) / 100, text);
            if (Cancelled(job, PollMs) && !cancelSent) {
                PlaceCancel(job->place);
                cancelSent = true;
            }
        }
        if (phase == PLACE_DONE) return Finish(out, RELEASE_DONE, text);
        if (phase == PLACE_CANCELLED) return Finish(out, RELEASE_CANCELLED, text);
        if (Cancelled(job, 0)) return Finish(out, RELEASE_CANCELLED, KeptLine());
        if (!PlacingRetryable(job->place)) return Finish(out, RELEASE_FAILED, text);
        // ReleaseRetry moves the phase on itself (under the lock), so that no poll after it sees
        // this failure again.
        PublishRelease(job, RELEASE_PLACING_FAILED, 0, text);
        HANDLE events[2] = {job->cancelEvent, job->wake};
        for (;;) {
            DWORD woken = WaitForMultipleObjects(2, events, FALSE, INFINITE);
            if (woken != WAIT_OBJECT_0 + 1) return Finish(out, RELEASE_CANCELLED, KeptLine());
            if (InterlockedExchange(&job->retryRequested, 0) != 0) break;
        }
    }
}

void Run(ReleaseJob* job, Outcome* out)
{
    wchar_t line[StatusCapacity];
    if (!ReadReleaseIndex(job->release, job->package, &job->index, line)) {
        Finish(out, RELEASE_FAILED, line);
        return;
    }
    if (Cancelled(job, 0)) {
        Finish(out, RELEASE_CANCELLED, NotStartedLine());
        return;
    }
    if (!WaitOpen(job, out) || !AddParts(job, out)) return;
    DWORD code = 0;
    if (!LoadFetchLibrary(job->module, &job->fetch, &code)) {
        FormatFailure(line, L"无法加载 qelfetch.dll", nullptr, code);
        Finish(out, RELEASE_FAILED, line);
        return;
    }
    Progress progress = {};
    for (DWORD i = 0; i < job->index.partCount; ++i) {
        progress.total += Weight(job->index.parts[i]);
        if (job->index.parts[i].url[0] != 0) progress.downloadTotal += job->index.parts[i].size;
    }
    Lane lanes[Lanes] = {};
    const int delivered = DeliverAll(job, &progress, lanes, out);
    StopLanes(job, lanes, Lanes);
    if (!delivered) return;
    if (Cancelled(job, 0)) {
        Finish(out, RELEASE_CANCELLED, NotStartedLine());
        return;
    }
    PlaceAll(job, out);
}

// The deliveries first (their work directories lie in the placement job's staging; the files
// placed count as deleted), then the placement job, then qelfetch.dll.
int CloseAll(ReleaseJob* job)
{
    int result = 1;
    for (DWORD i = 0; i < MaxParts; ++i) {
        if (job->deliveries[i] != nullptr && job->fetch.close(job->deliveries[i]) != 1) result = 0;
        job->deliveries[i] = nullptr;
    }
    if (job->place != nullptr && PlaceClose(job->place) != 1) result = 0;
    job->place = nullptr;
    FreeFetchLibrary(&job->fetch);
    return result;
}

}  // namespace

void PublishRelease(ReleaseJob* job, int phase, int percent, const wchar_t* text)
{
    AcquireSRWLockExclusive(&job->lock);
    job->phase = phase;
    job->percent = percent < 0 ? 0 : percent > 100 ? 100 : percent;
    WStrCopy(job->statusText, text);
    ReleaseSRWLockExclusive(&job->lock);
}

DWORD WINAPI ReleaseWorker(void* argument)
{
    auto* job = static_cast<ReleaseJob*>(argument);
    auto* out = static_cast<Outcome*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(Outcome)));
    if (out == nullptr) {
        job->closeResult = CloseAll(job);
        PublishRelease(job, RELEASE_FAILED, 0, L"内存不足，无法安装。");
    } else {
        Run(job, out);
        // Everything of the job is closed before its last status: a host that sees a final
        // phase finds the folder unlocked and the staging gone.
        job->closeResult = CloseAll(job);
        PublishRelease(job, out->phase, out->phase == RELEASE_DONE ? 100 : 0, out->text);
        HeapFree(GetProcessHeap(), 0, out);
    }
    // The reference ReleaseStart took for this thread is dropped by the system on the way out,
    // after the last instruction of this DLL has run.
    FreeLibraryAndExitThread(job->module, 0);
    return 0;
}
