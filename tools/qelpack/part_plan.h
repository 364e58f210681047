// How a release's files are cut into parts, and what each part's files are called. A part is a
// complete release of its own (a manifest and a cabinet that qelfetch delivers unchanged), so
// every part keeps qelfetch's limits. The cut depends only on the files' sizes, never on how
// well they compress, so both packers cut the same folder at the same places.
#pragma once
#include <string>
#include <vector>

constexpr unsigned long long MaxPartBytes = 2000000000ull;  // a package, a file, a part's unpacked size
constexpr size_t MaxPartFiles = 256;
// The default --part-size: a dropped download repeats its whole part (qelfetch has no resume).
constexpr unsigned long long DefaultPartSize = 64000000ull;

struct PartPlan {
    size_t first = 0;                // index of the part's first file in packing order
    size_t count = 0;                // files in the part
    unsigned long long unpacked = 0; // their bytes
    unsigned long long bound = 0;    // the largest cabinet they can make (CabinetBound)
    std::string manifest;            // file names in OUT_DIR
    std::string package;
};

// The most bytes a one-folder MSZIP cabinet of `members` members (named 0000, 0001, ...) holding
// `bytes` bytes can take: the headers, every member's record, and for every data block its
// header and the format's ceiling of 32 KiB + 12 bytes of compressed data per 32 KiB. Blocks are
// counted as if every member began a new one, so the bound holds whichever way a compressor
// lays them out.
unsigned long long CabinetBound(size_t members, unsigned long long bytes);

// Cuts the files (their sizes in packing order) into consecutive parts. A part takes the next
// file while it holds fewer than 256 files and its cabinet bound stays within partSize and
// within 2,000,000,000 bytes; a part always takes at least one file, so a file larger than
// partSize gets a part of its own. One part is named manifest.ini and application.cab; several
// are numbered from 1 (manifest-001.ini, application-001.cab, ... with at least three digits).
std::vector<PartPlan> PlanParts(const std::vector<unsigned long long>& sizes, unsigned long long partSize);
