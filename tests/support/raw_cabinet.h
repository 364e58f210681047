// A cabinet writer of the tests' own, for cabinets the platform's compressor refuses to make:
// any member name, duplicate names, sizes and attributes as given, set flags, a header whose
// counts lie. One uncompressed folder; the data blocks carry checksum 0 (not checked).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct RawMember {
    std::string name;             // stored as is, terminator added
    std::string content;          // bytes placed in the folder for this member
    uint16_t attribs = 0x20;      // _A_ARCH
    uint16_t folder = 0;          // iFolder: 0, or 0xFFFD/0xFFFE/0xFFFF for continued members
};

struct RawCabinet {
    std::vector<RawMember> members;
    uint16_t flags = 0;           // 0x0001 continued from a previous cabinet, 0x0002 into a next one
    uint16_t setId = 0x1234;
    uint16_t cabinetIndex = 0;
    int fileCountDelta = 0;       // header file count = members + delta
    int lengthDelta = 0;          // header length = real length + delta
};

std::string WriteRawCabinet(const RawCabinet& cabinet);

// Offset of the header's length field and the little-endian helpers tests use to patch it.
constexpr size_t CabinetLengthOffset = 8;
void PutLe32(std::string& bytes, size_t offset, uint32_t value);
