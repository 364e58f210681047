#include "benchmarks/floor_delivery.h"

#include <bcrypt.h>
#include <fdi.h>

#include <cstring>

namespace {

constexpr DWORD ChunkSize = 65536;

struct Hash {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool Begin()
    {
        return BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) &&
               BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0));
    }
    bool Matches(const BYTE* expected)
    {
        BYTE digest[32];
        return BCRYPT_SUCCESS(BCryptFinishHash(hash, digest, 32, 0)) && memcmp(digest, expected, 32) == 0;
    }
    void End()
    {
        if (hash != nullptr) BCryptDestroyHash(hash);
        if (algorithm != nullptr) BCryptCloseAlgorithmProvider(algorithm, 0);
        hash = nullptr;
        algorithm = nullptr;
    }
};

struct OpenFile {
    HANDLE handle = INVALID_HANDLE_VALUE;
    Hash hash;
    const BYTE* expected = nullptr;
};

// The decompressor's file-open callback has no context: the run's package path and state.
struct Run {
    const std::wstring* package;
    const std::wstring* workDir;
    const FloorRelease* release;
    bool good = true;
};
Run* current = nullptr;

void* DIAMONDAPI Alloc(ULONG size) { return HeapAlloc(GetProcessHeap(), 0, size); }
void DIAMONDAPI Free(void* block) { HeapFree(GetProcessHeap(), 0, block); }

INT_PTR DIAMONDAPI Open(char*, int, int)
{
    auto* file = new OpenFile;
    file->handle = CreateFileW(current->package->c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file->handle == INVALID_HANDLE_VALUE) {
        delete file;
        return -1;
    }
    return reinterpret_cast<INT_PTR>(file);
}

UINT DIAMONDAPI Read(INT_PTR file, void* buffer, UINT count)
{
    DWORD got = 0;
    return ReadFile(reinterpret_cast<OpenFile*>(file)->handle, buffer, count, &got, nullptr) ? got : UINT(-1);
}

UINT DIAMONDAPI Write(INT_PTR file, void* buffer, UINT count)
{
    auto* f = reinterpret_cast<OpenFile*>(file);
    DWORD put = 0;
    if (!WriteFile(f->handle, buffer, count, &put, nullptr) || put != count) return UINT(-1);
    if (!BCRYPT_SUCCESS(BCryptHashData(f->hash.hash, static_cast<PUCHAR>(buffer), count, 0))) return UINT(-1);
    return count;
}

int DIAMONDAPI Close(INT_PTR file)
{
    auto* f = reinterpret_cast<OpenFile*>(file);
    bool closed = CloseHandle(f->handle) != 0;
    f->hash.End();
    delete f;
    return closed ? 0 : -1;
}

LONG DIAMONDAPI Seek(INT_PTR file, LONG distance, int origin)
{
    LARGE_INTEGER move, position;
    move.QuadPart = distance;
    if (!SetFilePointerEx(reinterpret_cast<OpenFile*>(file)->handle, move, &position, static_cast<DWORD>(origin))) {
        return -1;
    }
    return static_cast<LONG>(position.QuadPart);
}

INT_PTR DIAMONDAPI Notify(FDINOTIFICATIONTYPE type, PFDINOTIFICATION notification)
{
    auto* run = static_cast<Run*>(notification->pv);
    if (type == fdintCOPY_FILE) {
        const FloorMember* member = nullptr;
        for (const FloorMember& m : run->release->members) {
            if (m.name == notification->psz1) member = &m;
        }
        if (member == nullptr) return -1;
        std::wstring path = *run->workDir + L"\\" + std::wstring(member->name.begin(), member->name.end());
        auto* file = new OpenFile;
        file->expected = member->sha256;
        file->handle = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file->handle == INVALID_HANDLE_VALUE || !file->hash.Begin()) {
            if (file->handle != INVALID_HANDLE_VALUE) CloseHandle(file->handle);
            file->hash.End();
            delete file;
            return -1;
        }
        return reinterpret_cast<INT_PTR>(file);
    }
    if (type == fdintCLOSE_FILE_INFO) {
        auto* file = reinterpret_cast<OpenFile*>(notification->hf);
        bool good = file->hash.Matches(file->expected) && FlushFileBuffers(file->handle);
        Close(notification->hf);
        if (!good) run->good = false;
        return good ? 1 : 0;
    }
    return 0;
}

bool VerifyPackage(const std::wstring& package, const FloorRelease& release)
{
    HANDLE file = CreateFileW(package.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER length;
    bool good = GetFileSizeEx(file, &length) && static_cast<ULONGLONG>(length.QuadPart) == release.packageSize;
    void* buffer = HeapAlloc(GetProcessHeap(), 0, ChunkSize);
    Hash hash;
    good = good && buffer != nullptr && hash.Begin();
    ULONGLONG total = 0;
    while (good) {
        DWORD got = 0;
        if (!ReadFile(file, buffer, ChunkSize, &got, nullptr)) good = false;
        if (!good || got == 0) break;
        good = BCRYPT_SUCCESS(BCryptHashData(hash.hash, static_cast<PUCHAR>(buffer), got, 0));
        total += got;
    }
    good = good && total == release.packageSize && hash.Matches(release.packageSha256);
    hash.End();
    if (buffer != nullptr) HeapFree(GetProcessHeap(), 0, buffer);
    CloseHandle(file);
    return good;
}

}  // namespace

bool DigestFromHex(const std::wstring& hex, BYTE* out)
{
    if (hex.size() != 64) return false;
    for (int i = 0; i < 64; ++i) {
        wchar_t c = hex[i];
        int v = c >= L'0' && c <= L'9' ? c - L'0' : c >= L'a' && c <= L'f' ? c - L'a' + 10 : -1;
        if (v < 0) return false;
        out[i / 2] = static_cast<BYTE>(i % 2 ? (out[i / 2] | v) : v << 4);
    }
    return true;
}

bool FloorDelivery(const std::wstring& package, const std::wstring& workDir, const FloorRelease& release)
{
    if (!VerifyPackage(package, release)) return false;
    if (!CreateDirectoryW(workDir.c_str(), nullptr)) return false;

    Run run{&package, &workDir, &release};
    current = &run;
    ERF error = {};
    HFDI context = FDICreate(Alloc, Free, Open, Read, Write, Close, Seek, cpuUNKNOWN, &error);
    if (context == nullptr) return false;
    bool good = false;
    char name[] = "application.cab";
    INT_PTR test = Open(name, 0, 0);
    if (test != -1) {
        FDICABINETINFO info = {};
        good = FDIIsCabinet(context, test, &info) && info.cbCabinet > 0 &&
               static_cast<ULONGLONG>(info.cbCabinet) == release.packageSize;
        Close(test);
    }
    char path[] = "";
    good = good && FDICopy(context, name, path, 0, Notify, nullptr, &run) && run.good;
    FDIDestroy(context);
    current = nullptr;
    return good;
}
