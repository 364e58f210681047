// The file system on Windows: wide paths at the boundary, reparse points never followed.
#include "tools/qelpack/platform.h"

#include <windows.h>

#include "tools/qelpack/platform_win.h"
#include "tools/qelpack/text.h"

const char PathSeparator = '\\';

namespace {

std::string ErrorText(DWORD code) { return "system error " + std::to_string(code); }

}  // namespace

std::wstring WidePath(const std::string& path)
{
    std::u16string wide;
    if (!Utf8ToUtf16(path, &wide)) return {};
    return std::wstring(wide.begin(), wide.end());
}

std::string NarrowPath(const std::wstring& path) { return Utf16ToUtf8(std::u16string(path.begin(), path.end())); }

bool ListFolder(const std::string& path, std::vector<FolderEntry>* entries, std::string* error)
{
    entries->clear();
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileExW((WidePath(path) + L"\\*").c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                   nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) {
        *error = ErrorText(GetLastError());
        return false;
    }
    bool ok = true;
    do {
        std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        FolderEntry entry;
        entry.name = NarrowPath(name);
        if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            entry.kind = EntryKind::Link;
        } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            entry.kind = EntryKind::Folder;
        } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) {
            entry.kind = EntryKind::Device;
        } else {
            entry.kind = EntryKind::File;
            entry.size = static_cast<unsigned long long>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
        }
        entries->push_back(entry);
    } while (FindNextFileW(find, &data));
    DWORD last = GetLastError();
    if (last != ERROR_NO_MORE_FILES) {
        *error = ErrorText(last);
        ok = false;
    }
    FindClose(find);
    return ok;
}

std::string AbsolutePath(const std::string& path)
{
    std::wstring wide = WidePath(path);
    wchar_t full[32768];
    DWORD n = GetFullPathNameW(wide.c_str(), 32768, full, nullptr);
    std::wstring result = n > 0 && n < 32768 ? std::wstring(full, n) : wide;
    while (result.size() > 3 && (result.back() == L'\\' || result.back() == L'/')) result.pop_back();
    return NarrowPath(result);
}

std::string ResolvedPath(const std::string& path)
{
    // The longest part that exists is resolved through an open handle; the rest is kept.
    std::wstring head = WidePath(path), tail;
    while (!head.empty()) {
        HANDLE handle = CreateFileW(head.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            wchar_t final[32768];
            DWORD n = GetFinalPathNameByHandleW(handle, final, 32768, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
            CloseHandle(handle);
            if (n > 0 && n < 32768) {
                std::wstring result(final, n);
                if (result.compare(0, 4, L"\\\\?\\") == 0) result.erase(0, 4);
                while (result.size() > 3 && result.back() == L'\\') result.pop_back();
                if (!tail.empty()) result += L"\\" + tail;
                return NarrowPath(result);
            }
            break;
        }
        size_t slash = head.find_last_of(L"\\/");
        if (slash == std::wstring::npos || slash < 2) break;
        tail = tail.empty() ? head.substr(slash + 1) : head.substr(slash + 1) + L"\\" + tail;
        head = head.substr(0, slash == 2 ? 3 : slash);
    }
    return path;
}

bool IsFolder(const std::string& path)
{
    DWORD attributes = GetFileAttributesW(WidePath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool PathExists(const std::string& path) { return GetFileAttributesW(WidePath(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

bool MakeFolder(const std::string& path, std::string* error)
{
    if (CreateDirectoryW(WidePath(path).c_str(), nullptr)) return true;
    *error = ErrorText(GetLastError());
    return false;
}

bool RemoveFile(const std::string& path) { return DeleteFileW(WidePath(path).c_str()) != 0; }

bool RemoveEmptyFolder(const std::string& path) { return RemoveDirectoryW(WidePath(path).c_str()) != 0; }

bool MovePath(const std::string& from, const std::string& to, std::string* error)
{
    if (MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(), MOVEFILE_WRITE_THROUGH)) return true;
    if (error != nullptr) *error = ErrorText(GetLastError());
    return false;
}

bool CopyNewFile(const std::string& from, const std::string& to, std::string* error)
{
    if (CopyFileW(WidePath(from).c_str(), WidePath(to).c_str(), TRUE)) return true;
    *error = ErrorText(GetLastError());
    return false;
}

bool WriteNewFile(const std::string& path, const std::string& data, std::string* error)
{
    HANDLE file = CreateFileW(WidePath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = ErrorText(GetLastError());
        return false;
    }
    DWORD bytes = static_cast<DWORD>(data.size()), written = 0;
    bool ok = WriteFile(file, data.data(), bytes, &written, nullptr) && written == bytes && FlushFileBuffers(file);
    if (!ok) *error = ErrorText(GetLastError());
    if (!CloseHandle(file) && ok) {
        *error = ErrorText(GetLastError());
        ok = false;
    }
    return ok;
}

bool ReadWholeFile(const std::string& path, size_t limit, std::string* bytes, std::string* error)
{
    bytes->clear();
    HANDLE file = CreateFileW(WidePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = ErrorText(GetLastError());
        return false;
    }
    bool ok = GetFileType(file) == FILE_TYPE_DISK;
    if (!ok) *error = "not a file on disk";
    char buffer[65536];
    while (ok) {
        DWORD got = 0;
        if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
            *error = ErrorText(GetLastError());
            ok = false;
        } else if (got == 0) {
            break;
        } else if (bytes->size() + got > limit) {
            *error = "larger than " + std::to_string(limit) + " bytes";
            ok = false;
        } else {
            bytes->append(buffer, got);
        }
    }
    CloseHandle(file);
    return ok;
}

bool RegularFileSize(const std::string& path, unsigned long long* size)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(WidePath(path).c_str(), GetFileExInfoStandard, &data)) return false;
    if (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) return false;
    *size = static_cast<unsigned long long>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
    return true;
}

bool MakeScratchFolder(std::string* path, std::string* error)
{
    wchar_t temp[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    if (n == 0 || n > MAX_PATH) {
        *error = ErrorText(GetLastError());
        return false;
    }
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        std::wstring folder = std::wstring(temp) + L"qelpack-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(GetTickCount() + attempt);
        if (CreateDirectoryW(folder.c_str(), nullptr)) {
            *path = NarrowPath(folder);
            return true;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    *error = ErrorText(GetLastError());
    return false;
}
