// Writes the release cabinet: one MSZIP folder, members named 0000, 0001, ... with a fixed date
// and the archive attribute only. Each source is read exactly once, by the writer; the digest
// and the byte count of what went into the cabinet come from that same read.
#pragma once
#include <string>
#include <vector>

struct CabinetMember {
    std::string root;                    // the source folder, links resolved: nothing outside it is read
    std::string source;                  // the file to read
    std::string display;                 // its name in messages (the relative path)
    std::string name;                    // the name stored in the cabinet
    unsigned long long listedSize = 0;   // the size the folder listing gave
    std::string sha256;                  // filled by the writer: digest of the bytes stored
    unsigned long long readBytes = 0;    // filled by the writer: bytes stored
};

// Writes the members in order into a new cabinet at path. Scratch files go to scratchDir.
// Returns 0, or 2 (refused: not a regular file inside root) or 1 (failed) with a one-line reason (naming the file) in error; path may then hold a partial
// cabinet, which the caller removes. A member whose bytes differ in number from listedSize
// fails the write.
int WriteCabinet(const std::string& path, const std::string& scratchDir, std::vector<CabinetMember>* members,
                  std::string* error);
