// Memory and file callbacks of the cabinet decompressor. The package is the only file it may
// open; member files are opened by the notification callback and only written here, each write
// bounded by its entry's size and fed into the entry's running hash.
#include "delivery/cab_file.h"

#include "delivery/file_identity.h"

#include "delivery/extraction_lock.h"

namespace {

constexpr UINT CallbackFailed = static_cast<UINT>(-1);

// Byte for byte and case-sensitive: a locale comparison would let ignorable characters pass.
bool NamesPackage(const char* name)
{
    if (name == nullptr) return false;
    const char* expected = PackageCabinetName;
    for (; *expected != 0; ++name, ++expected) {
        if (*name != *expected) return false;
    }
    return *name == 0;
}

}  // namespace

CabFile* CabFileOf(INT_PTR file)
{
    if (file == 0 || file == -1) return nullptr;
    return reinterpret_cast<CabFile*>(file);
}

void LinkOpenFile(CabFile* record)
{
    record->next = record->job->openFiles;
    record->job->openFiles = record;
}

void* DIAMONDAPI CabAlloc(ULONG size) { return HeapAlloc(GetProcessHeap(), 0, size); }

void DIAMONDAPI CabFree(void* block)
{
    if (block != nullptr) HeapFree(GetProcessHeap(), 0, block);
}

// Opens the package of the job being extracted, for reading, with writers excluded. The flags
// and mode the decompressor asks for are ignored: nothing but the package is ever opened here,
// and only the very file the worker verified (and still holds open): a folder link on the path
// pointed elsewhere since then reaches another file, which is refused.
INT_PTR DIAMONDAPI CabOpen(char* name, int, int)
{
    DeliveryJob* job = ExtractionJob;
    if (job == nullptr || IsCancelled(job) || !NamesPackage(name)) return -1;

    auto* record = static_cast<CabFile*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(CabFile)));
    if (record == nullptr) return -1;
    record->job = job;
    record->entry = -1;
    record->handle = OpenSameFile(job->packagePath, job->verifiedIdentity, FILE_FLAG_SEQUENTIAL_SCAN);
    if (record->handle == INVALID_HANDLE_VALUE) {
        HeapFree(GetProcessHeap(), 0, record);
        return -1;
    }
    LinkOpenFile(record);
    return reinterpret_cast<INT_PTR>(record);
}

UINT DIAMONDAPI CabRead(INT_PTR file, void* buffer, UINT count)
{
    CabFile* record = CabFileOf(file);
    if (record == nullptr || IsCancelled(record->job)) return CallbackFailed;
    DWORD got = 0;
    if (!ReadFile(record->handle, buffer, count, &got, nullptr)) return CallbackFailed;
    return got;
}

UINT DIAMONDAPI CabWrite(INT_PTR file, void* buffer, UINT count)
{
    CabFile* record = CabFileOf(file);
    if (record == nullptr || IsCancelled(record->job)) return CallbackFailed;
    if (record->entry < 0) return CallbackFailed;  // the package is never written
    DeliveryJob* job = record->job;
    ManifestEntry& entry = job->entries[record->entry];
    if (record->written + count > entry.size) return CallbackFailed;

    // A failed or short write (a full disk) says so itself: a decompressor that goes on to close
    // the member anyway would otherwise report it as a member that failed its check.
    DWORD put = 0;
    if (!WriteFile(record->handle, buffer, count, &put, nullptr) || put != count) {
        ReportFailure(job, L"应用包解压失败或文件清单不完整。", 0);
        return CallbackFailed;
    }
    if (!BCRYPT_SUCCESS(BCryptHashData(record->digest.hash, static_cast<PUCHAR>(buffer), count, 0))) {
        return CallbackFailed;
    }
    record->written += count;
    job->extractedBytes += count;
    PublishStatus(job, PAYLOAD_EXTRACTING, job->extractedBytes, job->unpackedSize, entry.name);
    return count;
}

// Closes the file, unlinks the record from its job's list, releases its hash and frees it.
int DIAMONDAPI CabClose(INT_PTR file)
{
    CabFile* record = CabFileOf(file);
    if (record == nullptr) return -1;
    // A member's file is sealed before its handle goes: closing the job later deletes it only
    // when the file on its path is still this one. One that cannot be sealed would never be
    // recognised again, so it is deleted now, through the handle that created it.
    bool sealed = true;
    if (record->entry >= 0) {
        ManifestEntry& entry = record->job->entries[record->entry];
        sealed = SealFileIdentity(record->handle, &entry.identity) != 0;
        if (!sealed) {
            DeleteThroughHandle(record->handle);
            entry.verified = 0;
        }
    }
    bool closed = CloseHandle(record->handle) != 0 && sealed;

    for (CabFile** link = &record->job->openFiles; *link != nullptr; link = &(*link)->next) {
        if (*link == record) {
            *link = record->next;
            break;
        }
    }
    Sha256End(&record->digest);
    HeapFree(GetProcessHeap(), 0, record);
    return closed ? 0 : -1;
}

LONG DIAMONDAPI CabSeek(INT_PTR file, LONG distance, int origin)
{
    CabFile* record = CabFileOf(file);
    if (record == nullptr || IsCancelled(record->job)) return -1;
    if (origin < 0 || origin > 2) return -1;  // FILE_BEGIN, FILE_CURRENT, FILE_END
    LARGE_INTEGER move;
    move.QuadPart = distance;
    LARGE_INTEGER position;
    if (!SetFilePointerEx(record->handle, move, &position, static_cast<DWORD>(origin))) return -1;
    if (position.QuadPart < 0 || position.QuadPart > static_cast<LONGLONG>(MaxByteCount)) return -1;
    return static_cast<LONG>(position.QuadPart);
}
