#include "tools/qelpack/manifest_reader.h"

#include <cstdio>

#include "tools/qelpack/ini_text.h"
#include "tools/qelpack/rules.h"
#include "tools/qelpack/text.h"

namespace {

constexpr unsigned long long MaxBytes = 2000000000ull;

size_t Units(const std::string& text)
{
    std::u16string wide;
    Utf8ToUtf16(text, &wide);
    return wide.size();
}

}  // namespace

bool ReadManifestBytes(const std::string& bytes, ManifestContent* content, std::string* error)
{
    IniText sections;
    if (!sections.Parse(bytes)) {
        *error = "the manifest is not UTF-16LE text with a byte-order mark";
        return false;
    }
    const std::string format = sections.Get("Package", "Format");
    if (format != "qel-cab-2") {
        *error = sections.Get("Release", "Format") == "qel-release-1"
                     ? "this is a release index, not a manifest (give it alone: RELEASE_INI)"
                     : "Format is not qel-cab-2";
        return false;
    }
    if (sections.Get("Package", "Target") != "windows-x64") {
        *error = "Target is not windows-x64";
        return false;
    }
    unsigned long long count = 0, unpacked = 0;
    if (!IniNumber(sections.Get("Package", "Count"), MaxBytes, &count) || count < 1 || count > 256) {
        *error = "Count is not a number from 1 to 256";
        return false;
    }
    if (!IniNumber(sections.Get("Package", "Size"), MaxBytes, &content->packageSize) || content->packageSize == 0) {
        *error = "the package Size is not a number from 1 to 2000000000";
        return false;
    }
    if (!IniNumber(sections.Get("Package", "UnpackedSize"), MaxBytes, &unpacked)) {
        *error = "UnpackedSize is not a number";
        return false;
    }
    content->packageSha256 = sections.Get("Package", "Sha256");
    if (!IniDigest(content->packageSha256)) {
        *error = "the package Sha256 is not 64 lowercase hexadecimal digits";
        return false;
    }
    content->url = sections.Get("Package", "Url");
    if (!content->url.empty()) {
        std::string rule = BrokenUrlRule(content->url);
        if (!rule.empty()) {
            *error = "Url breaks a rule: " + rule.substr(rule.find(' ') + 1);
            return false;
        }
    }
    content->files.clear();
    unsigned long long sum = 0;
    for (unsigned long long i = 0; i < count; ++i) {
        std::string section = std::to_string(i);
        char tag[16];
        snprintf(tag, sizeof tag, "%04u", static_cast<unsigned>(i));
        ManifestFile file;
        if (sections.Get(section, "Entry") != tag) {
            *error = "entry " + section + " has no Entry=" + tag;
            return false;
        }
        if (!IniNumber(sections.Get(section, "Size"), MaxBytes, &file.size)) {
            *error = "entry " + section + " has no valid Size";
            return false;
        }
        file.sha256 = sections.Get(section, "Sha256");
        if (!IniDigest(file.sha256)) {
            *error = "entry " + section + " has no valid Sha256";
            return false;
        }
        file.name = sections.Get(section, "Name");
        size_t units = Units(file.name);
        if (units < 1 || units > 240) {
            *error = "entry " + section + " has no Name of 1 to 240 characters";
            return false;
        }
        sum += file.size;
        if (sum > MaxBytes) {
            *error = "the entries add up to more than 2000000000 bytes";
            return false;
        }
        content->files.push_back(file);
    }
    if (sum != unpacked) {
        *error = "UnpackedSize is not the sum of the entries' sizes";
        return false;
    }
    return true;
}
