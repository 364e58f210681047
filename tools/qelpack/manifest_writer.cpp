#include "tools/qelpack/manifest_writer.h"

#include <cstdio>

#include "tools/qelpack/text.h"

std::u16string ManifestText(const ManifestContent& content)
{
    unsigned long long unpacked = 0;
    for (const ManifestFile& file : content.files) unpacked += file.size;
    std::u16string text = u"[Package]\r\n";
    text += u"Format=qel-cab-2\r\n";
    text += u"Target=windows-x64\r\n";
    text += u"Count=" + IniValue(content.files.size()) + u"\r\n";
    text += u"Size=" + IniValue(content.packageSize) + u"\r\n";
    text += u"UnpackedSize=" + IniValue(unpacked) + u"\r\n";
    text += u"Sha256=" + IniValue(content.packageSha256) + u"\r\n";
    if (!content.url.empty()) text += u"Url=" + IniValue(content.url) + u"\r\n";
    for (size_t i = 0; i < content.files.size(); ++i) {
        char tag[16];
        snprintf(tag, sizeof tag, "%04u", static_cast<unsigned>(i));
        const ManifestFile& file = content.files[i];
        text += u"\r\n[" + IniValue(i) + u"]\r\n";
        text += u"Entry=" + IniValue(tag) + u"\r\n";
        text += u"Size=" + IniValue(file.size) + u"\r\n";
        text += u"Sha256=" + IniValue(file.sha256) + u"\r\n";
        text += u"Name=" + IniValue(file.name) + u"\r\n";
    }
    return text;
}

std::string ManifestBytes(const ManifestContent& content)
{
    return Utf16LeFileBytes(ManifestText(content));
}
