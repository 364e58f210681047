#include "placement/manifest.h"

#include "delivery/handles.h"
#include "delivery/wstr.h"
#include "placement/names.h"
#include "placement/profile_section.h"

namespace {

int ParseNumber(const wchar_t* text, DWORD length, ULONGLONG* out)
{
    if (length < 1 || length > 30) return 0;
    ULONGLONG value = 0;
    for (DWORD i = 0; i < length; ++i) {
        if (text[i] < L'0' || text[i] > L'9') return 0;
        value = value * 10 + static_cast<ULONGLONG>(text[i] - L'0');
        if (value > MaxByteCount) return 0;
    }
    *out = value;
    return 1;
}

int HexDigit(wchar_t c)
{
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    return -1;
}

int ParseDigest(const wchar_t* text, DWORD length, BYTE* out)
{
    if (length != 64) return 0;
    for (int k = 0; k < 32; ++k) {
        int high = HexDigit(text[2 * k]);
        int low = HexDigit(text[2 * k + 1]);
        if (high < 0 || low < 0) return 0;
        out[k] = static_cast<BYTE>(high << 4 | low);
    }
    return 1;
}

struct Refusal {
    PartRefusal why;
    DWORD name;
};

// Reads entry index of the manifest; on a bad name the name is added to the pool so that the
// failure line can show it.
Refusal ReadEntry(PlaceJob* job, const wchar_t* path, DWORD part, DWORD index, ULONGLONG* sum)
{
    wchar_t section[16] = L"";
    wchar_t tag[16] = L"";
    AppendDecimal(section, 16, index, 1);
    AppendDecimal(tag, 16, index, 4);
    ProfileSection keys;
    keys.Read(path, section);
    wchar_t text[256];
    keys.Get(L"Entry", text, 256);
    if (!WStrEqual(text, tag)) return {PartRefusal::Manifest, MAXDWORD};

    ReleaseEntry entry = {};
    entry.part = part;
    entry.index = index;
    DWORD length = keys.Get(L"Size", text, 32);
    if (!ParseNumber(text, length, &entry.size)) return {PartRefusal::Manifest, MAXDWORD};
    length = keys.Get(L"Sha256", text, 66);
    if (!ParseDigest(text, length, entry.sha256)) return {PartRefusal::Manifest, MAXDWORD};

    wchar_t raw[NameCapacity];
    length = keys.Get(L"Name", raw, NameCapacity);
    if (length < 1 || length > NameCapacity - 2) return {PartRefusal::Manifest, MAXDWORD};
    wchar_t name[NameCapacity];
    wchar_t folded[NameCapacity];
    if (!NormalizeName(raw, name, &entry.nameLength)) {
        return {PartRefusal::Unsafe, job->names.Add(raw, length)};
    }
    if (!FoldName(name, entry.nameLength, folded)) return {PartRefusal::Memory, MAXDWORD};
    entry.name = job->names.Add(name, entry.nameLength);
    entry.folded = job->folded.Add(folded, entry.nameLength);
    if (entry.name == MAXDWORD || entry.folded == MAXDWORD || !job->entries.Push(entry)) {
        return {PartRefusal::Memory, MAXDWORD};
    }
    *sum += entry.size;
    if (*sum > MaxByteCount) return {PartRefusal::Manifest, MAXDWORD};
    return {PartRefusal::None, MAXDWORD};
}

bool FoldedBefore(void* context, DWORD a, DWORD b)
{
    PlaceJob* job = static_cast<PlaceJob*>(context);
    return CompareFolded(job->folded.At(job->entries[a].folded), job->folded.At(job->entries[b].folded)) < 0;
}

// Binary search of the sorted entries for a folded text of length units.
bool Contains(PlaceJob* job, const DWORD* sorted, DWORD count, const wchar_t* text, DWORD length)
{
    DWORD low = 0;
    DWORD high = count;
    while (low < high) {
        DWORD mid = low + (high - low) / 2;
        const wchar_t* name = job->folded.At(job->entries[sorted[mid]].folded);
        int order = 0;
        DWORD i = 0;
        for (; i < length; ++i) {
            if (name[i] != text[i]) {
                order = name[i] < text[i] ? -1 : 1;
                break;
            }
        }
        if (order == 0 && name[length] != 0) order = 1;  // name is longer
        if (order == 0) return true;
        if (order < 0) low = mid + 1;
        else high = mid;
    }
    return false;
}

}  // namespace

PartRefusal FindNameClash(PlaceJob* job, DWORD* offender)
{
    *offender = MAXDWORD;
    DWORD count = job->entries.count;
    if (count == 0) return PartRefusal::None;
    UniqueHeapBlock block(HeapAlloc(GetProcessHeap(), 0, count * sizeof(DWORD)));
    if (!block) return PartRefusal::Memory;
    DWORD* sorted = static_cast<DWORD*>(block.Get());
    for (DWORD i = 0; i < count; ++i) sorted[i] = i;
    SortIndices(sorted, count, FoldedBefore, job);

    // The later of two equal names is the one reported: the part being added.
    for (DWORD i = 1; i < count; ++i) {
        const ReleaseEntry& a = job->entries[sorted[i - 1]];
        const ReleaseEntry& b = job->entries[sorted[i]];
        if (CompareFolded(job->folded.At(a.folded), job->folded.At(b.folded)) == 0) {
            *offender = (sorted[i] > sorted[i - 1] ? b : a).name;
            return PartRefusal::Duplicate;
        }
    }
    // "a" and "a\b": one file would have to be a folder.
    for (DWORD i = 0; i < count; ++i) {
        const ReleaseEntry& e = job->entries[i];
        const wchar_t* name = job->folded.At(e.folded);
        for (DWORD p = 0; p < e.nameLength; ++p) {
            if (name[p] == L'\\' && Contains(job, sorted, count, name, p)) {
                *offender = e.name;
                return PartRefusal::Nested;
            }
        }
    }
    return PartRefusal::None;
}

PartRefusal AddManifestEntries(PlaceJob* job, DWORD part, const wchar_t* path, DWORD* offender)
{
    *offender = MAXDWORD;
    DWORD firstEntry = job->entries.count;
    DWORD namesMark = job->names.units.count;
    DWORD foldedMark = job->folded.units.count;
    auto refuse = [&](PartRefusal why, DWORD name) {
        // The entries go, and with them their names; a name shown in the failure line stays.
        job->entries.count = firstEntry;
        if (name == MAXDWORD) job->names.units.count = namesMark;
        job->folded.units.count = foldedMark;
        *offender = name;
        return why;
    };

    ProfileSection package;
    package.Read(path, L"Package");
    wchar_t text[256];
    if (package.Get(L"Format", text, 256) != 9 || !WStrEqual(text, L"qel-cab-2")) {
        return refuse(PartRefusal::Manifest, MAXDWORD);
    }
    package.Get(L"Target", text, 256);
    if (!WStrEqual(text, L"windows-x64")) return refuse(PartRefusal::Manifest, MAXDWORD);
    ULONGLONG count = 0;
    DWORD length = package.Get(L"Count", text, 32);
    if (!ParseNumber(text, length, &count) || count < 1 || count > MaxPartEntries) {
        return refuse(PartRefusal::Manifest, MAXDWORD);
    }
    ULONGLONG unpacked = 0;
    length = package.Get(L"UnpackedSize", text, 32);
    if (!ParseNumber(text, length, &unpacked)) return refuse(PartRefusal::Manifest, MAXDWORD);

    ULONGLONG sum = 0;
    for (DWORD i = 0; i < static_cast<DWORD>(count); ++i) {
        Refusal r = ReadEntry(job, path, part, i, &sum);
        if (r.why != PartRefusal::None) return refuse(r.why, r.name);
    }
    if (sum != unpacked) return refuse(PartRefusal::Manifest, MAXDWORD);

    DWORD clash = MAXDWORD;
    PartRefusal why = FindNameClash(job, &clash);
    if (why != PartRefusal::None) {
        // The name stays readable for the failure line: copy it past the marks first.
        if (clash != MAXDWORD) {
            wchar_t name[NameCapacity];
            WStrCopy(name, job->names.At(clash));
            job->names.units.count = namesMark;
            DWORD kept = job->names.Add(name, TextLength(name));
            job->entries.count = firstEntry;
            job->folded.units.count = foldedMark;
            *offender = kept;
            return why;
        }
        return refuse(why, MAXDWORD);
    }
    return PartRefusal::None;
}
