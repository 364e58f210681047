// The release index, release.ini: the parts of a release in order, each with its manifest and
// package file names (beside the index), its file count, its package's Size and Sha256 and its
// unpacked size; the release's totals; and the mirror bases a package may also be downloaded
// from. An INI file in UTF-16LE with a byte-order mark, like the manifests, so that the platform's
// profile reader (and NSIS's ReadINIStr) reads it on every code page.
#pragma once
#include <string>
#include <vector>

struct IndexPart {
    std::string manifest;  // file names in the index's folder
    std::string package;
    unsigned long long count = 0;     // files in the part
    unsigned long long size = 0;      // the package's bytes
    std::string sha256;               // the package's digest
    unsigned long long unpacked = 0;  // the part's files' bytes
};

struct ReleaseIndex {
    std::vector<IndexPart> parts;
    std::vector<std::string> mirrors;  // bases ending in /
};

// The index's text (CR LF line ends) and the file's bytes (byte-order mark, UTF-16LE).
std::u16string IndexText(const ReleaseIndex& index);
std::string IndexBytes(const ReleaseIndex& index);

// Reads an index and applies its own rules (format, numbers, names, sections, totals); false
// with the rule broken in error. What the parts' files hold is checked by OpenRelease.
bool ReadIndexBytes(const std::string& bytes, ReleaseIndex* index, std::string* error);
