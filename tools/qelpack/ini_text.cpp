#include "tools/qelpack/ini_text.h"

#include "tools/qelpack/text.h"

namespace {

std::string Trim(const std::string& text)
{
    size_t start = text.find_first_not_of(" \t");
    if (start == std::string::npos) return {};
    size_t end = text.find_last_not_of(" \t");
    return text.substr(start, end - start + 1);
}

}  // namespace

std::string AsciiLower(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    }
    return text;
}

bool IniText::Parse(const std::string& bytes)
{
    sections_.clear();
    order_.clear();
    if (bytes.size() < 2 || bytes.size() % 2 != 0 || static_cast<unsigned char>(bytes[0]) != 0xFF ||
        static_cast<unsigned char>(bytes[1]) != 0xFE) {
        return false;
    }
    std::u16string wide;
    wide.reserve(bytes.size() / 2);
    for (size_t i = 2; i < bytes.size(); i += 2) {
        wide += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8);
    }
    const std::string text = Utf16ToUtf8(wide);
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
            std::string name = Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
            order_.push_back(name);
            skipping = sections_.count(AsciiLower(name)) != 0;
            current = &sections_[AsciiLower(name)];
        } else if (current != nullptr && !skipping) {
            size_t equals = line.find('=');
            if (equals == std::string::npos) continue;
            current->emplace(AsciiLower(Trim(line.substr(0, equals))), Trim(line.substr(equals + 1)));
        }
    }
    return true;
}

std::string IniText::Get(const std::string& section, const std::string& key) const
{
    auto s = sections_.find(AsciiLower(section));
    if (s == sections_.end()) return {};
    auto k = s->second.find(AsciiLower(key));
    return k == s->second.end() ? std::string() : k->second;
}

bool IniNumber(const std::string& text, unsigned long long max, unsigned long long* value)
{
    if (text.empty() || text.size() > 30) return false;
    unsigned long long result = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        if (result > max / 10) return false;  // before the multiplication, so it cannot wrap
        result = result * 10 + static_cast<unsigned>(c - '0');
        if (result > max) return false;
    }
    *value = result;
    return true;
}

bool IniDigest(const std::string& text)
{
    if (text.size() != 64) return false;
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}
