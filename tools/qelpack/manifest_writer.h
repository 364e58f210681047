// The release manifest that qelfetch reads: an INI file written as UTF-16LE with a byte-order
// mark, so the profile reader reads non-ASCII names the same way on every code page. The same
// writer serves both packers, so both write the same bytes for the same release.
#pragma once
#include <string>
#include <vector>

struct ManifestFile {
    std::string name;  // UTF-8, backslash separated
    unsigned long long size = 0;
    std::string sha256;
};

struct ManifestContent {
    unsigned long long packageSize = 0;
    std::string packageSha256;
    std::string url;  // empty: the package is placed by the host, nothing is downloaded
    std::vector<ManifestFile> files;
};

// The manifest's text (keys in the order qelfetch reads them, CR LF line ends).
std::u16string ManifestText(const ManifestContent& content);
// The file's bytes: the byte-order mark and the text in UTF-16LE.
std::string ManifestBytes(const ManifestContent& content);
