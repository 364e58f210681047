#include "placement/release_index.h"

#include "delivery/handles.h"
#include "delivery/wstr.h"
#include "placement/names.h"

namespace {

constexpr DWORD SectionNamesCapacity = 32768;

DWORD ReadKey(const wchar_t* path, const wchar_t* section, const wchar_t* key, wchar_t* buffer, DWORD capacity)
{
    return GetPrivateProfileStringW(section, key, L"", buffer, capacity, path);
}

// Decimal digits only, at most limit.
int ParseCount(const wchar_t* text, ULONGLONG limit, ULONGLONG* out)
{
    ULONGLONG value = 0;
    if (text[0] == 0) return 0;
    for (const wchar_t* c = text; *c != 0; ++c) {
        if (*c < L'0' || *c > L'9') return 0;
        value = value * 10 + static_cast<ULONGLONG>(*c - L'0');
        if (value > limit) return 0;
    }
    *out = value;
    return 1;
}

int Fail(wchar_t* failure, const wchar_t* text, const wchar_t* detail)
{
    WStrCopy(failure, StatusCapacity, text);
    if (detail != nullptr) {
        wchar_t scratch[PathCapacity];
        WStrAppend(failure, StatusCapacity, TextStartsWith(detail, L"\\\\?\\") ? DisplayPath(detail, scratch) : detail);
    }
    return 0;
}

bool IsPlainFile(const wchar_t* path)
{
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

// A plain file name of the index's folder: one component that the name rules let through.
bool IsPlainName(const wchar_t* name)
{
    wchar_t normal[NameCapacity];
    DWORD length = 0;
    if (TextLength(name) + 2 > NameCapacity || !NormalizeName(name, normal, &length)) return false;
    for (DWORD i = 0; i < length; ++i) {
        if (normal[i] == L'\\') return false;
    }
    return true;
}

bool SameName(const wchar_t* a, const wchar_t* b)
{
    return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

// The folder part of path (without the last separator).
void FolderOf(const wchar_t* path, wchar_t* out)
{
    WStrCopy(out, PathCapacity, path);
    DWORD cut = 0;
    for (DWORD i = 0; out[i] != 0; ++i) {
        if (out[i] == L'\\' || out[i] == L'/') cut = i;
    }
    out[cut] = 0;
}

// What the part's manifest says of its package: Url, Size, UnpackedSize; and its Sha256 text.
int ReadPartManifest(ReleasePartSource* part, wchar_t* sha256)
{
    wchar_t text[40];
    ReadKey(part->manifest, L"Package", L"Url", part->url, UrlCapacity);
    ReadKey(part->manifest, L"Package", L"Size", text, 40);
    if (!ParseCount(text, MaxByteCount, &part->size)) return 0;
    ReadKey(part->manifest, L"Package", L"UnpackedSize", text, 40);
    if (!ParseCount(text, MaxByteCount, &part->unpacked)) return 0;
    return ReadKey(part->manifest, L"Package", L"Sha256", sha256, 80) == 64;
}

int ReadSingleManifest(const wchar_t* release, const wchar_t* package, ReleaseIndex* out, wchar_t* failure)
{
    ReleasePartSource& part = out->parts[0];
    WStrCopy(part.manifest, PathCapacity, release);
    wchar_t sha256[80];
    if (!ReadPartManifest(&part, sha256)) return Fail(failure, L"应用包发布清单无效。", nullptr);
    // Without a Url the package is the host's file; qelfetch says so when it cannot read it.
    if (part.url[0] == 0) WStrCopy(part.package, PathCapacity, package);
    out->partCount = 1;
    return 1;
}

// Every section name of the index: PartK only for K in 1..parts, each once.
int CheckSections(const wchar_t* release, DWORD parts, wchar_t* failure)
{
    auto* names = static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, SectionNamesCapacity * sizeof(wchar_t)));
    if (names == nullptr) return Fail(failure, L"内存不足，无法安装。", nullptr);
    ScopeExit free([&] { HeapFree(GetProcessHeap(), 0, names); });
    DWORD length = GetPrivateProfileSectionNamesW(names, SectionNamesCapacity, release);
    if (length + 2 >= SectionNamesCapacity) return Fail(failure, L"发布索引无效：", release);
    BYTE seen[MaxParts + 1] = {};
    for (const wchar_t* name = names; *name != 0; name += TextLength(name) + 1) {
        if (CompareStringOrdinal(name, 4, L"Part", 4, TRUE) != CSTR_EQUAL || name[4] == 0) continue;
        ULONGLONG k = 0;
        if (!ParseCount(name + 4, 100000, &k) || k == 0 || k > parts) {
            return Fail(failure, L"发布索引的分卷数与分卷不一致：", release);
        }
        if (seen[k]++) return Fail(failure, L"发布索引中的分卷重复：", name);
    }
    for (DWORD k = 1; k <= parts; ++k) {
        if (!seen[k]) return Fail(failure, L"发布索引的分卷数与分卷不一致：", release);
    }
    return 1;
}

int ReadMirrors(const wchar_t* release, ReleaseIndex* out, wchar_t* failure)
{
    wchar_t text[40];
    ULONGLONG count = 0;
    ReadKey(release, L"Release", L"Mirrors", text, 40);
    if (text[0] != 0 && !ParseCount(text, MaxMirrors, &count)) return Fail(failure, L"发布索引无效：", release);
    for (DWORD m = 0; m < count; ++m) {
        wchar_t key[16] = L"Mirror";
        AppendDecimal(key, 16, m + 1, 1);
        wchar_t* base = out->mirrors[m];
        DWORD length = ReadKey(release, L"Release", key, base, UrlCapacity);
        if (length == 0 || length + 1 >= UrlCapacity || !TextStartsWith(base, L"https://") || base[length - 1] != L'/') {
            return Fail(failure, L"发布索引中的镜像地址无效：", key);
        }
    }
    out->mirrorCount = static_cast<DWORD>(count);
    return 1;
}

}  // namespace

int MirrorUrl(const wchar_t* base, const wchar_t* packageName, wchar_t* out)
{
    return WStrCopy(out, UrlCapacity, base) >= 0 && WStrAppend(out, UrlCapacity, packageName) >= 0;
}

int ReadReleaseIndex(const wchar_t* release, const wchar_t* package, ReleaseIndex* out, wchar_t* failure)
{
    if (!IsPlainFile(release)) return Fail(failure, L"发布索引中的文件缺失：", release);
    wchar_t text[128];
    ReadKey(release, L"Release", L"Format", text, 128);
    if (text[0] == 0) {
        ReadKey(release, L"Package", L"Format", text, 128);
        if (text[0] != 0) return ReadSingleManifest(release, package, out, failure);
        return Fail(failure, L"发布索引无效：", release);
    }
    if (!WStrEqual(text, L"qel-release-1")) return Fail(failure, L"发布索引无效：", release);
    ReadKey(release, L"Release", L"Target", text, 128);
    if (!WStrEqual(text, L"windows-x64")) return Fail(failure, L"发布索引无效：", release);
    ULONGLONG parts = 0;
    ReadKey(release, L"Release", L"Parts", text, 128);
    if (!ParseCount(text, 100000, &parts) || parts == 0) return Fail(failure, L"发布索引无效：", release);
    if (parts > MaxParts) return Fail(failure, L"发布索引的分卷过多：", release);
    if (!CheckSections(release, static_cast<DWORD>(parts), failure)) return 0;
    if (!ReadMirrors(release, out, failure)) return 0;

    wchar_t folder[PathCapacity];
    FolderOf(release, folder);
    const wchar_t* packages = package[0] != 0 ? package : folder;
    for (DWORD k = 0; k < parts; ++k) {
        wchar_t section[16] = L"Part";
        AppendDecimal(section, 16, k + 1, 1);
        ReleasePartSource& part = out->parts[k];
        wchar_t manifestName[NameCapacity];
        ReadKey(release, section, L"Manifest", manifestName, NameCapacity);
        ReadKey(release, section, L"Package", part.packageName, NameCapacity);
        if (!IsPlainName(manifestName) || !IsPlainName(part.packageName) || SameName(manifestName, part.packageName)) {
            return Fail(failure, L"发布索引无效：", release);
        }
        for (DWORD j = 0; j < k; ++j) {
            const wchar_t* other[2] = {out->parts[j].manifest + TextLength(folder) + 1, out->parts[j].packageName};
            for (const wchar_t* name : other) {
                if (SameName(name, manifestName)) return Fail(failure, L"发布索引中的分卷重复：", manifestName);
                if (SameName(name, part.packageName)) return Fail(failure, L"发布索引中的分卷重复：", part.packageName);
            }
        }
        if (!JoinPath(part.manifest, folder, manifestName)) return Fail(failure, L"发布索引无效：", release);
        if (!IsPlainFile(part.manifest)) return Fail(failure, L"发布索引中的文件缺失：", part.manifest);
        wchar_t sha256[80];
        wchar_t indexSha256[80];
        ULONGLONG size = 0;
        ReadKey(release, section, L"Size", text, 128);
        ReadKey(release, section, L"Sha256", indexSha256, 80);
        if (!ReadPartManifest(&part, sha256) || !ParseCount(text, MaxByteCount, &size) || size != part.size ||
            CompareStringOrdinal(sha256, -1, indexSha256, -1, TRUE) != CSTR_EQUAL) {
            return Fail(failure, L"发布索引与分卷的发布清单不一致：", part.manifest);
        }
        if ((part.url[0] == 0) != (out->parts[0].url[0] == 0) || (part.url[0] == 0 && out->mirrorCount != 0)) {
            return Fail(failure, L"发布索引无效：", release);
        }
        if (part.url[0] == 0) {
            if (!JoinPath(part.package, packages, part.packageName)) return Fail(failure, L"发布索引无效：", release);
            if (!IsPlainFile(part.package)) return Fail(failure, L"发布索引中的文件缺失：", part.package);
        }
        for (DWORD m = 0; m < out->mirrorCount; ++m) {
            wchar_t url[UrlCapacity];
            if (!MirrorUrl(out->mirrors[m], part.packageName, url)) return Fail(failure, L"发布索引中的镜像地址无效：", out->mirrors[m]);
        }
    }
    out->partCount = static_cast<DWORD>(parts);
    return 1;
}
