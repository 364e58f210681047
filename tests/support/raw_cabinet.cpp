#include "support/raw_cabinet.h"

namespace {

constexpr size_t HeaderSize = 36;
constexpr size_t FolderSize = 8;
constexpr size_t FileSize = 16;
constexpr size_t DataHeaderSize = 8;
constexpr size_t BlockMax = 32768;

void Le16(std::string& out, uint32_t v)
{
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}

void Le32(std::string& out, uint32_t v)
{
    Le16(out, v & 0xFFFF);
    Le16(out, v >> 16);
}

void Sz(std::string& out, const std::string& text)
{
    out += text;
    out += '\0';
}

}  // namespace

void PutLe32(std::string& bytes, size_t offset, uint32_t value)
{
    for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::string WriteRawCabinet(const RawCabinet& cabinet)
{
    std::string folderData;
    for (const RawMember& m : cabinet.members) folderData += m.content;
    size_t blocks = (folderData.size() + BlockMax - 1) / BlockMax;

    std::string setNames;
    if (cabinet.flags & 0x0001) {
        Sz(setNames, "previous.cab");
        Sz(setNames, "disk 1");
    }
    if (cabinet.flags & 0x0002) {
        Sz(setNames, "next.cab");
        Sz(setNames, "disk 2");
    }
    std::string files;
    uint32_t offset = 0;
    for (const RawMember& m : cabinet.members) {
        Le32(files, static_cast<uint32_t>(m.content.size()));
        Le32(files, offset);
        Le16(files, m.folder);
        Le16(files, 0x5521);  // date
        Le16(files, 0);       // time
        Le16(files, m.attribs);
        Sz(files, m.name);
        offset += static_cast<uint32_t>(m.content.size());
    }
    size_t filesStart = HeaderSize + setNames.size() + FolderSize;
    size_t dataStart = filesStart + files.size();
    size_t length = dataStart + blocks * DataHeaderSize + folderData.size();

    std::string out;
    out += "MSCF";
    Le32(out, 0);
    Le32(out, static_cast<uint32_t>(static_cast<long long>(length) + cabinet.lengthDelta));
    Le32(out, 0);
    Le32(out, static_cast<uint32_t>(filesStart));
    Le32(out, 0);
    out += static_cast<char>(3);  // version 1.3
    out += static_cast<char>(1);
    Le16(out, 1);  // one folder
    Le16(out, static_cast<uint32_t>(static_cast<int>(cabinet.members.size()) + cabinet.fileCountDelta));
    Le16(out, cabinet.flags);
    Le16(out, cabinet.setId);
    Le16(out, cabinet.cabinetIndex);
    out += setNames;

    Le32(out, static_cast<uint32_t>(dataStart));
    Le16(out, static_cast<uint32_t>(blocks));
    Le16(out, 0);  // stored, no compression
    out += files;

    for (size_t at = 0; at < folderData.size(); at += BlockMax) {
        size_t n = folderData.size() - at < BlockMax ? folderData.size() - at : BlockMax;
        Le32(out, 0);  // no checksum
        Le16(out, static_cast<uint32_t>(n));
        Le16(out, static_cast<uint32_t>(n));
        out.append(folderData, at, n);
    }
    return out;
}
