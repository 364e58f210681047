#include "tools/qelpack/release_index.h"

#include <map>

#include "tools/qelpack/ini_text.h"
#include "tools/qelpack/part_plan.h"
#include "tools/qelpack/release_urls.h"
#include "tools/qelpack/rules.h"
#include "tools/qelpack/text.h"

namespace {

constexpr char FormatTag[] = "qel-release-1";
// Totals of a release are not bound by one job's limits; this keeps their sums from wrapping.
constexpr unsigned long long MaxTotal = 1000000000000000000ull;

std::string PartSection(size_t number) { return "Part" + std::to_string(number); }

// A part's file: a plain name in the index's folder that Windows stores unchanged.
std::string BrokenFileName(const std::string& name)
{
    std::string rule = BrokenNameRule(name);
    if (!rule.empty()) return rule;
    std::u16string wide;
    Utf8ToUtf16(name, &wide);
    if (wide.size() > 240) return "the name is longer than 240 UTF-16 units";
    return {};
}

}  // namespace

std::u16string IndexText(const ReleaseIndex& index)
{
    unsigned long long count = 0, size = 0, unpacked = 0;
    for (const IndexPart& part : index.parts) {
        count += part.count;
        size += part.size;
        unpacked += part.unpacked;
    }
    std::u16string text = u"[Release]\r\n";
    text += u"Format=" + IniValue(FormatTag) + u"\r\n";
    text += u"Target=windows-x64\r\n";
    text += u"Parts=" + IniValue(index.parts.size()) + u"\r\n";
    text += u"Count=" + IniValue(count) + u"\r\n";
    text += u"Size=" + IniValue(size) + u"\r\n";
    text += u"UnpackedSize=" + IniValue(unpacked) + u"\r\n";
    text += u"Mirrors=" + IniValue(index.mirrors.size()) + u"\r\n";
    for (size_t m = 0; m < index.mirrors.size(); ++m) {
        text += u"Mirror" + IniValue(m + 1) + u"=" + IniValue(index.mirrors[m]) + u"\r\n";
    }
    for (size_t p = 0; p < index.parts.size(); ++p) {
        const IndexPart& part = index.parts[p];
        text += u"\r\n[" + IniValue(PartSection(p + 1)) + u"]\r\n";
        text += u"Manifest=" + IniValue(part.manifest) + u"\r\n";
        text += u"Package=" + IniValue(part.package) + u"\r\n";
        text += u"Count=" + IniValue(part.count) + u"\r\n";
        text += u"Size=" + IniValue(part.size) + u"\r\n";
        text += u"Sha256=" + IniValue(part.sha256) + u"\r\n";
        text += u"UnpackedSize=" + IniValue(part.unpacked) + u"\r\n";
    }
    return text;
}

std::string IndexBytes(const ReleaseIndex& index)
{
    return Utf16LeFileBytes(IndexText(index));
}

bool ReadIndexBytes(const std::string& bytes, ReleaseIndex* index, std::string* error)
{
    index->parts.clear();
    index->mirrors.clear();
    IniText ini;
    if (!ini.Parse(bytes)) {
        *error = "the index is not UTF-16LE text with a byte-order mark";
        return false;
    }
    if (ini.Get("Release", "Format") != FormatTag) {
        *error = ini.Get("Package", "Format") == "qel-cab-2"
                     ? "this is a manifest, not a release index (give it with its package: MANIFEST PACKAGE)"
                     : "Format is not qel-release-1";
        return false;
    }
    if (ini.Get("Release", "Target") != "windows-x64") {
        *error = "Target is not windows-x64";
        return false;
    }
    unsigned long long parts = 0, count = 0, size = 0, unpacked = 0, mirrors = 0;
    if (!IniNumber(ini.Get("Release", "Parts"), MaxTotal, &parts) || parts < 1) {
        *error = "Parts is not a number of at least 1";
        return false;
    }
    if (!IniNumber(ini.Get("Release", "Count"), MaxTotal, &count) || !IniNumber(ini.Get("Release", "Size"), MaxTotal, &size) ||
        !IniNumber(ini.Get("Release", "UnpackedSize"), MaxTotal, &unpacked)) {
        *error = "the release's Count, Size or UnpackedSize is not a number";
        return false;
    }
    if (!IniNumber(ini.Get("Release", "Mirrors"), MaxMirrors, &mirrors)) {
        *error = "Mirrors is not a number from 0 to 16";
        return false;
    }
    for (unsigned long long m = 1; m <= mirrors; ++m) {
        std::string key = "Mirror" + std::to_string(m);
        std::string mirror = ini.Get("Release", key);
        std::string rule = BrokenUrlRule(mirror, key);
        if (!rule.empty()) {
            *error = rule;
            return false;
        }
        if (!IsUrlBase(mirror)) {
            *error = key + " is not a base ending in /";
            return false;
        }
        for (const std::string& earlier : index->mirrors) {
            if (earlier == mirror) {
                *error = key + " repeats an earlier mirror";
                return false;
            }
        }
        index->mirrors.push_back(mirror);
    }
    if (!ini.Get("Release", "Mirror" + std::to_string(mirrors + 1)).empty()) {
        *error = "Mirrors is " + std::to_string(mirrors) + " but the index also has Mirror" + std::to_string(mirrors + 1);
        return false;
    }

    // The part sections must be exactly Part1 ... PartN, each once.
    std::map<std::string, int> seen;
    for (const std::string& name : ini.SectionNames()) {
        std::string lower = AsciiLower(name);
        if (++seen[lower] == 2) {
            *error = "the section [" + Printable(name) + "] appears twice";
            return false;
        }
        if (lower.compare(0, 4, "part") != 0) continue;
        std::string digits = lower.substr(4);
        unsigned long long number = 0;
        if (!IniNumber(digits, MaxTotal, &number) || number < 1 || number > parts || digits != std::to_string(number)) {
            *error = "Parts is " + std::to_string(parts) + " but the index has a section [" + Printable(name) + "]";
            return false;
        }
    }
    std::map<std::u16string, unsigned long long> files;  // every part's file names, folded, to the part
    unsigned long long sumCount = 0, sumSize = 0, sumUnpacked = 0;
    for (unsigned long long p = 1; p <= parts; ++p) {
        std::string section = PartSection(p);
        if (seen.count(AsciiLower(section)) == 0) {
            *error = "Parts is " + std::to_string(parts) + " but the index has no section [" + section + "]";
            return false;
        }
        IndexPart part;
        part.manifest = ini.Get(section, "Manifest");
        part.package = ini.Get(section, "Package");
        for (const std::string* name : {&part.manifest, &part.package}) {
            const char* key = name == &part.manifest ? "Manifest" : "Package";
            std::string rule = BrokenFileName(*name);
            if (!rule.empty()) {
                *error = "part " + std::to_string(p) + "'s " + key + " " + Printable(*name) + " is not a plain file name: " + rule;
                return false;
            }
            std::u16string wide;
            Utf8ToUtf16(*name, &wide);
            auto [at, added] = files.emplace(FoldCase(wide), p);
            if (!added) {
                *error = "part " + std::to_string(p) + "'s " + key + " " + Printable(*name) +
                         (at->second == p ? " is also its other file" : " is listed by part " + std::to_string(at->second) + " too");
                return false;
            }
        }
        if (!IniNumber(ini.Get(section, "Count"), MaxPartFiles, &part.count) || part.count < 1) {
            *error = "part " + std::to_string(p) + "'s Count is not a number from 1 to 256";
            return false;
        }
        if (!IniNumber(ini.Get(section, "Size"), MaxPartBytes, &part.size) || part.size < 1) {
            *error = "part " + std::to_string(p) + "'s Size is not a number from 1 to 2000000000";
            return false;
        }
        part.sha256 = ini.Get(section, "Sha256");
        if (!IniDigest(part.sha256)) {
            *error = "part " + std::to_string(p) + "'s Sha256 is not 64 lowercase hexadecimal digits";
            return false;
        }
        if (!IniNumber(ini.Get(section, "UnpackedSize"), MaxPartBytes, &part.unpacked)) {
            *error = "part " + std::to_string(p) + "'s UnpackedSize is not a number from 0 to 2000000000";
            return false;
        }
        sumCount += part.count;
        sumSize += part.size;
        sumUnpacked += part.unpacked;
        index->parts.push_back(part);
    }
    if (sumCount != count || sumSize != size || sumUnpacked != unpacked) {
        *error = std::string("the release's ") + (sumCount != count ? "Count" : sumSize != size ? "Size" : "UnpackedSize") +
                 " is not the sum of its parts'";
        return false;
    }
    return true;
}
