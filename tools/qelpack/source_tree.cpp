#include "tools/qelpack/source_tree.h"

#include <windows.h>

#include <algorithm>

namespace {

bool Walk(const std::wstring& root, const std::wstring& relative, std::vector<SourceFile>* files, std::string* error)
{
    std::wstring folder = relative.empty() ? root : root + L"\\" + relative;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        *error = "cannot read the folder (system error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    bool ok = true;
    do {
        std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        std::wstring child = relative.empty() ? name : relative + L"\\" + name;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;  // links are not followed
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            ok = Walk(root, child, files, error);
        } else {
            SourceFile file;
            file.relative = child;
            file.full = root + L"\\" + child;
            file.size = static_cast<unsigned long long>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
            files->push_back(file);
        }
    } while (ok && FindNextFileW(find, &data));
    FindClose(find);
    return ok;
}

}  // namespace

bool ListSourceFiles(const std::wstring& root, std::vector<SourceFile>* files, std::string* error)
{
    files->clear();
    if (!Walk(root, L"", files, error)) return false;
    std::sort(files->begin(), files->end(),
              [](const SourceFile& a, const SourceFile& b) { return a.relative < b.relative; });
    return true;
}
