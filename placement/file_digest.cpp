#include "placement/file_digest.h"

#include "delivery/handles.h"
#include "delivery/sha256.h"

int MatchesDigest(HANDLE file, ULONGLONG size, const BYTE* digest)
{
    LARGE_INTEGER length;
    if (!GetFileSizeEx(file, &length) || static_cast<ULONGLONG>(length.QuadPart) != size) return 0;
    LARGE_INTEGER start = {};
    if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return 0;
    constexpr DWORD Chunk = 1 << 20;
    UniqueHeapBlock buffer(HeapAlloc(GetProcessHeap(), 0, Chunk));
    if (!buffer) return 0;
    Sha256State state;
    if (!Sha256Begin(&state)) return 0;
    ULONGLONG seen = 0;
    int result = 0;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, buffer.Get(), Chunk, &got, nullptr)) break;
        if (got == 0) {
            result = seen == size && Sha256Finish(&state, digest) ? 1 : 0;
            break;
        }
        seen += got;
        if (seen > size || !BCRYPT_SUCCESS(BCryptHashData(state.hash, static_cast<PUCHAR>(buffer.Get()), got, 0))) break;
    }
    Sha256End(&state);
    return result;
}
