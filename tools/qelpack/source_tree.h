// The files of a release's source folder, in a stable order.
#pragma once
#include <string>
#include <vector>

struct SourceFile {
    std::wstring relative;  // path below the source folder, with backslashes
    std::wstring full;
    unsigned long long size = 0;
};

// Every file below root (folders recursed, links not followed), sorted by relative path
// compared unit by unit, so the same folder always packs in the same order. False with a
// reason when the folder cannot be read.
bool ListSourceFiles(const std::wstring& root, std::vector<SourceFile>* files, std::string* error);
