#include "tools/qelpack/text.h"

namespace {

// Decodes one UTF-8 sequence at text[*at]; false when it is not valid.
bool Decode(const std::string& text, size_t* at, char32_t* out)
{
    auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char lead = byte(*at);
    size_t length = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 0;
    if (length == 0 || *at + length > text.size()) return false;
    char32_t value = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
    for (size_t i = 1; i < length; ++i) {
        unsigned char next = byte(*at + i);
        if ((next & 0xC0) != 0x80) return false;
        value = value << 6 | (next & 0x3F);
    }
    static const char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < smallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
    *at += length;
    *out = value;
    return true;
}

}  // namespace

bool Utf8ToUtf16(const std::string& text, std::u16string* out)
{
    out->clear();
    for (size_t at = 0; at < text.size();) {
        char32_t value = 0;
        if (!Decode(text, &at, &value)) return false;
        if (value >= 0x10000) {
            value -= 0x10000;
            *out += static_cast<char16_t>(0xD800 + (value >> 10));
            *out += static_cast<char16_t>(0xDC00 + (value & 0x3FF));
        } else {
            *out += static_cast<char16_t>(value);
        }
    }
    return true;
}

std::string Utf16ToUtf8(const std::u16string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t value = text[i];
        if (value >= 0xD800 && value <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            value = 0x10000 + ((value - 0xD800) << 10) + (text[++i] - 0xDC00);
        }
        if (value < 0x80) {
            out += static_cast<char>(value);
        } else if (value < 0x800) {
            out += static_cast<char>(0xC0 | value >> 6);
            out += static_cast<char>(0x80 | (value & 0x3F));
        } else if (value < 0x10000) {
            out += static_cast<char>(0xE0 | value >> 12);
            out += static_cast<char>(0x80 | (value >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (value & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | value >> 18);
            out += static_cast<char>(0x80 | (value >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (value >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (value & 0x3F));
        }
    }
    return out;
}

std::string Printable(const std::string& text)
{
    std::string out;
    for (size_t at = 0; at < text.size();) {
        size_t start = at;
        char32_t value = 0;
        if (Decode(text, &at, &value) && value >= 0x20 && value != 0x7F && !(value >= 0x80 && value < 0xA0)) {
            out.append(text, start, at - start);
        } else {
            at = start + 1;
            static const char hex[] = "0123456789abcdef";
            unsigned char b = static_cast<unsigned char>(text[start]);
            out += "\\x";
            out += hex[b >> 4];
            out += hex[b & 15];
        }
    }
    return out;
}

std::u16string FoldCase(const std::u16string& text)
{
    std::u16string out = text;
    for (char16_t& c : out) {
        if (c >= u'a' && c <= u'z') {
            c = static_cast<char16_t>(c - 32);
        } else if ((c >= 0xE0 && c <= 0xFE && c != 0xF7) || (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) ||
                   (c >= 0x430 && c <= 0x44F)) {
            c = static_cast<char16_t>(c - 32);
        } else if (c == 0xFF) {
            c = 0x178;
        } else if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 && c != 0x17F) {
            // Latin Extended-A pairs: upper case even, lower case odd, except the stretch
            // U+0139..U+0148 and U+0179..U+017E where the upper case is odd.
            bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
            if (oddUpper ? (c % 2 == 0) : (c % 2 == 1)) c = static_cast<char16_t>(c - 1);
        } else if (c >= 0x450 && c <= 0x45F) {
            c = static_cast<char16_t>(c - 80);
        }
    }
    return out;
}

std::u16string IniValue(const std::string& text)
{
    std::u16string out;
    Utf8ToUtf16(text, &out);
    return out;
}

std::u16string IniValue(unsigned long long number) { return IniValue(std::to_string(number)); }

std::string Utf16LeFileBytes(const std::u16string& text)
{
    std::u16string marked = u"\xFEFF" + text;
    std::string bytes;
    bytes.reserve(marked.size() * 2);
    for (char16_t unit : marked) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}
