#include "tools/qelpack/release_urls.h"

#include "tools/qelpack/rules.h"
#include "tools/qelpack/text.h"

bool IsUrlBase(const std::string& url) { return !url.empty() && url.back() == '/'; }

std::string BrokenUrlOptions(bool hasUrl, const std::string& url, const std::vector<std::string>& mirrors)
{
    if (hasUrl) {
        std::string rule = BrokenUrlRule(url);
        if (!rule.empty()) return rule;
    }
    if (!mirrors.empty() && !hasUrl) return "--mirror needs --url (mirrors are fallbacks for the packages' own address)";
    if (mirrors.size() > MaxMirrors) return "--mirror is given more than 16 times";
    for (size_t i = 0; i < mirrors.size(); ++i) {
        std::string rule = BrokenUrlRule(mirrors[i], "--mirror");
        if (!rule.empty()) return rule;
        if (!IsUrlBase(mirrors[i])) {
            return "--mirror " + Printable(mirrors[i]) + " is not a base ending in / (each part's package name is added to it)";
        }
        for (size_t j = 0; j < i; ++j) {
            if (mirrors[j] == mirrors[i]) return "--mirror " + Printable(mirrors[i]) + " is given twice";
        }
        if (mirrors[i] == url) return "--mirror " + Printable(mirrors[i]) + " is the --url base itself";
    }
    return {};
}

std::string PartUrl(const std::string& url, const std::string& package)
{
    return IsUrlBase(url) ? url + package : url;
}

std::string BrokenPartUrls(bool hasUrl, const std::string& url, const std::vector<std::string>& mirrors,
                           const std::vector<PartPlan>& parts)
{
    if (!hasUrl) return {};
    if (parts.size() > 1 && !IsUrlBase(url)) {
        return "the release needs " + std::to_string(parts.size()) +
               " parts, but --url names a single package; give a base ending in / (each part's package name is added "
               "to it)";
    }
    // Names only grow with the part number, so the last part's is the longest.
    const std::string& longest = parts.back().package;
    auto tooLong = [&](const std::string& base) {
        std::u16string wide;
        Utf8ToUtf16(PartUrl(base, longest), &wide);
        return wide.size() > 2047;
    };
    if (tooLong(url)) return "--url plus the package name " + longest + " is longer than 2047 characters";
    for (const std::string& mirror : mirrors) {
        if (tooLong(mirror)) return "--mirror " + Printable(mirror) + " plus the package name " + longest + " is longer than 2047 characters";
    }
    return {};
}
