#include "tools/qelpack/rules.h"

#include <cstring>

#include "tools/qelpack/text.h"

namespace {

char16_t Upper(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

// CON, PRN, AUX, NUL, COM1-9, LPT1-9 (and the superscript digits Windows also maps), CONIN$
// and CONOUT$ open a device on Windows, with or without an extension and with spaces before it.
bool IsDeviceName(const std::u16string& name)
{
    std::u16string base = name.substr(0, name.find(u'.'));
    while (!base.empty() && base.back() == u' ') base.pop_back();
    for (char16_t& c : base) c = Upper(c);
    if (base == u"CON" || base == u"PRN" || base == u"AUX" || base == u"NUL" || base == u"CONIN$" || base == u"CONOUT$") {
        return true;
    }
    if (base.size() == 4 && (base.compare(0, 3, u"COM") == 0 || base.compare(0, 3, u"LPT") == 0)) {
        char16_t digit = base[3];
        return (digit >= u'1' && digit <= u'9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
    }
    return false;
}

}  // namespace

std::string BrokenNameRule(const std::string& name)
{
    std::u16string wide;
    if (!Utf8ToUtf16(name, &wide)) return "the name is not valid UTF-8";
    if (wide.empty()) return "the name is empty";
    for (char16_t c : wide) {
        if (c < 0x20 || c == 0x7F) return "the name holds a control character";
        if (c < 0x80 && strchr("\\/:*?\"<>|", static_cast<char>(c)) != nullptr) {
            return "the name holds one of \\ / : * ? \" < > | (Windows cannot store it)";
        }
    }
    if (wide.front() == u' ') return "the name begins with a space (Windows changes it)";
    if (wide.back() == u' ' || wide.back() == u'.') {
        return "the name ends in a dot or a space (Windows opens another file under it)";
    }
    if (IsDeviceName(wide)) return "the name is a Windows device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9)";
    return {};
}

std::string BrokenUrlRule(const std::string& url, const std::string& option)
{
    if (url.empty()) return option + " is empty";
    std::u16string wide;
    if (!Utf8ToUtf16(url, &wide)) return option + " is not valid UTF-8";
    for (char16_t c : wide) {
        if (c < 0x20 || c == 0x7F) return option + " holds a control character";
    }
    const std::string general =
        option + " must be an https URL with a host and a path, without user name, password, query or fragment, of at "
        "most 2047 characters";
    if (wide.size() > 2047) return general;
    if (url.size() < 8) return general;
    for (size_t i = 0; i < 8; ++i) {
        if (static_cast<char>(Upper(static_cast<unsigned char>(url[i]))) != "HTTPS://"[i]) return general;
    }
    size_t slash = url.find('/', 8);
    if (slash == std::string::npos) return general;  // no path
    std::string authority = url.substr(8, slash - 8);
    std::string path = url.substr(slash);
    if (authority.find('@') != std::string::npos) return general;
    if (path.find_first_of("?#") != std::string::npos || authority.find_first_of("?#") != std::string::npos) return general;
    if (url.find_first_of(" \\") != std::string::npos) return general;
    std::string host = authority, port;
    size_t colon = authority.rfind(':');
    if (!authority.empty() && authority.front() == '[') {
        size_t close = authority.find(']');
        if (close == std::string::npos) return general;
        host = authority.substr(0, close + 1);
        colon = close + 1 < authority.size() ? close + 1 : std::string::npos;
        if (colon != std::string::npos && authority[colon] != ':') return general;
    }
    if (colon != std::string::npos) {
        host = authority.substr(0, colon);
        port = authority.substr(colon + 1);
        if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) return general;
        unsigned long value = std::stoul(port);
        if (value == 0 || value > 65535) return general;
    }
    if (host.empty()) return general;
    return {};
}
