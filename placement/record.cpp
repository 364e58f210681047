#include "placement/record.h"

#include "delivery/handles.h"
#include "delivery/wstr.h"
#include "placement/job.h"
#include "placement/names.h"

namespace {

int Append(HeapArray<wchar_t>* text, const wchar_t* s, DWORD length)
{
    wchar_t* room = text->Append(length);
    if (room == nullptr) return 0;
    for (DWORD i = 0; i < length; ++i) room[i] = s[i];
    return 1;
}

int Append(HeapArray<wchar_t>* text, const wchar_t* s) { return Append(text, s, TextLength(s)); }

int AppendNumber(HeapArray<wchar_t>* text, ULONGLONG value)
{
    wchar_t digits[24];
    DWORD count = 0;
    do {
        digits[count++] = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    } while (value != 0);
    wchar_t ordered[24];
    for (DWORD i = 0; i < count; ++i) ordered[i] = digits[count - 1 - i];
    return Append(text, ordered, count);
}

struct Line {
    const wchar_t* text;
    DWORD length;
};

// The next line of the text at *at (CR LF or LF), without its end.
bool NextLine(const wchar_t* text, DWORD count, DWORD* at, Line* line)
{
    if (*at >= count) return false;
    DWORD start = *at;
    DWORD end = start;
    while (end < count && text[end] != L'\n') ++end;
    *at = end < count ? end + 1 : end;
    if (end > start && text[end - 1] == L'\r') --end;
    line->text = text + start;
    line->length = end - start;
    return true;
}

bool IsKey(const Line& line, const wchar_t* key, Line* value)
{
    DWORD length = TextLength(key);
    if (line.length <= length || line.text[length] != L'=') return false;
    for (DWORD i = 0; i < length; ++i) {
        if (line.text[i] != key[i]) return false;
    }
    value->text = line.text + length + 1;
    value->length = line.length - length - 1;
    return true;
}

bool ParseUnsigned(const Line& value, ULONGLONG limit, ULONGLONG* out)
{
    if (value.length < 1 || value.length > 20) return false;
    ULONGLONG v = 0;
    for (DWORD i = 0; i < value.length; ++i) {
        wchar_t c = value.text[i];
        if (c < L'0' || c > L'9') return false;
        ULONGLONG digit = static_cast<ULONGLONG>(c - L'0');
        if (v > (limit - digit) / 10) return false;
        v = v * 10 + digit;
    }
    *out = v;
    return true;
}

int Hex(wchar_t c)
{
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    return -1;
}

bool ParseDigest(const Line& value, BYTE* out)
{
    if (value.length != 64) return false;
    for (int k = 0; k < 32; ++k) {
        int high = Hex(value.text[2 * k]);
        int low = Hex(value.text[2 * k + 1]);
        if (high < 0 || low < 0) return false;
        out[k] = static_cast<BYTE>(high << 4 | low);
    }
    return true;
}

// "[N]" for the section expected next.
bool IsSection(const Line& line, const wchar_t* name)
{
    DWORD length = TextLength(name);
    if (line.length != length + 2 || line.text[0] != L'[' || line.text[length + 1] != L']') return false;
    for (DWORD i = 0; i < length; ++i) {
        if (line.text[i + 1] != name[i]) return false;
    }
    return true;
}

bool FoldedBefore(void* context, DWORD a, DWORD b)
{
    auto* record = static_cast<InstallRecord*>(context);
    return CompareFolded(record->folded.At(record->entries[a].folded), record->folded.At(record->entries[b].folded)) < 0;
}

}  // namespace

int RecordBegin(HeapArray<wchar_t>* text, const wchar_t* version, DWORD count)
{
    const wchar_t bom[] = {0xFEFF, 0};
    return Append(text, bom) && Append(text, L"[Install]\r\nVersion=") && Append(text, version) &&
           Append(text, L"\r\nCount=") && AppendNumber(text, count) && Append(text, L"\r\n");
}

int RecordAppend(HeapArray<wchar_t>* text, DWORD index, const wchar_t* name, DWORD nameLength, ULONGLONG size,
                 const BYTE* sha256, LONGLONG written)
{
    wchar_t hex[65];
    const wchar_t* digits = L"0123456789abcdef";
    for (int k = 0; k < 32; ++k) {
        hex[2 * k] = digits[sha256[k] >> 4];
        hex[2 * k + 1] = digits[sha256[k] & 15];
    }
    hex[64] = 0;
    return Append(text, L"\r\n[") && AppendNumber(text, index) && Append(text, L"]\r\nName=") &&
           Append(text, name, nameLength) && Append(text, L"\r\nSize=") && AppendNumber(text, size) &&
           Append(text, L"\r\nSha256=") && Append(text, hex) && Append(text, L"\r\nTime=") &&
           AppendNumber(text, static_cast<ULONGLONG>(written)) && Append(text, L"\r\n");
}

int ParseRecord(const BYTE* bytes, DWORD count, InstallRecord* out)
{
    if (count < 2 || count % 2 != 0 || bytes[0] != 0xFF || bytes[1] != 0xFE) return 0;
    const auto* text = reinterpret_cast<const wchar_t*>(bytes) + 1;
    DWORD units = count / 2 - 1;
    DWORD at = 0;
    Line line;

    // [Install] with Version and Count, in any order, then the entries in order.
    while (NextLine(text, units, &at, &line) && line.length == 0) {
    }
    if (!IsSection(line, L"Install")) return 0;
    ULONGLONG entryCount = MAXDWORD;
    bool haveVersion = false;
    out->version[0] = 0;
    DWORD next = 0;
    RecordEntry entry = {};
    int keys = 0;  // Name, Size, Sha256, Time seen in the current entry: bits 1, 2, 4, 8
    bool inEntry = false;
    auto finishEntry = [&]() -> bool {
        if (!inEntry) return true;
        if (keys != 15 || !out->entries.Push(entry)) return false;
        inEntry = false;
        return true;
    };
    while (NextLine(text, units, &at, &line)) {
        if (line.length == 0) continue;
        Line value;
        if (line.text[0] == L'[') {
            if (!finishEntry()) return 0;
            wchar_t name[16] = L"";
            AppendDecimal(name, 16, next, 1);
            if (entryCount == MAXDWORD || next >= entryCount || !IsSection(line, name)) return 0;
            ++next;
            entry = {};
            keys = 0;
            inEntry = true;
            continue;
        }
        if (!inEntry) {
            if (IsKey(line, L"Version", &value)) {
                if (value.length >= 128) return 0;
                for (DWORD i = 0; i < value.length; ++i) out->version[i] = value.text[i];
                out->version[value.length] = 0;
                haveVersion = true;
            } else if (IsKey(line, L"Count", &value)) {
                if (!ParseUnsigned(value, MaxRecordEntries, &entryCount)) return 0;
            }
            continue;
        }
        if (IsKey(line, L"Name", &value)) {
            if (value.length < 1 || value.length > NameCapacity - 2) return 0;
            wchar_t raw[NameCapacity];
            for (DWORD i = 0; i < value.length; ++i) raw[i] = value.text[i];
            raw[value.length] = 0;
            wchar_t name[NameCapacity];
            wchar_t folded[NameCapacity];
            if (!NormalizeName(raw, name, &entry.nameLength) || !FoldName(name, entry.nameLength, folded)) return 0;
            entry.name = out->names.Add(name, entry.nameLength);
            entry.folded = out->folded.Add(folded, entry.nameLength);
            if (entry.name == MAXDWORD || entry.folded == MAXDWORD) return 0;
            keys |= 1;
        } else if (IsKey(line, L"Size", &value)) {
            if (!ParseUnsigned(value, MaxByteCount, &entry.size)) return 0;
            keys |= 2;
        } else if (IsKey(line, L"Sha256", &value)) {
            if (!ParseDigest(value, entry.sha256)) return 0;
            keys |= 4;
        } else if (IsKey(line, L"Time", &value)) {
            ULONGLONG time = 0;
            if (!ParseUnsigned(value, 0x7FFFFFFFFFFFFFFFull, &time)) return 0;
            entry.written = static_cast<LONGLONG>(time);
            keys |= 8;
        }
    }
    if (!finishEntry() || !haveVersion || entryCount == MAXDWORD || next != entryCount) return 0;

    // A name twice would make one file count twice.
    DWORD n = out->entries.count;
    if (n > 1) {
        UniqueHeapBlock block(HeapAlloc(GetProcessHeap(), 0, n * sizeof(DWORD)));
        if (!block) return 0;
        DWORD* sorted = static_cast<DWORD*>(block.Get());
        for (DWORD i = 0; i < n; ++i) sorted[i] = i;
        SortIndices(sorted, n, FoldedBefore, out);
        for (DWORD i = 1; i < n; ++i) {
            if (CompareFolded(out->folded.At(out->entries[sorted[i - 1]].folded),
                              out->folded.At(out->entries[sorted[i]].folded)) == 0) {
                return 0;
            }
        }
    }
    return 1;
}
