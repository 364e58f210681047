#include "tools/qelpack/pack.h"

#include <cstdio>
#include <vector>

#include "tools/qelpack/cabinet_writer.h"
#include "tools/qelpack/digest.h"
#include "tools/qelpack/manifest_writer.h"
#include "tools/qelpack/platform.h"
#include "tools/qelpack/rules.h"
#include "tools/qelpack/source_tree.h"
#include "tools/qelpack/text.h"

namespace {

constexpr unsigned long long MaxBytes = 2000000000ull;
constexpr size_t MaxFiles = 256;
constexpr size_t MaxNameUnits = 240;

// Checks every rule qelfetch's manifest imposes before anything is read or written.
int CheckSources(const std::vector<SourceFile>& files, std::string* message)
{
    if (files.empty()) {
        *message = "refused: the source folder holds no files";
        return PackRefused;
    }
    if (files.size() > MaxFiles) {
        *message = "refused: the source folder holds " + std::to_string(files.size()) + " files; a release holds at most 256";
        return PackRefused;
    }
    unsigned long long total = 0;
    for (const SourceFile& file : files) {
        std::u16string wide;
        Utf8ToUtf16(file.relative, &wide);
        if (wide.size() > MaxNameUnits) {
            *message = "refused " + Printable(file.relative) + ": the name is longer than 240 UTF-16 units";
            return PackRefused;
        }
        if (file.size > MaxBytes) {
            *message = "refused " + Printable(file.relative) + ": it is larger than 2,000,000,000 bytes";
            return PackRefused;
        }
        total += file.size;
    }
    if (total > MaxBytes) {
        *message = "refused: the files add up to " + std::to_string(total) + " bytes; a release holds at most 2,000,000,000";
        return PackRefused;
    }
    return PackDone;
}

bool SameOrInside(const std::string& inner, const std::string& outer)
{
    std::u16string a, b;
    Utf8ToUtf16(inner, &a);
    Utf8ToUtf16(outer, &b);
#ifdef _WIN32
    a = FoldCase(a);  // Windows paths compare without regard to letter case
    b = FoldCase(b);
#endif
    if (a == b) return true;
    if (!b.empty() && b.back() != PathSeparator) b += static_cast<char16_t>(PathSeparator);
    return a.compare(0, b.size(), b) == 0;
}

// The scratch folder and what was put in it, removed on every path.
struct Scratch {
    std::string folder;
    std::string cabinet;
    ~Scratch()
    {
        if (folder.empty()) return;
        RemoveFile(cabinet);
        RemoveEmptyFolder(folder);
    }
};

// Puts the new pair in place of the old one (if any). The old pair is renamed away first and
// restored when the new pair cannot be moved in, so a reader finds the old release or the new
// one, never a mixture; the old pair is deleted only once the new one is in place.
bool SwapIn(const std::string& out, std::string* error)
{
    const std::string cabinet = out + PathSeparator + "application.cab";
    const std::string manifest = out + PathSeparator + "manifest.ini";
    const std::string olds[] = {cabinet + ".old", manifest + ".old"};
    const std::string lives[] = {cabinet, manifest};
    const std::string news[] = {cabinet + ".partial", manifest + ".partial"};
    const char* names[] = {"application.cab", "manifest.ini"};
    bool movedAway[2] = {false, false};
    bool movedIn[2] = {false, false};
    auto undo = [&]() {
        for (int i = 1; i >= 0; --i) {
            if (movedIn[i]) MovePath(lives[i], news[i], nullptr);
        }
        for (int i = 1; i >= 0; --i) {
            if (movedAway[i]) MovePath(olds[i], lives[i], nullptr);
        }
    };
    for (int i = 0; i < 2; ++i) {
        if (!PathExists(lives[i])) continue;
        RemoveFile(olds[i]);  // left by an interrupted earlier run of ours
        std::string why;
        if (!MovePath(lives[i], olds[i], &why)) {
            undo();
            *error = "cannot move the old " + std::string(names[i]) + " aside (" + why + "); the old release is unchanged";
            return false;
        }
        movedAway[i] = true;
    }
    for (int i = 0; i < 2; ++i) {
        std::string why;
        if (!MovePath(news[i], lives[i], &why)) {
            undo();
            *error = "cannot move " + std::string(names[i]) + " into place (" + why + "); the old release is unchanged";
            return false;
        }
        movedIn[i] = true;
    }
    for (int i = 0; i < 2; ++i) {
        if (movedAway[i]) RemoveFile(olds[i]);
    }
    return true;
}

}  // namespace

int Pack(const PackRequest& request, std::string* message)
{
    if (request.hasUrl) {
        std::string rule = BrokenUrlRule(request.url);
        if (!rule.empty()) {
            *message = "refused: " + rule;
            return PackRefused;
        }
    }
    const std::string source = AbsolutePath(request.source);
    const std::string out = AbsolutePath(request.out);
    if (!IsFolder(source)) {
        *message = "refused: " + Printable(source) + " is not a folder";
        return PackRefused;
    }
    if (SameOrInside(ResolvedPath(out), ResolvedPath(source))) {
        *message = "refused: OUT_DIR " + Printable(out) + " is SOURCE_DIR or inside it (the release would pack itself)";
        return PackRefused;
    }
    // The walk starts from the folder's resolved path: SOURCE_DIR may itself be reached through
    // a link, but nothing below it is followed.
    const std::string root = ResolvedPath(source);
    std::vector<SourceFile> files;
    if (int code = ListSourceFiles(root, &files, message)) return code;
    if (int code = CheckSources(files, message)) return code;

    const std::string cabinet = out + PathSeparator + "application.cab";
    const std::string manifest = out + PathSeparator + "manifest.ini";
    if (PathExists(out) && !IsFolder(out)) {
        *message = "refused: OUT_DIR " + Printable(out) + " is not a folder";
        return PackRefused;
    }
    if (!request.force && (PathExists(cabinet) || PathExists(manifest))) {
        *message = "refused: " + Printable(out) + " already holds application.cab or manifest.ini (use --force to replace them)";
        return PackRefused;
    }

    // Everything is read and compressed in a private scratch folder; OUT_DIR is touched only
    // once the cabinet is complete.
    Scratch scratch;
    std::string error;
    if (!MakeScratchFolder(&scratch.folder, &error)) {
        *message = "cannot create a scratch folder: " + error;
        return PackFailed;
    }
    scratch.cabinet = scratch.folder + PathSeparator + "application.cab";
    std::vector<CabinetMember> members;
    for (size_t i = 0; i < files.size(); ++i) {
        char name[16];
        snprintf(name, sizeof name, "%04u", static_cast<unsigned>(i));
        CabinetMember member;
        member.root = root;
        member.source = files[i].full;
        member.display = Printable(files[i].relative);
        member.name = name;
        member.listedSize = files[i].size;
        members.push_back(member);
    }
    if (int code = WriteCabinet(scratch.cabinet, scratch.folder, &members, &error)) {
        *message = error;
        return code;
    }
    unsigned long long packageSize = 0;
    if (!RegularFileSize(scratch.cabinet, &packageSize) || packageSize == 0) {
        *message = "cannot read the cabinet back";
        return PackFailed;
    }
    if (packageSize > MaxBytes) {
        *message = "refused: the cabinet would be larger than 2,000,000,000 bytes";
        return PackRefused;
    }

    bool createdOut = false;
    if (!IsFolder(out)) {
        if (!MakeFolder(out, &error)) {
            *message = "cannot create " + Printable(out) + ": " + error;
            return PackFailed;
        }
        createdOut = true;
    }
    // Both outputs are written beside their final names and renamed only when both are
    // complete. Partial files of an interrupted earlier run are ours to remove.
    const std::string partialCabinet = cabinet + ".partial";
    const std::string partialManifest = manifest + ".partial";
    RemoveFile(partialCabinet);
    RemoveFile(partialManifest);
    auto fail = [&](const std::string& why) {
        RemoveFile(partialCabinet);
        RemoveFile(partialManifest);
        if (createdOut) RemoveEmptyFolder(out);
        *message = why;
        return PackFailed;
    };

    ManifestContent content;
    content.url = request.url;
    for (size_t i = 0; i < files.size(); ++i) {
        content.files.push_back({files[i].relative, members[i].readBytes, members[i].sha256});
    }
    if (!CopyNewFile(scratch.cabinet, partialCabinet, &error)) {
        return fail("cannot write " + Printable(partialCabinet) + ": " + error);
    }
    // The digest is of the bytes now in OUT_DIR, read back.
    unsigned long long hashedSize = 0;
    if (!FileSha256(partialCabinet, &content.packageSha256, &hashedSize) || hashedSize != packageSize) {
        return fail("cannot read back " + Printable(partialCabinet));
    }
    content.packageSize = packageSize;
    if (!WriteNewFile(partialManifest, ManifestBytes(content), &error)) {
        return fail("cannot write " + Printable(partialManifest) + ": " + error);
    }
    if (!SwapIn(out, &error)) return fail(error);
    *message = "packed " + std::to_string(files.size()) + " files into " + Printable(cabinet) + " (" +
               std::to_string(packageSize) + " bytes) and " + Printable(manifest);
    return PackDone;
}
