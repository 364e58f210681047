#include "tools/qelpack/manifest_writer.h"

#include <cstdio>

#include "tools/qelpack/text.h"

namespace {

std::u16string Wide(const std::string& text)
{
    std::u16string out;
    Utf8ToUtf16(text, &out);  // names and the Url were checked to be valid UTF-8 before
    return out;
}

std::u16string Number(unsigned long long value) { return Wide(std::to_string(value)); }

}  // namespace

std::u16string ManifestText(const ManifestContent& content)
{
    unsigned long long unpacked = 0;
    for (const ManifestFile& file : content.files) unpacked += file.size;
    std::u16string text = u"[Package]\r\n";
    text += u"Format=qel-cab-2\r\n";
    text += u"Target=windows-x64\r\n";
    text += u"Count=" + Number(content.files.size()) + u"\r\n";
    text += u"Size=" + Number(content.packageSize) + u"\r\n";
    text += u"UnpackedSize=" + Number(unpacked) + u"\r\n";
    text += u"Sha256=" + Wide(content.packageSha256) + u"\r\n";
    if (!content.url.empty()) text += u"Url=" + Wide(content.url) + u"\r\n";
    for (size_t i = 0; i < content.files.size(); ++i) {
        char tag[16];
        snprintf(tag, sizeof tag, "%04u", static_cast<unsigned>(i));
        const ManifestFile& file = content.files[i];
        text += u"\r\n[" + Number(i) + u"]\r\n";
        text += u"Entry=" + Wide(tag) + u"\r\n";
        text += u"Size=" + Number(file.size) + u"\r\n";
        text += u"Sha256=" + Wide(file.sha256) + u"\r\n";
        text += u"Name=" + Wide(file.name) + u"\r\n";
    }
    return text;
}

std::string ManifestBytes(const ManifestContent& content)
{
    std::u16string text = u"\xFEFF" + ManifestText(content);
    std::string bytes;
    bytes.reserve(text.size() * 2);
    for (char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}
