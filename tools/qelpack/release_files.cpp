#include "tools/qelpack/release_files.h"

#include <algorithm>

#include "tools/qelpack/ini_text.h"
#include "tools/qelpack/platform.h"
#include "tools/qelpack/text.h"

namespace {

bool Numbered(const std::string& name, const std::string& stem, const std::string& extension)
{
    if (name.size() <= stem.size() + extension.size()) return false;
    if (name.compare(0, stem.size(), stem) != 0) return false;
    if (name.compare(name.size() - extension.size(), extension.size(), extension) != 0) return false;
    std::string digits = name.substr(stem.size(), name.size() - stem.size() - extension.size());
    return digits.find_first_not_of("0123456789") == std::string::npos;
}

// The order files leave their place: the index, the manifests, the packages. They come in
// the other way round.
int Rank(const std::string& given)
{
    const std::string name = AsciiLower(given);
    if (name == "release.ini") return 0;
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".ini") == 0) return 1;
    return 2;
}

std::string In(const std::string& out, const std::string& name) { return out + PathSeparator + name; }

void SortForRemoval(std::vector<std::string>* names)
{
    std::sort(names->begin(), names->end(), [](const std::string& a, const std::string& b) {
        return Rank(a) != Rank(b) ? Rank(a) < Rank(b) : a < b;
    });
}

}  // namespace

bool IsReleaseFileName(const std::string& given)
{
#ifdef _WIN32
    const std::string name = AsciiLower(given);  // Windows names compare without regard to letter case
#else
    const std::string& name = given;
#endif
    return name == "release.ini" || name == "manifest.ini" || name == "application.cab" ||
           Numbered(name, "manifest-", ".ini") || Numbered(name, "application-", ".cab");
}

bool ListReleaseFiles(const std::string& out, std::vector<std::string>* names, std::string* error)
{
    names->clear();
    std::vector<FolderEntry> entries;
    if (!ListFolder(out, &entries, error)) return false;
    for (const FolderEntry& entry : entries) {
        if (IsReleaseFileName(entry.name)) names->push_back(entry.name);
    }
    SortForRemoval(names);
    return true;
}

void RemoveLeftovers(const std::string& out)
{
    std::vector<FolderEntry> entries;
    std::string error;
    if (!ListFolder(out, &entries, &error)) return;
    for (const FolderEntry& entry : entries) {
        for (const char* suffix : {".partial", ".old"}) {
            const std::string tail = suffix;
            const std::string& name = entry.name;
            if (entry.kind == EntryKind::File && name.size() > tail.size() &&
                name.compare(name.size() - tail.size(), tail.size(), tail) == 0 &&
                IsReleaseFileName(name.substr(0, name.size() - tail.size()))) {
                RemoveFile(In(out, name));
            }
        }
    }
}

bool SwapInRelease(const std::string& out, const std::vector<std::string>& names, std::string* error)
{
    std::vector<std::string> olds;
    std::string why;
    if (!ListReleaseFiles(out, &olds, &why)) {
        *error = "cannot read " + Printable(out) + " (" + why + "); the old release is unchanged";
        return false;
    }
    std::vector<std::string> news = names;
    SortForRemoval(&news);
    std::reverse(news.begin(), news.end());

    std::vector<std::string> movedAway, movedIn;
    auto undo = [&]() {
        bool whole = true;
        for (auto name = movedIn.rbegin(); name != movedIn.rend(); ++name) {
            whole = MovePath(In(out, *name), In(out, *name + ".partial"), nullptr) && whole;
        }
        for (auto name = movedAway.rbegin(); name != movedAway.rend(); ++name) {
            whole = MovePath(In(out, *name + ".old"), In(out, *name), nullptr) && whole;
        }
        return whole ? std::string("the old release is unchanged")
                     : std::string("the old release could not be put back whole: its files are left as NAME.old");
    };
    for (const std::string& name : olds) {
        RemoveFile(In(out, name + ".old"));  // left by an interrupted earlier run of ours
        if (!MovePath(In(out, name), In(out, name + ".old"), &why)) {
            *error = "cannot move the old " + name + " aside (" + why + "); " + undo();
            return false;
        }
        movedAway.push_back(name);
    }
    for (const std::string& name : news) {
        if (!MovePath(In(out, name + ".partial"), In(out, name), &why)) {
            *error = "cannot move " + name + " into place (" + why + "); " + undo();
            return false;
        }
        movedIn.push_back(name);
    }
    for (const std::string& name : movedAway) RemoveFile(In(out, name + ".old"));
    return true;
}
