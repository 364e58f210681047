#include "placement/plan.h"

#include "placement/paths.h"

namespace {

constexpr DWORD JournalMagic = 0x4A4C4551;  // "QELJ"
constexpr DWORD JournalVersion = 1;

struct JournalHeader {
    DWORD magic;
    DWORD version;
    DWORD removal;
    DWORD stepCount;
    DWORD payloadBytes;
    DWORD checksum;
};

// FNV-1a over the payload: enough to tell a journal cut short from a whole one.
DWORD Checksum(const BYTE* bytes, DWORD count)
{
    DWORD hash = 2166136261u;
    for (DWORD i = 0; i < count; ++i) {
        hash ^= bytes[i];
        hash *= 16777619u;
    }
    return hash;
}

int Put(HeapArray<BYTE>* out, const void* data, DWORD count)
{
    BYTE* room = out->Append(count);
    if (room == nullptr) return 0;
    const BYTE* from = static_cast<const BYTE*>(data);
    for (DWORD i = 0; i < count; ++i) room[i] = from[i];
    return 1;
}

struct KeyRecord {
    ULONGLONG volume;
    BYTE id[16];
    ULONGLONG size;
    LONGLONG written;
    LONGLONG created;
    DWORD attributes;
    DWORD known;
};

KeyRecord ToRecord(const FileKey& key)
{
    KeyRecord r = {};
    r.volume = key.volume;
    for (int i = 0; i < 16; ++i) r.id[i] = key.id[i];
    r.size = key.size;
    r.written = key.written;
    r.created = key.created;
    r.attributes = key.attributes;
    r.known = static_cast<DWORD>(key.known);
    return r;
}

FileKey FromRecord(const KeyRecord& r)
{
    FileKey key = {};
    key.volume = r.volume;
    for (int i = 0; i < 16; ++i) key.id[i] = r.id[i];
    key.size = r.size;
    key.written = r.written;
    key.created = r.created;
    key.attributes = r.attributes;
    key.known = r.known != 0 ? 1 : 0;
    return key;
}

struct StepRecord {
    BYTE kind;
    BYTE flags;
    WORD pathLength;
    WORD awayLength;
    WORD spareLength;  // 0xFFFF: no spare
    KeyRecord key;
    KeyRecord awayKey;
    KeyRecord spareKey;
};

int PutPath(HeapArray<BYTE>* out, const Plan* plan, DWORD offset, WORD* length)
{
    if (offset == MAXDWORD) {
        *length = 0xFFFF;
        return 1;
    }
    const wchar_t* path = plan->paths.At(offset);
    DWORD units = TextLength(path);
    if (units >= 0xFFFF) return 0;
    *length = static_cast<WORD>(units);
    return Put(out, path, units * sizeof(wchar_t));
}

struct Reader {
    const BYTE* bytes;
    DWORD count;
    DWORD at;
    int Take(void* into, DWORD n)
    {
        if (n > count - at) return 0;
        BYTE* to = static_cast<BYTE*>(into);
        for (DWORD i = 0; i < n; ++i) to[i] = bytes[at + i];
        at += n;
        return 1;
    }
};

int TakePath(Reader* reader, Plan* plan, WORD length, DWORD* offset)
{
    if (length == 0xFFFF) {
        *offset = MAXDWORD;
        return 1;
    }
    DWORD bytes = static_cast<DWORD>(length) * sizeof(wchar_t);
    if (bytes > reader->count - reader->at) return 0;
    wchar_t path[PathCapacity];
    if (length >= PathCapacity) return 0;
    if (!reader->Take(path, bytes)) return 0;
    path[length] = 0;
    for (DWORD i = 0; i < length; ++i) {
        if (path[i] == 0) return 0;
    }
    *offset = PlanPath(plan, path, length);
    return *offset != MAXDWORD;
}

}  // namespace

DWORD PlanPath(Plan* plan, const wchar_t* path, DWORD length) { return plan->paths.Add(path, length); }

int StepPath(const Plan* plan, const wchar_t* installDir, DWORD path, bool absolute, wchar_t* out)
{
    const wchar_t* text = plan->paths.At(path);
    if (absolute) {
        DWORD length = TextLength(text);
        if (length + 1 > PathCapacity) return 0;
        for (DWORD i = 0; i <= length; ++i) out[i] = text[i];
        return 1;
    }
    return JoinPath(out, installDir, text);
}

void FreePlan(Plan* plan)
{
    for (DWORD i = 0; i < plan->steps.count; ++i) {
        Step& s = plan->steps[i];
        if (s.handle != nullptr && s.handle != INVALID_HANDLE_VALUE) CloseHandle(s.handle);
        if (s.awayHandle != nullptr && s.awayHandle != INVALID_HANDLE_VALUE) CloseHandle(s.awayHandle);
        if (s.spareHandle != nullptr && s.spareHandle != INVALID_HANDLE_VALUE) CloseHandle(s.spareHandle);
        s.handle = s.awayHandle = s.spareHandle = nullptr;
    }
    plan->steps.Free();
    plan->paths.Free();
}

int SerializePlan(const Plan* plan, HeapArray<BYTE>* out)
{
    JournalHeader header = {JournalMagic, JournalVersion, static_cast<DWORD>(plan->removal), plan->steps.count, 0, 0};
    if (!Put(out, &header, sizeof header)) return 0;
    for (DWORD i = 0; i < plan->steps.count; ++i) {
        const Step& s = plan->steps[i];
        StepRecord r = {};
        r.kind = s.kind;
        r.flags = s.flags;
        r.key = ToRecord(s.key);
        r.awayKey = ToRecord(s.awayKey);
        r.spareKey = ToRecord(s.spareKey);
        DWORD at = out->count;
        if (!Put(out, &r, sizeof r)) return 0;
        WORD lengths[3];
        if (!PutPath(out, plan, s.path, &lengths[0]) || !PutPath(out, plan, s.away, &lengths[1]) ||
            !PutPath(out, plan, s.spare, &lengths[2])) {
            return 0;
        }
        auto* placed = reinterpret_cast<StepRecord*>(out->data + at);
        placed->pathLength = lengths[0];
        placed->awayLength = lengths[1];
        placed->spareLength = lengths[2];
    }
    auto* head = reinterpret_cast<JournalHeader*>(out->data);
    head->payloadBytes = out->count - sizeof(JournalHeader);
    head->checksum = Checksum(out->data + sizeof(JournalHeader), head->payloadBytes);
    return 1;
}

int ParsePlan(const BYTE* bytes, DWORD count, Plan* out)
{
    Reader reader = {bytes, count, 0};
    JournalHeader header;
    if (!reader.Take(&header, sizeof header)) return 0;
    if (header.magic != JournalMagic || header.version != JournalVersion) return 0;
    if (header.payloadBytes != count - sizeof header) return 0;
    if (Checksum(bytes + sizeof header, header.payloadBytes) != header.checksum) return 0;
    out->removal = header.removal != 0 ? 1 : 0;
    for (DWORD i = 0; i < header.stepCount; ++i) {
        StepRecord r;
        if (!reader.Take(&r, sizeof r)) return 0;
        if (r.kind < StepAside || r.kind > StepOverwrite) return 0;
        Step* s = out->steps.Append();
        if (s == nullptr) return 0;
        s->kind = r.kind;
        s->flags = r.flags;
        s->key = FromRecord(r.key);
        s->awayKey = FromRecord(r.awayKey);
        s->spareKey = FromRecord(r.spareKey);
        if (!TakePath(&reader, out, r.pathLength, &s->path) || !TakePath(&reader, out, r.awayLength, &s->away) ||
            !TakePath(&reader, out, r.spareLength, &s->spare)) {
            return 0;
        }
        if (s->path == MAXDWORD) return 0;
    }
    return reader.at == count ? 1 : 0;
}
