// The decompressor's notification callback: binds every cabinet member to exactly one manifest
// entry before its file is created, and verifies the file when its data is complete.
#include "delivery/cab_file.h"

namespace {

const wchar_t* const RefusedMemberText = L"应用包包含未声明、重复或大小不符的文件。";

// The entry index named by a member: exactly four decimal digits, nothing else. -1 otherwise.
LONG MemberIndex(const char* name)
{
    if (name == nullptr) return -1;
    LONG index = 0;
    for (int i = 0; i < 4; ++i) {
        if (name[i] < '0' || name[i] > '9') return -1;
        index = index * 10 + (name[i] - '0');
    }
    return name[4] == 0 ? index : -1;
}

// Publishes why the decompressor is stopped and returns the callbacks' failure value.
INT_PTR Abort(DeliveryJob* job, const wchar_t* text)
{
    ReportFailure(job, text, 0);
    return -1;
}

bool IsOpenMember(DeliveryJob* job, CabFile* record)
{
    if (record == nullptr || record->entry < 0) return false;
    for (CabFile* open = job->openFiles; open != nullptr; open = open->next) {
        if (open == record) return true;
    }
    return false;
}

// A member is about to be written: admit it against the manifest, then create its file under
// the entry's own name in the work directory (never under the member's name).
INT_PTR OpenMember(DeliveryJob* job, const FDINOTIFICATION* notification)
{
    LONG index = MemberIndex(notification->psz1);
    if (index < 0 || static_cast<DWORD>(index) >= job->entryCount) return Abort(job, RefusedMemberText);
    ManifestEntry& entry = job->entries[index];
    if (entry.created || notification->cb < 0 || static_cast<ULONGLONG>(notification->cb) != entry.size ||
        (notification->attribs & _A_EXEC) != 0) {
        return Abort(job, RefusedMemberText);
    }

    auto* record = static_cast<CabFile*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(CabFile)));
    if (record == nullptr) return -1;
    record->job = job;
    record->entry = index;

    wchar_t path[PathCapacity];
    if (!EntryFilePath(job, static_cast<DWORD>(index), path)) {
        HeapFree(GetProcessHeap(), 0, record);
        return Abort(job, L"应用包工作目录路径过长。");
    }
    // DELETE access: a file that cannot be taken on is deleted through the handle that created
    // it, never by path (someone else's file may be on the path by then).
    record->handle =
        CreateFileW(path, GENERIC_WRITE | FILE_READ_ATTRIBUTES | DELETE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (record->handle != INVALID_HANDLE_VALUE && ReadFileIdentity(record->handle, &entry.identity) &&
        Sha256Begin(&record->digest)) {
        entry.created = 1;
        LinkOpenFile(record);
        return reinterpret_cast<INT_PTR>(record);
    }
    if (record->handle != INVALID_HANDLE_VALUE) {
        DeleteThroughHandle(record->handle);
        CloseHandle(record->handle);
    }
    HeapFree(GetProcessHeap(), 0, record);
    return -1;
}

// A member's data is complete: it is good only when fully written, matching its digest and
// flushed. The record is closed either way.
INT_PTR CloseMember(DeliveryJob* job, const FDINOTIFICATION* notification)
{
    CabFile* record = CabFileOf(notification->hf);
    if (!IsOpenMember(job, record)) return -1;
    ManifestEntry& entry = job->entries[record->entry];
    bool good = record->written == entry.size && Sha256Finish(&record->digest, entry.sha256) &&
                FlushFileBuffers(record->handle);
    if (good) entry.verified = 1;
    // Closing seals the file's identity; a file that could not be sealed is gone again.
    if (CabClose(reinterpret_cast<INT_PTR>(record)) != 0) good = false;
    if (!good) {
        ReportFailure(job, L"应用包中的文件校验失败。", 0);
        return 0;  // abort the copy
    }
    return 1;
}

}  // namespace

INT_PTR DIAMONDAPI CabNotify(FDINOTIFICATIONTYPE type, PFDINOTIFICATION notification)
{
    auto* job = static_cast<DeliveryJob*>(notification->pv);
    if (IsCancelled(job)) return -1;
    // A member that failed its check has published why and asked the decompressor to stop; one
    // that carries on regardless (Wine's ignores the result of fdintCLOSE_FILE_INFO) gets
    // nothing more from this job: no further member is created, and the first failure stays
    // the job's text instead of being overwritten by the next member's progress. The worker
    // is the only writer of phase, and this runs on the worker.
    if (job->phase == PAYLOAD_FAILED) return -1;
    switch (type) {
    case fdintCOPY_FILE:
        return OpenMember(job, notification);
    case fdintCLOSE_FILE_INFO:
        return CloseMember(job, notification);
    case fdintPARTIAL_FILE:
    case fdintNEXT_CABINET:
        return Abort(job, L"应用包必须是完整的单个 CAB 文件。");
    default:
        return 0;
    }
}
