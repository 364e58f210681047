#include "tools/qelpack/pack.h"

#include <windows.h>

#include <winhttp.h>

#include <cstdio>
#include <vector>

#include "tools/qelpack/cabinet_writer.h"
#include "tools/qelpack/digest.h"
#include "tools/qelpack/manifest_writer.h"
#include "tools/qelpack/source_tree.h"

namespace {

constexpr unsigned long long MaxBytes = 2000000000ull;
constexpr size_t MaxFiles = 256;
constexpr size_t MaxNameUnits = 240;

std::string Utf8(const std::wstring& text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool IsFolder(const std::wstring& path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

unsigned long long FileSize(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return static_cast<unsigned long long>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

// Checks every rule qelfetch's manifest imposes before anything is written.
int CheckSources(const std::vector<SourceFile>& files, std::string* message)
{
    if (files.empty()) {
        *message = "the source folder holds no files";
        return PackRefused;
    }
    if (files.size() > MaxFiles) {
        *message = "the source folder holds " + std::to_string(files.size()) + " files; a release holds at most 256";
        return PackRefused;
    }
    unsigned long long total = 0;
    for (const SourceFile& file : files) {
        if (file.relative.size() > MaxNameUnits) {
            *message = "the name " + Utf8(file.relative) + " is longer than 240 UTF-16 units";
            return PackRefused;
        }
        if (file.size > MaxBytes) {
            *message = Utf8(file.relative) + " is larger than 2,000,000,000 bytes";
            return PackRefused;
        }
        total += file.size;
    }
    if (total > MaxBytes) {
        *message = "the files add up to " + std::to_string(total) + " bytes; a release holds at most 2,000,000,000";
        return PackRefused;
    }
    return PackDone;
}

}  // namespace

bool IsAcceptedUrl(const std::wstring& url)
{
    if (url.empty() || url.size() > 2047) return false;
    // A fragment is never sent to a server; some URL parsers keep it in the path instead of
    // reporting it, so it is refused here by itself.
    if (url.find(L'#') != std::wstring::npos) return false;
    wchar_t host[256];
    wchar_t path[2049];
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host;
    parts.dwHostNameLength = 256;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = 2049;
    parts.dwUserNameLength = 1;
    parts.dwPasswordLength = 1;
    parts.dwExtraInfoLength = 1;
    if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return false;
    return parts.nScheme == INTERNET_SCHEME_HTTPS && parts.dwUserNameLength == 0 && parts.dwPasswordLength == 0 &&
           parts.dwExtraInfoLength == 0 && parts.dwHostNameLength != 0 && parts.dwUrlPathLength != 0;
}

int Pack(const PackRequest& request, std::string* message)
{
    if (!request.url.empty() && !IsAcceptedUrl(request.url)) {
        *message = "--url must be an https URL with a host and a path, without user name, password, query or "
                   "fragment, of at most 2047 characters";
        return PackRefused;
    }
    if (!IsFolder(request.source)) {
        *message = Utf8(request.source) + " is not a folder";
        return PackRefused;
    }
    std::vector<SourceFile> files;
    std::string error;
    if (!ListSourceFiles(request.source, &files, &error)) {
        *message = Utf8(request.source) + ": " + error;
        return PackFailed;
    }
    if (int refused = CheckSources(files, message)) return refused;

    const std::wstring cabinet = request.out + L"\\application.cab";
    const std::wstring manifest = request.out + L"\\manifest.ini";
    if (!request.force && (Exists(cabinet) || Exists(manifest))) {
        *message = Utf8(request.out) + " already holds application.cab or manifest.ini (use --force to replace them)";
        return PackRefused;
    }
    if (!IsFolder(request.out) && !CreateDirectoryW(request.out.c_str(), nullptr)) {
        *message = "cannot create " + Utf8(request.out) + " (system error " + std::to_string(GetLastError()) + ")";
        return PackFailed;
    }

    // Both outputs are written beside their final names and renamed only when both are
    // complete, so a failure leaves no partial output (and an earlier release stays whole).
    const std::wstring partialCabinet = cabinet + L".partial";
    const std::wstring partialManifest = manifest + L".partial";
    auto fail = [&](const std::string& why) {
        DeleteFileW(partialCabinet.c_str());
        DeleteFileW(partialManifest.c_str());
        *message = why;
        return PackFailed;
    };

    std::vector<CabinetMember> members;
    ManifestContent content;
    content.url = request.url;
    for (size_t i = 0; i < files.size(); ++i) {
        char name[8];
        snprintf(name, sizeof name, "%04u", static_cast<unsigned>(i));
        members.push_back({files[i].full, name});
        std::wstring digest = FileSha256(files[i].full);
        if (digest.empty()) return fail("cannot read " + Utf8(files[i].relative));
        content.files.push_back({files[i].relative, files[i].size, digest});
    }
    if (!WriteCabinet(partialCabinet, request.out, members, true, &error)) return fail(error);
    content.packageSize = FileSize(partialCabinet);
    if (content.packageSize == 0 || content.packageSize > MaxBytes) {
        DeleteFileW(partialCabinet.c_str());
        *message = "the cabinet would be larger than 2,000,000,000 bytes";
        return PackRefused;
    }
    content.packageSha256 = FileSha256(partialCabinet);
    if (content.packageSha256.empty()) return fail("cannot read the cabinet back");
    if (!WriteManifestFile(partialManifest, content)) return fail("cannot write manifest.ini");
    if (!MoveFileExW(partialCabinet.c_str(), cabinet.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        return fail("cannot move application.cab into place (system error " + std::to_string(GetLastError()) + ")");
    }
    if (!MoveFileExW(partialManifest.c_str(), manifest.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileW(cabinet.c_str());
        return fail("cannot move manifest.ini into place (system error " + std::to_string(GetLastError()) + ")");
    }
    *message = "packed " + std::to_string(files.size()) + " files into " + Utf8(cabinet) + " (" +
               std::to_string(content.packageSize) + " bytes) and " + Utf8(manifest);
    return PackDone;
}
