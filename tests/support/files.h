// File-system helpers for tests: a private temporary folder and small file operations.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

// A fresh, empty folder under the prefix's temp folder; removed with everything in it when the
// object goes out of scope.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::wstring& Path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

bool WriteBytes(const std::wstring& path, const std::string& bytes);
bool WriteBytes(const std::wstring& path, const std::vector<unsigned char>& bytes);
std::string ReadBytes(const std::wstring& path);  // empty when the file cannot be read
bool FileExists(const std::wstring& path);        // a file (not a folder)
bool DirExists(const std::wstring& path);
std::vector<std::wstring> ListDir(const std::wstring& path);  // names, without . and ..
void RemoveTree(const std::wstring& path);

// UTF-8 for test messages.
std::string Narrow(const std::wstring& text);
