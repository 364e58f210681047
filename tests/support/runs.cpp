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

