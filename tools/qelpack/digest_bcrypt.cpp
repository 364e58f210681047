// SHA-256 with the platform's CNG provider.
#include "tools/qelpack/digest.h"

#include <windows.h>

#include <bcrypt.h>

#include <vector>

#include "tools/qelpack/platform_win.h"

struct Sha256::State {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool ok = false;
    ~State()
    {
        if (hash != nullptr) BCryptDestroyHash(hash);
        if (algorithm != nullptr) BCryptCloseAlgorithmProvider(algorithm, 0);
    }
};

Sha256::Sha256() : state_(new State)
{
    state_->ok = BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&state_->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) &&
                 BCRYPT_SUCCESS(BCryptCreateHash(state_->algorithm, &state_->hash, nullptr, 0, nullptr, 0, 0));
}

Sha256::~Sha256() = default;

bool Sha256::Ready() const { return state_->ok; }

bool Sha256::Update(const void* data, size_t size)
{
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    while (state_->ok && size > 0) {
        ULONG chunk = size > 0x40000000 ? 0x40000000 : static_cast<ULONG>(size);
        state_->ok = BCRYPT_SUCCESS(BCryptHashData(state_->hash, const_cast<PUCHAR>(bytes), chunk, 0));
        bytes += chunk;
        size -= chunk;
    }
    return state_->ok;
}

std::string Sha256::Finish()
{
    unsigned char digest[32];
    if (!state_->ok || !BCRYPT_SUCCESS(BCryptFinishHash(state_->hash, digest, sizeof digest, 0))) return {};
    state_->ok = false;  // a hash object finishes once
    std::string hex;
    for (unsigned char b : digest) {
        hex += "0123456789abcdef"[b >> 4];
        hex += "0123456789abcdef"[b & 15];
    }
    return hex;
}

bool FileSha256(const std::string& path, std::string* hex, unsigned long long* size)
{
    HANDLE file = CreateFileW(WidePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    Sha256 digest;
    std::vector<unsigned char> buffer(1 << 16);
    unsigned long long total = 0;
    bool ok = digest.Ready();
    while (ok) {
        DWORD got = 0;
        if (!ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) ok = false;
        if (!ok || got == 0) break;
        total += got;
        ok = digest.Update(buffer.data(), got);
    }
    CloseHandle(file);
    if (!ok) return false;
    *hex = digest.Finish();
    *size = total;
    return !hex->empty();
}
