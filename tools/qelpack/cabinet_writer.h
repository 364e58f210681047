// Writes an MSZIP cabinet with the platform's compressor (Cabinet.dll FCI). Every path is wide:
// FCI itself only passes narrow names to its callbacks, so the writer hands it short tokens and
// maps them back to the wide paths of the sources, the cabinet and FCI's scratch files.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

struct CabinetMember {
    std::wstring source;  // file to read
    std::string name;     // name stored in the cabinet
};

// Writes members, in order, into the cabinet at path (created or replaced). Scratch files go to
// scratchDir. On failure returns false with a one-line reason in error; path may then hold a
// partial cabinet, which the caller removes.
bool WriteCabinet(const std::wstring& path, const std::wstring& scratchDir, const std::vector<CabinetMember>& members,
                  bool compress, std::string* error);
