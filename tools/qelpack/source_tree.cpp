#include "tools/qelpack/source_tree.h"

#include <algorithm>
#include <map>

#include "tools/qelpack/pack.h"
#include "tools/qelpack/platform.h"
#include "tools/qelpack/rules.h"
#include "tools/qelpack/text.h"

namespace {

constexpr int MaxDepth = 64;

const char* KindText(EntryKind kind)
{
    switch (kind) {
    case EntryKind::Link:
        return "is a link (or a reparse point)";
    case EntryKind::Device:
        return "is a device";
    case EntryKind::Fifo:
        return "is a FIFO";
    case EntryKind::Socket:
        return "is a socket";
    default:
        return "is not a regular file";
    }
}

int Walk(const std::string& root, const std::string& relative, int depth, std::vector<SourceFile>* files,
         std::string* message)
{
    std::string folder = root;
    for (char c : relative) folder += c == '\\' ? PathSeparator : c;
    if (!relative.empty()) folder.insert(root.size(), 1, PathSeparator);
    std::vector<FolderEntry> entries;
    std::string error;
    if (!ListFolder(folder, &entries, &error)) {
        *message = "cannot read the folder " + (relative.empty() ? Printable(root) : Printable(relative)) + ": " + error;
        return PackFailed;
    }
    // Names first, before anything below them is opened.
    for (const FolderEntry& entry : entries) {
        std::string child = relative.empty() ? entry.name : relative + "\\" + entry.name;
        std::string rule = BrokenNameRule(entry.name);
        if (!rule.empty()) {
            *message = "refused " + Printable(child) + ": " + rule;
            return PackRefused;
        }
        if (entry.kind != EntryKind::File && entry.kind != EntryKind::Folder) {
            *message = "refused " + Printable(child) + ": it " + KindText(entry.kind) + "; a release holds regular files only";
            return PackRefused;
        }
    }
    for (const FolderEntry& entry : entries) {
        std::string child = relative.empty() ? entry.name : relative + "\\" + entry.name;
        if (entry.kind == EntryKind::Folder) {
            if (depth >= MaxDepth) {
                *message = "refused " + Printable(child) + ": folders nest deeper than 64 levels";
                return PackRefused;
            }
            if (int code = Walk(root, child, depth + 1, files, message)) return code;
        } else {
            SourceFile file;
            file.relative = child;
            file.full = folder + PathSeparator + entry.name;
            file.size = entry.size;
            files->push_back(file);
        }
    }
    return 0;
}

// Two paths that differ only in letter case become one on Windows: one file would overwrite
// the other, or two folders would merge.
int FindCaseCollision(const std::vector<SourceFile>& files, std::string* message)
{
    std::map<std::u16string, std::string> seen;
    for (const SourceFile& file : files) {
        size_t end = 0;
        do {
            end = file.relative.find('\\', end + 1);
            std::string prefix = file.relative.substr(0, end);
            std::u16string wide;
            Utf8ToUtf16(prefix, &wide);
            auto [at, added] = seen.emplace(FoldCase(wide), prefix);
            if (!added && at->second != prefix) {
                *message = "refused " + Printable(prefix) + ": it differs from " + Printable(at->second) +
                           " only in letter case (they would collide on Windows)";
                return PackRefused;
            }
        } while (end != std::string::npos);
    }
    return 0;
}

}  // namespace

int ListSourceFiles(const std::string& root, std::vector<SourceFile>* files, std::string* message)
{
    files->clear();
    if (int code = Walk(root, "", 0, files, message)) return code;
    std::vector<std::pair<std::u16string, SourceFile>> keyed;
    for (SourceFile& file : *files) {
        std::u16string key;
        Utf8ToUtf16(file.relative, &key);
        keyed.emplace_back(std::move(key), std::move(file));
    }
    std::sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    files->clear();
    for (auto& item : keyed) files->push_back(std::move(item.second));
    return FindCaseCollision(*files, message);
}
