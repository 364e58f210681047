#include "tools/qelpack/manifest_writer.h"

#include <windows.h>

#include <cwchar>

std::wstring ManifestText(const ManifestContent& content)
{
    unsigned long long unpacked = 0;
    for (const ManifestFile& file : content.files) unpacked += file.size;
    std::wstring text = L"[Package]\r\n";
    text += L"Format=qel-cab-2\r\n";
    text += L"Target=windows-x64\r\n";
    text += L"Count=" + std::to_wstring(content.files.size()) + L"\r\n";
    text += L"Size=" + std::to_wstring(content.packageSize) + L"\r\n";
    text += L"UnpackedSize=" + std::to_wstring(unpacked) + L"\r\n";
    text += L"Sha256=" + content.packageSha256 + L"\r\n";
    if (!content.url.empty()) text += L"Url=" + content.url + L"\r\n";
    for (size_t i = 0; i < content.files.size(); ++i) {
        wchar_t tag[8];
        swprintf(tag, 8, L"%04u", static_cast<unsigned>(i));
        const ManifestFile& file = content.files[i];
        text += L"\r\n[" + std::to_wstring(i) + L"]\r\n";
        text += std::wstring(L"Entry=") + tag + L"\r\n";
        text += L"Size=" + std::to_wstring(file.size) + L"\r\n";
        text += L"Sha256=" + file.sha256 + L"\r\n";
        text += L"Name=" + file.name + L"\r\n";
    }
    return text;
}

bool WriteManifestFile(const std::wstring& path, const ManifestContent& content)
{
    std::wstring text = L"\xFEFF" + ManifestText(content);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t)), written = 0;
    bool ok = WriteFile(file, text.data(), bytes, &written, nullptr) && written == bytes && FlushFileBuffers(file);
    return CloseHandle(file) && ok;
}
