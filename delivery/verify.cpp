// Proves that the package file is the one the manifest describes: its length and its SHA-256
// digest, in one streaming pass.
#include "delivery/verify.h"

#include "delivery/handles.h"
#include "delivery/sha256.h"

namespace {

constexpr DWORD ChunkSize = 65536;
const wchar_t* const VerifyingText = L"正在校验应用包完整性…";

// 1 when the whole file hashes to the manifest's digest and its length is packageSize; 0 on a
// mismatch, a read error or a cancellation.
int HashPackage(DeliveryJob* job, HANDLE file, BYTE* buffer, Sha256State* state)
{
    if (IsCancelled(job)) return 0;
    ULONGLONG total = 0;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, buffer, ChunkSize, &got, nullptr)) return 0;
        if (got == 0) return total == job->packageSize && Sha256Finish(state, job->packageSha256);
        if (!BCRYPT_SUCCESS(BCryptHashData(state->hash, buffer, got, 0))) return 0;
        total += got;
        PublishStatus(job, PAYLOAD_VERIFYING, total, job->packageSize, VerifyingText);
        if (IsCancelled(job)) return 0;
    }
}

}  // namespace

int VerifyPackage(DeliveryJob* job, HANDLE file)
{
    LARGE_INTEGER length;
    if (!GetFileSizeEx(file, &length) || static_cast<ULONGLONG>(length.QuadPart) != job->packageSize) {
        return ReportFailure(job, L"应用包大小与发布清单不一致。", 0);
    }

    UniqueHeapBlock buffer(HeapAlloc(GetProcessHeap(), 0, ChunkSize));
    if (!buffer) return ReportFailure(job, L"无法初始化应用包校验。", 0);
    Sha256State state = {};
    if (!Sha256Begin(&state)) return ReportFailure(job, L"无法初始化应用包校验。", 0);

    PublishStatus(job, PAYLOAD_VERIFYING, 0, job->packageSize, VerifyingText);
    int intact = HashPackage(job, file, static_cast<BYTE*>(buffer.Get()), &state);
    Sha256End(&state);

    if (!intact && !IsCancelled(job)) return ReportFailure(job, L"应用包 SHA-256 校验失败，未开始安装。", 0);
    return intact;
}
