#include "support/placement_bed.h"

#include "support/files.h"
#include "support/release.h"

namespace {

std::wstring Index(size_t i)
{
    wchar_t name[8];
    swprintf(name, 8, L"%04u", static_cast<unsigned>(i));
    return name;
}

void SnapshotInto(const std::wstring& longDir, const std::wstring& relative, FolderSnapshot* out)
{
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((longDir + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        std::wstring rel = relative.empty() ? name : relative + L"\\" + name;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            (*out)[rel + L"\\"] = "";
            SnapshotInto(longDir + L"\\" + name, rel, out);
        } else {
            (*out)[rel] = ReadLong(longDir + L"\\" + name);
        }
    } while (FindNextFileW(find, &data));
    FindClose(find);
}

}  // namespace

std::wstring LongForm(const std::wstring& path)
{
    if (path.rfind(L"\\\\?\\", 0) == 0) return path;
    wchar_t full[4096];
    DWORD made = GetFullPathNameW(path.c_str(), 4096, full, nullptr);
    if (made == 0 || made >= 4096) return path;
    return std::wstring(L"\\\\?\\") + full;
}

bool WriteLong(const std::wstring& path, const std::string& bytes)
{
    std::wstring full = LongForm(path);
    for (size_t at = full.find(L'\\', 7); at != std::wstring::npos; at = full.find(L'\\', at + 1)) {
        CreateDirectoryW(full.substr(0, at).c_str(), nullptr);
    }
    HANDLE file = CreateFileW(full.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = bytes.empty() || WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

std::string ReadLong(const std::wstring& path)
{
    HANDLE file = CreateFileW(LongForm(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "<unreadable>";
    std::string bytes;
    static char buffer[1 << 16];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
    CloseHandle(file);
    return bytes;
}

void RemoveLongTree(const std::wstring& path)
{
    std::wstring full = LongForm(path);
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((full + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring child = full + L"\\" + name;
            if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                RemoveLongTree(child);
            } else {
                SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(child.c_str());
            }
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryW(full.c_str());
}

bool WritePartManifest(const std::wstring& path, const ReleaseFiles& files)
{
    Manifest manifest;
    unsigned long long total = 0;
    for (const ReleaseFile& f : files) total += f.bytes.size();
    manifest.Set(L"Package", L"Format", L"qel-cab-2");
    manifest.Set(L"Package", L"Target", L"windows-x64");
    manifest.Set(L"Package", L"Count", std::to_wstring(files.size()));
    manifest.Set(L"Package", L"Size", L"100");
    manifest.Set(L"Package", L"UnpackedSize", std::to_wstring(total));
    manifest.Set(L"Package", L"Sha256", std::wstring(64, L'0'));
    for (size_t i = 0; i < files.size(); ++i) {
        std::wstring section = std::to_wstring(i);
        manifest.Set(section, L"Entry", Index(i));
        manifest.Set(section, L"Size", std::to_wstring(files[i].bytes.size()));
        manifest.Set(section, L"Sha256", Sha256Hex(files[i].bytes));
        manifest.Set(section, L"Name", files[i].name);
    }
    return manifest.Write(path);
}

bool WriteEntryFiles(const std::wstring& dir, const ReleaseFiles& files)
{
    std::wstring full = LongForm(dir);
    CreateDirectoryW(full.c_str(), nullptr);
    for (size_t i = 0; i < files.size(); ++i) {
        if (!WriteLong(full + L"\\" + Index(i), files[i].bytes)) return false;
    }
    return true;
}

FolderSnapshot Snapshot(const std::wstring& dir)
{
    FolderSnapshot out;
    SnapshotInto(LongForm(dir), L"", &out);
    return out;
}

FolderSnapshot FilesOf(const FolderSnapshot& snapshot)
{
    FolderSnapshot out;
    for (const auto& [name, bytes] : snapshot) {
        if (!name.empty() && name.back() == L'\\') continue;
        if (name == L"qel-install.ini") continue;
        out[name] = bytes;
    }
    return out;
}

FolderSnapshot WithoutEngine(const FolderSnapshot& snapshot)
{
    FolderSnapshot out;
    for (const auto& [name, bytes] : snapshot) {
        if (name.rfind(L".qel-", 0) != 0) out[name] = bytes;
    }
    return out;
}

FolderSnapshot Expected(const ReleaseFiles& files)
{
    FolderSnapshot out;
    for (const ReleaseFile& f : files) {
        std::wstring name = f.name;
        for (wchar_t& c : name) {
            if (c == L'/') c = L'\\';
        }
        out[name] = f.bytes;
    }
    return out;
}

std::string Difference(const FolderSnapshot& got, const FolderSnapshot& want)
{
    std::string out;
    for (const auto& [name, bytes] : got) {
        auto other = want.find(name);
        if (other == want.end()) out += "  extra " + Narrow(name) + " (" + std::to_string(bytes.size()) + " bytes)\n";
        else if (other->second != bytes)
            out += "  differs " + Narrow(name) + " (" + std::to_string(bytes.size()) + " bytes, want " +
                   std::to_string(other->second.size()) + ")\n";
    }
    for (const auto& [name, bytes] : want) {
        if (got.find(name) == got.end()) out += "  missing " + Narrow(name) + "\n";
    }
    return out;
}

std::wstring ReadRecord(const std::wstring& installDir)
{
    std::string bytes = ReadLong(LongForm(installDir) + L"\\qel-install.ini");
    if (bytes.size() < 2 || bytes.size() % 2 != 0 || static_cast<unsigned char>(bytes[0]) != 0xFF ||
        static_cast<unsigned char>(bytes[1]) != 0xFE) {
        return L"";
    }
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()) + 1, bytes.size() / 2 - 1);
}

std::wstring RecordValue(const std::wstring& record, const std::wstring& section, const std::wstring& key)
{
    size_t at = record.find(L"[" + section + L"]\r\n");
    if (at == std::wstring::npos) return L"<no section>";
    size_t end = record.find(L"\r\n[", at + 1);
    std::wstring body = record.substr(at, end == std::wstring::npos ? std::wstring::npos : end - at);
    size_t k = body.find(L"\r\n" + key + L"=");
    if (k == std::wstring::npos) return L"<no key>";
    size_t start = k + key.size() + 3;
    return body.substr(start, body.find(L"\r\n", start) - start);
}
