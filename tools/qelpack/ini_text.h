// INI files as the release's readers see them: UTF-16LE text with a byte-order mark (as the
// packer writes it), sections and keys found as the platform's profile reader finds them. Shared
// by the manifest and the release index readers.
#pragma once
#include <map>
#include <string>
#include <vector>

class IniText {
public:
    // Parses the file's bytes; false when they are not UTF-16LE text with a byte-order mark.
    bool Parse(const std::string& bytes);

    // The value of key in section, spaces around it trimmed; empty when either is missing. Names
    // are compared without regard to ASCII letter case, and the first of equal names wins.
    std::string Get(const std::string& section, const std::string& key) const;
    // Every section name in the order of the file, as written (trimmed), duplicates included.
    const std::vector<std::string>& SectionNames() const { return order_; }

private:
    std::map<std::string, std::map<std::string, std::string>> sections_;
    std::vector<std::string> order_;
};

// A decimal number as qelfetch reads one: digits only, 1 to 30 characters, at most max.
bool IniNumber(const std::string& text, unsigned long long max, unsigned long long* value);
// 64 lowercase hexadecimal digits.
bool IniDigest(const std::string& text);
// ASCII letters in lower case, for comparing names as the profile reader does.
std::string AsciiLower(std::string text);
