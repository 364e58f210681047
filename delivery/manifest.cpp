// Reads the release manifest key by key through the profile API and validates every value.
// Validation is all or nothing: the first broken rule rejects the whole manifest.
#include "delivery/manifest.h"

#include "delivery/wstr.h"

namespace {

// The profile API reports the units it copied; a value longer than the buffer is cut to
// capacity - 1 units, which the length rules then reject.
DWORD ReadKey(DeliveryJob* job, const wchar_t* section, const wchar_t* key, wchar_t* buffer, DWORD capacity)
{
    return GetPrivateProfileStringW(section, key, L"", buffer, capacity, job->manifestPath);
}

int ReadNumberKey(DeliveryJob* job, const wchar_t* section, const wchar_t* key, ULONGLONG* out)
{
    wchar_t text[32];
    DWORD length = ReadKey(job, section, key, text, 32);
    if (length < 1 || length > 30) return 0;
    return ParseDecimal(text, out);
}

int HexDigit(wchar_t c)
{
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    return -1;  // capitals included: digests are written in lowercase
}

int ReadHashKey(DeliveryJob* job, const wchar_t* section, BYTE* out)
{
    wchar_t text[66];
    if (ReadKey(job, section, L"Sha256", text, 66) != 64) return 0;
    BYTE digest[32];
    for (int k = 0; k < 32; ++k) {
        int high = HexDigit(text[2 * k]);
        int low = HexDigit(text[2 * k + 1]);
        if (high < 0 || low < 0) return 0;
        digest[k] = static_cast<BYTE>(high << 4 | low);
    }
    for (int k = 0; k < 32; ++k) out[k] = digest[k];
    return 1;
}

int ReadEntry(DeliveryJob* job, DWORD index, ULONGLONG* sum)
{
    wchar_t section[16] = L"";
    wchar_t tag[16] = L"";
    AppendDecimal(section, 16, index, 1);
    AppendDecimal(tag, 16, index, 4);
    ManifestEntry& entry = job->entries[index];

    wchar_t text[256];
    ReadKey(job, section, L"Entry", text, 256);
    if (!WStrEqual(text, tag)) return 0;
    if (!ReadNumberKey(job, section, L"Size", &entry.size)) return 0;
    if (!ReadHashKey(job, section, entry.sha256)) return 0;
    DWORD nameLength = ReadKey(job, section, L"Name", entry.name, NameCapacity);
    if (nameLength < 1 || nameLength > NameCapacity - 2) return 0;

    *sum += entry.size;
    return *sum <= MaxByteCount;
}

}  // namespace

int ParseDecimal(const wchar_t* text, ULONGLONG* out)
{
    if (*text == 0) return 0;
    DWORD value = 0;
    for (; *text != 0; ++text) {
        if (*text < L'0' || *text > L'9') return 0;
        if (value > 200000000) return 0;  // value * 10 would leave the accepted range
        value = value * 10 + static_cast<DWORD>(*text - L'0');
        if (value > MaxByteCount) return 0;
    }
    *out = value;
    return 1;
}

int ReadManifest(DeliveryJob* job)
{
    // manifestPath is absolute (PayloadStart made it so): the profile API would look a bare
    // file name up in the Windows directory.
    const wchar_t* package = L"Package";
    wchar_t text[256];

    if (ReadKey(job, package, L"Format", text, 256) != 9 || !WStrEqual(text, L"qel-cab-2")) return 0;
    ReadKey(job, package, L"Target", text, 256);
    if (!WStrEqual(text, L"windows-x64")) return 0;

    ULONGLONG count = 0;
    if (!ReadNumberKey(job, package, L"Count", &count) || count < 1 || count > MaxEntries) return 0;
    if (!ReadNumberKey(job, package, L"Size", &job->packageSize) || job->packageSize == 0) return 0;
    if (!ReadNumberKey(job, package, L"UnpackedSize", &job->unpackedSize)) return 0;
    if (!ReadHashKey(job, package, job->packageSha256)) return 0;
    job->entryCount = static_cast<DWORD>(count);
    if (ReadKey(job, package, L"Url", job->url, UrlCapacity) >= UrlCapacity - 1) return 0;

    ULONGLONG sum = 0;
    for (DWORD i = 0; i < job->entryCount; ++i) {
        if (!ReadEntry(job, i, &sum)) return 0;
    }
    return sum == job->unpackedSize;
}
