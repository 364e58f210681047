#include "tools/qelpack/picture_file.h"

#include <windows.h>

#include <algorithm>

#include "tools/qelpack/platform_win.h"
#include "tools/qelpack/rules.h"

namespace {

std::string ErrorText(DWORD code) { return "Windows error " + std::to_string(code); }

class Handle {
public:
    explicit Handle(HANDLE h) : h_(h) {}
    ~Handle()
    {
        if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE Get() const { return h_; }
    bool Valid() const { return h_ != INVALID_HANDLE_VALUE; }
    bool Close()
    {
        HANDLE h = h_;
        h_ = INVALID_HANDLE_VALUE;
        return CloseHandle(h) != 0;
    }

private:
    HANDLE h_;
};

// The last component of a path, for the device-name rule.
std::string LastComponent(const std::string& path)
{
    size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace

bool ReadPictureFile(const std::string& path, uint64_t limit, std::string* data, std::string* why)
{
    Handle file(CreateFileW(WidePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        *why = ErrorText(GetLastError());
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(file.Get()) != FILE_TYPE_DISK || !GetFileInformationByHandle(file.Get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        *why = "it is not a regular file";
        return false;
    }
    const uint64_t size = uint64_t(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
    if (size > limit) {
        *why = "it is larger than " + std::to_string(limit) + " bytes";
        return false;
    }
    data->assign(static_cast<size_t>(size), '\0');
    size_t done = 0;
    while (done < data->size()) {
        DWORD got = 0;
        DWORD want = static_cast<DWORD>(std::min<size_t>(data->size() - done, 1 << 20));
        if (!ReadFile(file.Get(), &(*data)[done], want, &got, nullptr)) {
            *why = ErrorText(GetLastError());
            return false;
        }
        if (got == 0) break;
        done += got;
    }
    char extra;
    DWORD more = 0;
    if (done != data->size() || !ReadFile(file.Get(), &extra, 1, &more, nullptr) || more != 0) {
        *why = "it changed while it was read";
        return false;
    }
    return true;
}

bool ReplaceWithFile(const std::string& path, const std::string& data, std::string* why)
{
    std::string rule = BrokenNameRule(LastComponent(path));
    if (!rule.empty()) {
        *why = rule;
        return false;
    }
    const std::wstring wide = WidePath(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
        *why = attributes & FILE_ATTRIBUTE_DIRECTORY ? "it is a folder" : "it is not a regular file (a link)";
        return false;
    }
    const std::wstring partial = WidePath(path + ".partial");
    DeleteFileW(partial.c_str());  // left by a run that was killed
    DWORD error = 0;
    {
        Handle file(CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.Valid()) {
            *why = ErrorText(GetLastError());
            return false;
        }
        DWORD written = 0;
        if (!WriteFile(file.Get(), data.data(), static_cast<DWORD>(data.size()), &written, nullptr) ||
            written != data.size() || !FlushFileBuffers(file.Get())) {
            error = GetLastError();
            if (error == 0) error = ERROR_DISK_FULL;
        }
        if (!file.Close() && error == 0) error = GetLastError();
    }
    if (error == 0 && !MoveFileExW(partial.c_str(), wide.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = GetLastError();
    }
    if (error != 0) {
        DeleteFileW(partial.c_str());
        *why = ErrorText(error);
        return false;
    }
    return true;
}
