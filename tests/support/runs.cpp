#include "support/runs.h"

#include <winternl.h>

std::wstring texts::Unreadable(unsigned code)
{
    return L"应用包无法读取（错误码 " + std::to_wstring(code) + L"）。";
}

Outcome RunJob(const std::wstring& manifest, const std::wstring& package, const std::wstring& workDir,
               DWORD timeoutMs)
{
    Outcome outcome;
    DeliveryJob* job = PayloadStart(manifest.c_str(), package.c_str(), workDir.c_str());
    if (job == nullptr) return outcome;
    outcome.end = WaitForEnd(job, timeoutMs);
    outcome.closed = PayloadClose(job);
    return outcome;
}

Manifest ValidManifest(const std::vector<unsigned long long>& entrySizes, unsigned long long packageSize)
{
    Manifest m;
    unsigned long long sum = 0;
    for (unsigned long long size : entrySizes) sum += size;
    m.Set(L"Package", L"Format", L"qel-cab-2");
    m.Set(L"Package", L"Target", L"windows-x64");
    m.Set(L"Package", L"Count", std::to_wstring(entrySizes.size()));
    m.Set(L"Package", L"Size", std::to_wstring(packageSize));
    m.Set(L"Package", L"UnpackedSize", std::to_wstring(sum));
    m.Set(L"Package", L"Sha256", Sha256Hex("package"));
    for (size_t i = 0; i < entrySizes.size(); ++i) {
        wchar_t tag[8];
        swprintf(tag, 8, L"%04u", static_cast<unsigned>(i));
        std::wstring section = std::to_wstring(i);
        m.Set(section, L"Entry", tag);
        m.Set(section, L"Size", std::to_wstring(entrySizes[i]));
        m.Set(section, L"Sha256", Sha256Hex("entry " + std::to_string(i)));
        m.Set(section, L"Name", L"file" + std::to_wstring(i) + L".bin");
    }
    return m;
}

size_t CountProcessHandles()
{
    struct Entry {
        ULONG ownerPid;
        BYTE objectType;
        BYTE flags;
        USHORT handle;
        PVOID object;
        ULONG access;
    };
    struct Table {
        ULONG count;
        Entry entries[1];
    };
    std::vector<BYTE> buffer(1 << 16);
    for (;;) {
        ULONG needed = 0;
        NTSTATUS status = NtQuerySystemInformation(static_cast<SYSTEM_INFORMATION_CLASS>(16), buffer.data(),
                                                   static_cast<ULONG>(buffer.size()), &needed);
        if (status == static_cast<NTSTATUS>(0xC0000004L)) {  // STATUS_INFO_LENGTH_MISMATCH
            buffer.resize(buffer.size() * 2 > needed ? buffer.size() * 2 : needed + 4096);
            continue;
        }
        if (status < 0) return 0;
        break;
    }
    const auto* table = reinterpret_cast<const Table*>(buffer.data());
    size_t mine = 0;
    DWORD pid = GetCurrentProcessId();
    for (ULONG i = 0; i < table->count; ++i) {
        if (table->entries[i].ownerPid == pid) ++mine;
    }
    return mine;
}

SIZE_T PrivateBytes()
{
    // Wine leaves PROCESS_MEMORY_COUNTERS_EX::PrivateUsage at 0, so the committed private
    // regions of the address space are added up instead.
    SIZE_T total = 0;
    MEMORY_BASIC_INFORMATION region;
    for (const BYTE* address = nullptr; VirtualQuery(address, &region, sizeof region) == sizeof region;
         address = static_cast<const BYTE*>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
        if (static_cast<const BYTE*>(region.BaseAddress) + region.RegionSize < address) break;
    }
    return total;
}
