#include "tools/qelpack/part_plan.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr unsigned long long BlockBytes = 32768;
constexpr unsigned long long HeaderBytes = 36 + 8;  // the cabinet header and its one folder record
constexpr unsigned long long MemberBytes = 16 + 5;  // a file record and its name "0000" with the terminator
constexpr unsigned long long BlockOverhead = 8 + 12;  // a data block's header, and compressed data beyond 32 KiB

std::string Numbered(const char* stem, size_t number, int width, const char* extension)
{
    char digits[32];
    snprintf(digits, sizeof digits, "%0*zu", width, number);
    return std::string(stem) + "-" + digits + extension;
}

}  // namespace

unsigned long long CabinetBound(size_t members, unsigned long long bytes)
{
    unsigned long long blocks = (bytes + BlockBytes - 1) / BlockBytes + members;
    return HeaderBytes + MemberBytes * members + bytes + BlockOverhead * std::max(blocks, 1ull);
}

std::vector<PartPlan> PlanParts(const std::vector<unsigned long long>& sizes, unsigned long long partSize)
{
    const unsigned long long limit = std::min(partSize, MaxPartBytes);
    std::vector<PartPlan> parts;
    for (size_t i = 0; i < sizes.size(); ++i) {
        if (!parts.empty()) {
            const PartPlan& open = parts.back();
            bool fits = open.count < MaxPartFiles && open.unpacked + sizes[i] <= MaxPartBytes &&
                        CabinetBound(open.count + 1, open.unpacked + sizes[i]) <= limit;
            if (fits) {
                PartPlan& part = parts.back();
                ++part.count;
                part.unpacked += sizes[i];
                part.bound = CabinetBound(part.count, part.unpacked);
                continue;
            }
        }
        PartPlan part;
        part.first = i;
        part.count = 1;
        part.unpacked = sizes[i];
        part.bound = CabinetBound(1, sizes[i]);
        parts.push_back(part);
    }
    if (parts.size() == 1) {
        parts[0].manifest = "manifest.ini";
        parts[0].package = "application.cab";
    } else {
        int width = std::max(3, static_cast<int>(std::to_string(parts.size()).size()));
        for (size_t p = 0; p < parts.size(); ++p) {
            parts[p].manifest = Numbered("manifest", p + 1, width, ".ini");
            parts[p].package = Numbered("application", p + 1, width, ".cab");
        }
    }
    return parts;
}
