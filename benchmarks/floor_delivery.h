// The platform floor of a delivery: the least a program can do to verify a package and
// extract it with the same platform calls qelfetch makes. One SHA-256 pass over the package
// in 64 KiB reads, the decompressor with plain file callbacks, each member written straight
// to its file and hashed as it is written, compared and flushed when complete. No progress,
// no cancellation checks, no binding of members to a manifest beyond finding the expected
// digest by name.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

struct FloorMember {
    std::string name;      // as stored in the cabinet; also the output file's name
    BYTE sha256[32];
};

struct FloorRelease {
    ULONGLONG packageSize = 0;
    BYTE packageSha256[32] = {};
    std::vector<FloorMember> members;
};

// Verifies package and extracts it into workDir (created here). True when the package and
// every member matched their digests.
bool FloorDelivery(const std::wstring& package, const std::wstring& workDir, const FloorRelease& release);

// Hexadecimal digest text to 32 bytes.
bool DigestFromHex(const std::wstring& hex, BYTE* out);
