// The files of a release's source folder, listed by one walk shared by both packers: every name
// is checked against the rules before anything is opened, only regular files and folders are
// accepted, and the order is stable.
#pragma once
#include <string>
#include <vector>

struct SourceFile {
    std::string relative;  // path below the source folder, components joined by backslashes
    std::string full;      // the path to open on this system
    unsigned long long size = 0;
};

// Every file below root, sorted by relative path compared in UTF-16 units, so the same folder
// always packs in the same order. Returns 0, or the packer's refusal (2) or failure (1) code
// with a one-line message naming the file and the rule.
int ListSourceFiles(const std::string& root, std::vector<SourceFile>* files, std::string* message);
