// The release manifest that qelfetch reads: an INI file written as UTF-16LE with a byte-order
// mark, so the profile reader reads non-ASCII names the same way on every code page.
#pragma once
#include <string>
#include <vector>

struct ManifestFile {
    std::wstring name;
    unsigned long long size = 0;
    std::wstring sha256;
};

struct ManifestContent {
    unsigned long long packageSize = 0;
    std::wstring packageSha256;
    std::wstring url;  // empty: the package is placed by the host, nothing is downloaded
    std::vector<ManifestFile> files;
};

std::wstring ManifestText(const ManifestContent& content);
bool WriteManifestFile(const std::wstring& path, const ManifestContent& content);
