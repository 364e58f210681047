// Extraction of the verified package: the platform's cabinet decompressor does the work, and
// the callbacks bind every member to a manifest entry and check it.
#include "delivery/extract.h"

#include "delivery/cab_file.h"
#include "delivery/extraction_lock.h"
#include "delivery/fdi_context.h"

namespace {

constexpr LONG CreateFailed = -1;

// CFHEADER: the flags word, and its bits that tie a cabinet to a previous or a next one.
constexpr LONG HeaderFlagsOffset = 30;
constexpr BYTE SetFlags = 0x01 | 0x02;

// The cabinet's own flags say it stands alone. Read from the header itself, because the
// decompressor's header query does not report the continued-in-next flag.
bool StandsAlone(INT_PTR file)
{
    BYTE flags[2];
    return CabSeek(file, HeaderFlagsOffset, FILE_BEGIN) == HeaderFlagsOffset && CabRead(file, flags, 2) == 2 &&
           (flags[0] & SetFlags) == 0;
}

// The header describes one complete cabinet of exactly the manifest's length and file count.
bool HeaderMatches(HFDI context, DeliveryJob* job)
{
    char name[] = "application.cab";
    INT_PTR file = CabOpen(name, 0, 0);
    if (file == -1) return false;
    FDICABINETINFO info = {};
    bool accepted = FDIIsCabinet(context, file, &info) && info.cbCabinet > 0 &&
                    static_cast<ULONGLONG>(info.cbCabinet) == job->packageSize &&
                    info.cFiles == static_cast<USHORT>(job->entryCount) && !info.hasprev && !info.hasnext &&
                    info.iCabinet == 0 && StandsAlone(file);
    CabClose(file);
    return accepted;
}

// One decompressor run over the package, with ExtractionLock held: 1 when the copy went
// through, 0 when the header was refused or the copy failed, CreateFailed without a context.
// Every file still open afterwards is closed here.
LONG RunDecompressor(DeliveryJob* job)
{
    ERF error = {};  // required by the decompressor; the published texts say what failed
    UniqueFdiContext context(
        FDICreate(CabAlloc, CabFree, CabOpen, CabRead, CabWrite, CabClose, CabSeek, cpuUNKNOWN, &error));
    if (!context) return CreateFailed;

    LONG result = 0;
    if (HeaderMatches(context.Get(), job)) {
        char cabinet[] = "application.cab";
        char cabinetPath[] = "";
        result = FDICopy(context.Get(), cabinet, cabinetPath, 0, CabNotify, nullptr, job) ? 1 : 0;
    }
    context.Reset();

    // Files the decompressor left open after an abort (a cancelled member among them).
    while (job->openFiles != nullptr) CabClose(reinterpret_cast<INT_PTR>(job->openFiles));
    return result;
}

bool AllVerified(const DeliveryJob* job)
{
    for (DWORD i = 0; i < job->entryCount; ++i) {
        if (!job->entries[i].verified) return false;
    }
    return true;
}

}  // namespace

int ExtractPackage(DeliveryJob* job)
{
    // The directory must be new: only then is everything in it this job's to delete.
    if (!CreateDirectoryW(job->workDir, nullptr)) {
        return ReportFailure(job, L"应用包工作目录无法创建", GetLastError());
    }
    job->workDirCreated = 1;
    PublishStatus(job, PAYLOAD_EXTRACTING, 0, job->unpackedSize, L"正在展开应用文件…");

    // Another job's extraction may hold the lock; cancelling this one does not end the wait,
    // its callbacks see the cancellation once the lock is ours.
    AcquireSRWLockExclusive(&ExtractionLock);
    ExtractionJob = job;
    LONG copied = RunDecompressor(job);
    ExtractionJob = nullptr;
    ReleaseSRWLockExclusive(&ExtractionLock);

    if (copied == CreateFailed) return ReportFailure(job, L"应用包解压初始化失败。", 0);
    if (copied == 1 && AllVerified(job)) return 1;
    // The most specific text a callback published stays; a cancellation publishes none.
    if (!IsCancelled(job) && job->phase != PAYLOAD_FAILED) {
        ReportFailure(job, L"应用包解压失败或文件清单不完整。", 0);
    }
    return 0;
}
