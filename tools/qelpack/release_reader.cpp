#include "tools/qelpack/release_reader.h"

#include <map>

#include "tools/qelpack/manifest_reader.h"
#include "tools/qelpack/platform.h"
#include "tools/qelpack/release_urls.h"
#include "tools/qelpack/text.h"

namespace {

constexpr size_t MaxIniBytes = 16u << 20;

std::string Beside(const std::string& path, const std::string& name)
{
#ifdef _WIN32
    size_t slash = path.find_last_of("\\/");
#else
    size_t slash = path.rfind('/');
#endif
    return slash == std::string::npos ? name : path.substr(0, slash + 1) + name;
}

std::string PartName(size_t number) { return "part " + std::to_string(number); }

// The parts' Urls: all empty, or each one base plus the part's package name. One part may
// name any address, as a plain manifest does.
std::string BrokenUrls(const ReleaseIndex& index, const std::vector<ReleasePart>& parts)
{
    size_t withUrl = 0;
    for (const ReleasePart& part : parts) withUrl += part.manifest.url.empty() ? 0 : 1;
    if (withUrl != 0 && withUrl != parts.size()) return "some parts have a Url and others do not";
    if (withUrl == 0 && !index.mirrors.empty()) return "the index lists mirrors but the parts have no Url";
    if (parts.size() > 1 && withUrl != 0) {
        std::string base;
        for (size_t p = 0; p < parts.size(); ++p) {
            const std::string& url = parts[p].manifest.url;
            const std::string& package = parts[p].listed.package;
            if (url.size() <= package.size() || url.compare(url.size() - package.size(), package.size(), package) != 0 ||
                url[url.size() - package.size() - 1] != '/') {
                return PartName(p + 1) + "'s Url does not end in /" + package;
            }
            std::string own = url.substr(0, url.size() - package.size());
            if (p == 0) base = own;
            if (own != base) return PartName(p + 1) + "'s Url has another base than part 1's";
        }
    }
    for (size_t m = 0; m < index.mirrors.size(); ++m) {
        for (const ReleasePart& part : parts) {
            std::u16string wide;
            Utf8ToUtf16(index.mirrors[m] + part.listed.package, &wide);
            if (wide.size() > 2047) {
                return "Mirror" + std::to_string(m + 1) + " plus " + part.listed.package + " is longer than 2047 characters";
            }
        }
    }
    return {};
}

// Every Name once in the whole release, and none both a file and a folder: the parts are
// placed into one folder.
std::string BrokenNames(const std::vector<ReleasePart>& parts)
{
    std::map<std::u16string, std::pair<size_t, std::string>> files, folders;  // folded -> part, as written
    for (size_t p = 0; p < parts.size(); ++p) {
        for (const ManifestFile& file : parts[p].manifest.files) {
            std::u16string wide;
            Utf8ToUtf16(file.name, &wide);
            for (char16_t& c : wide) {
                if (c == u'/') c = u'\\';
            }
            std::u16string folded = FoldCase(wide);
            auto [at, added] = files.emplace(folded, std::make_pair(p + 1, file.name));
            if (!added) {
                std::string as = at->second.second != file.name ? " (as " + Printable(at->second.second) + ")" : "";
                if (at->second.first == p + 1) return "the Name " + Printable(file.name) + " appears twice in " + PartName(p + 1) + as;
                return "the Name " + Printable(file.name) + " of " + PartName(p + 1) + " is given in " +
                       PartName(at->second.first) + " too" + as;
            }
            if (folders.count(folded) != 0) {
                return "the Name " + Printable(file.name) + " of " + PartName(p + 1) + " is a folder in " +
                       PartName(folders[folded].first);
            }
            for (size_t slash = folded.find(u'\\'); slash != std::u16string::npos; slash = folded.find(u'\\', slash + 1)) {
                std::u16string folder = folded.substr(0, slash);
                auto clash = files.find(folder);
                if (clash != files.end()) {
                    return "the Name " + Printable(clash->second.second) + " of " + PartName(clash->second.first) +
                           " is a folder in " + PartName(p + 1);
                }
                folders.emplace(folder, std::make_pair(p + 1, std::string()));
            }
        }
    }
    return {};
}

}  // namespace

bool OpenRelease(const std::string& path, ReleaseIndex* index, std::vector<ReleasePart>* parts, std::string* error)
{
    parts->clear();
    std::string bytes, why;
    if (!ReadWholeFile(path, MaxIniBytes, &bytes, &why)) {
        *error = "cannot read " + Printable(path) + " (" + why + ")";
        return false;
    }
    if (!ReadIndexBytes(bytes, index, &why)) {
        *error = Printable(path) + ": " + why;
        return false;
    }
    for (size_t p = 0; p < index->parts.size(); ++p) {
        ReleasePart part;
        part.listed = index->parts[p];
        part.manifestPath = Beside(path, part.listed.manifest);
        part.packagePath = Beside(path, part.listed.package);
        const std::string name = PartName(p + 1);
        if (!PathExists(part.manifestPath)) {
            *error = name + "'s manifest " + Printable(part.listed.manifest) + " is missing";
            return false;
        }
        std::string manifestBytes;
        if (!ReadWholeFile(part.manifestPath, MaxIniBytes, &manifestBytes, &why)) {
            *error = "cannot read " + name + "'s manifest " + Printable(part.listed.manifest) + " (" + why + ")";
            return false;
        }
        if (!ReadManifestBytes(manifestBytes, &part.manifest, &why)) {
            *error = name + "'s manifest " + Printable(part.listed.manifest) + ": " + why;
            return false;
        }
        if (!PathExists(part.packagePath)) {
            *error = name + "'s package " + Printable(part.listed.package) + " is missing";
            return false;
        }
        unsigned long long unpacked = 0;
        for (const ManifestFile& file : part.manifest.files) unpacked += file.size;
        const char* differs = part.listed.count != part.manifest.files.size() ? "Count"
                              : part.listed.size != part.manifest.packageSize ? "Size"
                              : part.listed.sha256 != part.manifest.packageSha256 ? "Sha256"
                              : part.listed.unpacked != unpacked ? "UnpackedSize"
                                                                 : nullptr;
        if (differs != nullptr) {
            *error = name + "'s " + differs + " in the index differs from its manifest's";
            return false;
        }
        parts->push_back(part);
    }
    std::string rule = BrokenUrls(*index, *parts);
    if (rule.empty()) rule = BrokenNames(*parts);
    if (!rule.empty()) {
        *error = rule;
        return false;
    }
    return true;
}
