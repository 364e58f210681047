#include "tools/qelpack/manifest_reader.h"

#include <cstdio>
#include <map>

#include "tools/qelpack/rules.h"
#include "tools/qelpack/text.h"

namespace {

std::string Lower(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    }
    return text;
}

// Sections and keys as the profile reader finds them: names without regard to ASCII letter
// case, the first of equal names wins, spaces around names and values trimmed.
using Sections = std::map<std::string, std::map<std::string, std::string>>;

std::string Trim(const std::string& text)
{
    size_t start = text.find_first_not_of(" \t");
    if (start == std::string::npos) return {};
    size_t end = text.find_last_not_of(" \t");
    return text.substr(start, end - start + 1);
}

Sections Parse(const std::string& text)
{
    Sections sections;
    std::map<std::string, std::string>* current = nullptr;
    bool skipping = false;
    size_t at = 0;
    while (at <= text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        line = Trim(line);
        if (!line.empty() && line.front() == '[') {
            size_t close = line.find(']');
            std::string name = Lower(Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1)));
            skipping = sections.count(name) != 0;
            current = &sections[name];
        } else if (current != nullptr && !skipping) {
            size_t equals = line.find('=');
            if (equals == std::string::npos) continue;
            current->emplace(Lower(Trim(line.substr(0, equals))), Trim(line.substr(equals + 1)));
        }
    }
    return sections;
}

std::string Get(const Sections& sections, const std::string& section, const std::string& key)
{
    auto s = sections.find(Lower(section));
    if (s == sections.end()) return {};
    auto k = s->second.find(Lower(key));
    return k == s->second.end() ? std::string() : k->second;
}

bool Number(const std::string& text, unsigned long long* value)
{
    if (text.empty() || text.size() > 30) return false;
    unsigned long long result = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        result = result * 10 + static_cast<unsigned>(c - '0');
        if (result > 2000000000ull) return false;
    }
    *value = result;
    return true;
}

bool Digest(const std::string& text)
{
    if (text.size() != 64) return false;
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

size_t Units(const std::string& text)
{
    std::u16string wide;
    Utf8ToUtf16(text, &wide);
    return wide.size();
}

}  // namespace

bool ReadManifestBytes(const std::string& bytes, ManifestContent* content, std::string* error)
{
    if (bytes.size() < 2 || bytes.size() % 2 != 0 || static_cast<unsigned char>(bytes[0]) != 0xFF ||
        static_cast<unsigned char>(bytes[1]) != 0xFE) {
        *error = "the manifest is not UTF-16LE text with a byte-order mark";
        return false;
    }
    std::u16string wide;
    for (size_t i = 2; i < bytes.size(); i += 2) {
        wide += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8);
    }
    Sections sections = Parse(Utf16ToUtf8(wide));
    const std::string format = Get(sections, "Package", "Format");
    if (format != "qel-cab-2") {
        *error = "Format is not qel-cab-2";
        return false;
    }
    if (Get(sections, "Package", "Target") != "windows-x64") {
        *error = "Target is not windows-x64";
        return false;
    }
    unsigned long long count = 0, unpacked = 0;
    if (!Number(Get(sections, "Package", "Count"), &count) || count < 1 || count > 256) {
        *error = "Count is not a number from 1 to 256";
        return false;
    }
    if (!Number(Get(sections, "Package", "Size"), &content->packageSize) || content->packageSize == 0) {
        *error = "the package Size is not a number from 1 to 2000000000";
        return false;
    }
    if (!Number(Get(sections, "Package", "UnpackedSize"), &unpacked)) {
        *error = "UnpackedSize is not a number";
        return false;
    }
    content->packageSha256 = Get(sections, "Package", "Sha256");
    if (!Digest(content->packageSha256)) {
        *error = "the package Sha256 is not 64 lowercase hexadecimal digits";
        return false;
    }
    content->url = Get(sections, "Package", "Url");
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
        if (Get(sections, section, "Entry") != tag) {
            *error = "entry " + section + " has no Entry=" + tag;
            return false;
        }
        if (!Number(Get(sections, section, "Size"), &file.size)) {
            *error = "entry " + section + " has no valid Size";
            return false;
        }
        file.sha256 = Get(sections, section, "Sha256");
        if (!Digest(file.sha256)) {
            *error = "entry " + section + " has no valid Sha256";
            return false;
        }
        file.name = Get(sections, section, "Name");
        size_t units = Units(file.name);
        if (units < 1 || units > 240) {
            *error = "entry " + section + " has no Name of 1 to 240 characters";
            return false;
        }
        sum += file.size;
        if (sum > 2000000000ull) {
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
