#include "tools/qelpack/verify.h"

#include <windows.h>

#include <vector>

#include "delivery/payload.h"
#include "tools/qelpack/platform_win.h"
#include "tools/qelpack/release_reader.h"
#include "tools/qelpack/rules.h"

namespace {

// Status lines are Chinese: to a console they go as UTF-16, elsewhere as UTF-8.
void Print(const std::wstring& text)
{
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0, written = 0;
    if (GetConsoleMode(out, &mode)) {
        WriteConsoleW(out, text.c_str(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
    WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::wstring StatusLine(int phase, int percent, const wchar_t* text)
{
    return L"phase " + std::to_wstring(phase) + L"  " + std::to_wstring(percent) + L"%  " + text;
}

// Delivers package against manifest offline; 0 ready (and everything removed), 1 otherwise.
int Deliver(const std::wstring& manifest, const std::wstring& package)
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    static unsigned deliveries = 0;  // parts of one release are delivered one after another
    std::wstring base = std::wstring(temp) + L"qelpack-verify-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                        std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(++deliveries);
    std::wstring work = base;
    std::wstring offlineManifest = base + L".ini";

    // The Url is held to the packer's rules: a release whose address a download would refuse
    // (or that the packer would never write) is not good, even though the check ignores it.
    wchar_t url[2049];
    DWORD units = GetPrivateProfileStringW(L"Package", L"Url", L"", url, 2049, manifest.c_str());
    if (units > 0) {
        std::string rule = BrokenUrlRule(NarrowPath(std::wstring(url, units)));
        if (units >= 2048 || !rule.empty()) {
            Print(L"qelpack: the release is broken: the manifest's Url breaks a rule\n");
            return 1;
        }
    }

    // The copy without its Url makes the delivery use the package in place instead of
    // downloading it.
    if (!CopyFileW(manifest.c_str(), offlineManifest.c_str(), TRUE)) {
        Print(L"qelpack: cannot read " + manifest + L"\n");
        return 1;
    }
    WritePrivateProfileStringW(L"Package", L"Url", nullptr, offlineManifest.c_str());

    DeliveryJob* job = PayloadStart(offlineManifest.c_str(), package.c_str(), work.c_str());
    if (job == nullptr) {
        DeleteFileW(offlineManifest.c_str());
        Print(L"qelpack: the delivery could not start\n");
        return 1;
    }
    int phase = 0, percent = 0;
    wchar_t text[1024];
    std::wstring shown;
    for (;;) {
        PayloadPoll(job, &phase, &percent, text, 1024);
        std::wstring line = StatusLine(phase, percent, text);
        if (line != shown) {
            // Progress stays on one line: each update overwrites the previous one.
            Print(L"\r" + line + std::wstring(shown.size() > line.size() ? shown.size() - line.size() : 0, L' '));
            shown = line;
        }
        if (phase >= PAYLOAD_READY) break;
        Sleep(50);
    }
    Print(L"\n");
    int removed = PayloadClose(job);
    DeleteFileW(offlineManifest.c_str());
    if (!removed) Print(L"qelpack: could not remove the temporary work directory " + work + L"\n");
    return phase == PAYLOAD_READY && removed ? 0 : 1;
}

}  // namespace

int VerifyRelease(const std::wstring& manifest, const std::wstring& package)
{
    int code = Deliver(manifest, package);
    Print(code == 0 ? L"qelpack: the release is good\n" : L"qelpack: the release is broken\n");
    return code;
}

int VerifyIndex(const std::wstring& index)
{
    ReleaseIndex listed;
    std::vector<ReleasePart> parts;
    std::string reason;
    if (!OpenRelease(NarrowPath(index), &listed, &parts, &reason)) {
        Print(L"qelpack: the release is broken: " + WidePath(reason) + L"\n");
        return 1;
    }
    for (size_t p = 0; p < parts.size(); ++p) {
        std::wstring name = L"part " + std::to_wstring(p + 1) + L" of " + std::to_wstring(parts.size()) + L" (" +
                            WidePath(parts[p].listed.package) + L")";
        Print(L"qelpack: " + name + L"\n");
        if (Deliver(WidePath(parts[p].manifestPath), WidePath(parts[p].packagePath)) != 0) {
            Print(L"qelpack: the release is broken: " + name + L" did not end ready\n");
            return 1;
        }
    }
    Print(L"qelpack: the release is good (" + std::to_wstring(parts.size()) + (parts.size() == 1 ? L" part)\n" : L" parts)\n"));
    return 0;
}
