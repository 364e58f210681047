// Test releases: cabinets made with the platform's own compressor (FCI) and release manifests
// written as UTF-16 INI files, with every key open to change so tests can break one rule at a time.
#pragma once
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

// SHA-256 of bytes (CNG), as 64 lowercase hexadecimal characters.
std::wstring Sha256Hex(const std::string& bytes);

// A cabinet holding the members in order (name as stored in the cabinet, content), MSZIP
// compressed or stored. Empty on failure.
std::string MakeCabinet(const std::vector<std::pair<std::string, std::string>>& members, bool compress = true);

// Sections of keys in file order; every value is written as it stands.
class Manifest {
public:
    void Set(const std::wstring& section, const std::wstring& key, const std::wstring& value);
    void Remove(const std::wstring& section, const std::wstring& key);
    void RemoveSection(const std::wstring& section);
    std::wstring Get(const std::wstring& section, const std::wstring& key) const;
    std::wstring Text() const;
    // UTF-16LE with a byte-order mark, so the profile API reads any name the same way.
    bool Write(const std::wstring& path) const;

private:
    struct Section {
        std::wstring name;
        std::vector<std::pair<std::wstring, std::wstring>> keys;
    };
    std::vector<Section> sections_;
};

// A complete release for the given entry contents: a cabinet with members 0000, 0001, ... and
// the manifest that describes it (names "file0.bin", ...; no Url).
struct Release {
    std::vector<std::string> contents;
    std::string cabinet;
    Manifest manifest;
};
Release MakeRelease(const std::vector<std::string>& contents, bool compress = true);

// Describes the package bytes in the manifest (Size and Sha256 of section Package).
void DescribePackage(Manifest& manifest, const std::string& package);

// Deterministic pseudo-random bytes (incompressible) and a compressible text of a given size.
std::string RandomBytes(size_t size, unsigned seed);
std::string TextBytes(size_t size);
