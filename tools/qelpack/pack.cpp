#include "tools/qelpack/pack.h"

#include <cstdio>
#include <vector>

#include "tools/qelpack/cabinet_writer.h"
#include "tools/qelpack/digest.h"
#include "tools/qelpack/manifest_writer.h"
#include "tools/qelpack/platform.h"
#include "tools/qelpack/release_files.h"
#include "tools/qelpack/release_index.h"
#include "tools/qelpack/release_urls.h"
#include "tools/qelpack/source_tree.h"
#include "tools/qelpack/text.h"

namespace {

constexpr size_t MaxNameUnits = 240;

// Checks every rule qelfetch's manifest imposes on a single file before anything is read or
// written; the limits of a job as a whole are kept by cutting the release into parts.
int CheckSources(const std::vector<SourceFile>& files, std::string* message)
{
    if (files.empty()) {
        *message = "refused: the source folder holds no files";
        return PackRefused;
    }
    for (const SourceFile& file : files) {
        std::u16string wide;
        Utf8ToUtf16(file.relative, &wide);
        if (wide.size() > MaxNameUnits) {
            *message = "refused " + Printable(file.relative) + ": the name is longer than 240 UTF-16 units";
            return PackRefused;
        }
        if (file.size > MaxPartBytes) {
            *message = "refused " + Printable(file.relative) + ": it is larger than 2,000,000,000 bytes";
            return PackRefused;
        }
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

// The private scratch folder (FCI's temporary files, libgcab's copies of the sources), removed
// on every path; the writers remove what they put in it.
struct Scratch {
    std::string folder;
    ~Scratch()
    {
        if (!folder.empty()) RemoveEmptyFolder(folder);
    }
};

// The new release's files written so far into OUT_DIR as NAME.partial, and OUT_DIR itself when
// this run created it: all removed unless the release was moved into place.
struct Written {
    std::string out;
    bool createdOut = false;
    bool kept = false;
    std::vector<std::string> names;
    ~Written()
    {
        if (kept) return;
        for (const std::string& name : names) RemoveFile(out + PathSeparator + name + ".partial");
        if (createdOut) RemoveEmptyFolder(out);
    }
};

// Packs one part: its cabinet and its manifest beside their final names in OUT_DIR.
int PackPart(const std::string& root, const std::vector<SourceFile>& files, const PartPlan& part,
             const PackRequest& request, const std::string& scratch, Written* written, IndexPart* listed,
             std::string* message)
{
    const std::string out = written->out;
    const std::string cabinet = out + PathSeparator + part.package + ".partial";
    const std::string manifest = out + PathSeparator + part.manifest + ".partial";
    std::vector<CabinetMember> members;
    for (size_t i = 0; i < part.count; ++i) {
        const SourceFile& file = files[part.first + i];
        char name[16];
        snprintf(name, sizeof name, "%04u", static_cast<unsigned>(i));
        CabinetMember member;
        member.root = root;
        member.source = file.full;
        member.display = Printable(file.relative);
        member.name = name;
        member.listedSize = file.size;
        members.push_back(member);
    }
    std::string error;
    written->names.push_back(part.package);
    if (int code = WriteCabinet(cabinet, scratch, &members, &error)) {
        *message = error;
        return code;
    }
    unsigned long long packageSize = 0;
    if (!RegularFileSize(cabinet, &packageSize) || packageSize == 0) {
        *message = "cannot read back " + Printable(cabinet);
        return PackFailed;
    }
    if (packageSize > MaxPartBytes) {
        *message = "refused: the cabinet of " + part.package + " would be larger than 2,000,000,000 bytes";
        return PackRefused;
    }
    if (packageSize > part.bound) {
        // The part was cut on this bound; a cabinet beyond it could break --part-size.
        *message = "the cabinet writer made " + part.package + " larger (" + std::to_string(packageSize) +
                   " bytes) than the format allows for its files (" + std::to_string(part.bound) + ")";
        return PackFailed;
    }
    ManifestContent content;
    if (request.hasUrl) content.url = PartUrl(request.url, part.package);
    for (size_t i = 0; i < part.count; ++i) {
        content.files.push_back({files[part.first + i].relative, members[i].readBytes, members[i].sha256});
    }
    // The digest is of the bytes now in OUT_DIR, read back.
    unsigned long long hashedSize = 0;
    if (!FileSha256(cabinet, &content.packageSha256, &hashedSize) || hashedSize != packageSize) {
        *message = "cannot read back " + Printable(cabinet);
        return PackFailed;
    }
    content.packageSize = packageSize;
    written->names.push_back(part.manifest);
    if (!WriteNewFile(manifest, ManifestBytes(content), &error)) {
        *message = "cannot write " + Printable(manifest) + ": " + error;
        return PackFailed;
    }
    listed->manifest = part.manifest;
    listed->package = part.package;
    listed->count = part.count;
    listed->size = packageSize;
    listed->sha256 = content.packageSha256;
    listed->unpacked = part.unpacked;
    return PackDone;
}

}  // namespace

int Pack(const PackRequest& request, std::string* message)
{
    if (std::string rule = BrokenUrlOptions(request.hasUrl, request.url, request.mirrors); !rule.empty()) {
        *message = "refused: " + rule;
        return PackRefused;
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
    std::vector<unsigned long long> sizes;
    for (const SourceFile& file : files) sizes.push_back(file.size);
    const std::vector<PartPlan> parts = PlanParts(sizes, request.partSize);
    if (std::string rule = BrokenPartUrls(request.hasUrl, request.url, request.mirrors, parts); !rule.empty()) {
        *message = "refused: " + rule;
        return PackRefused;
    }

    if (PathExists(out) && !IsFolder(out)) {
        *message = "refused: OUT_DIR " + Printable(out) + " is not a folder";
        return PackRefused;
    }
    std::string error;
    if (IsFolder(out)) {
        std::vector<std::string> existing;
        if (!ListReleaseFiles(out, &existing, &error)) {
            *message = "cannot read " + Printable(out) + ": " + error;
            return PackFailed;
        }
        for (const std::string& name : existing) {
            unsigned long long size = 0;
            if (!RegularFileSize(out + PathSeparator + name, &size)) {
                *message = "refused: " + Printable(out + PathSeparator + name) + " is not a regular file, so no release can replace it";
                return PackRefused;
            }
        }
        if (!existing.empty() && !request.force) {
            *message = "refused: " + Printable(out) + " already holds a release (" + existing.front() +
                       "); use --force to replace it";
            return PackRefused;
        }
    }

    Scratch scratch;
    if (!MakeScratchFolder(&scratch.folder, &error)) {
        *message = "cannot create a scratch folder: " + error;
        return PackFailed;
    }
    Written written;
    written.out = out;
    if (!IsFolder(out)) {
        if (!MakeFolder(out, &error)) {
            *message = "cannot create " + Printable(out) + ": " + error;
            return PackFailed;
        }
        written.createdOut = true;
    }
    // Partial files of an interrupted earlier run are ours to remove.
    RemoveLeftovers(out);

    // Each part is compressed straight beside its final names; the release is moved into
    // place only once every part and the index are complete.
    ReleaseIndex index;
    index.mirrors = request.mirrors;
    unsigned long long packageBytes = 0;
    for (const PartPlan& part : parts) {
        IndexPart listed;
        if (int code = PackPart(root, files, part, request, scratch.folder, &written, &listed, message)) return code;
        packageBytes += listed.size;
        index.parts.push_back(listed);
    }
    const std::string release = out + PathSeparator + "release.ini";
    written.names.push_back("release.ini");
    if (!WriteNewFile(release + ".partial", IndexBytes(index), &error)) {
        *message = "cannot write " + Printable(release + ".partial") + ": " + error;
        return PackFailed;
    }
    if (!SwapInRelease(out, written.names, &error)) {
        *message = error;
        return PackFailed;
    }
    written.kept = true;
    if (parts.size() == 1) {
        *message = "packed " + std::to_string(files.size()) + " files into " +
                   Printable(out + PathSeparator + parts[0].package) + " (" + std::to_string(packageBytes) + " bytes), " +
                   Printable(out + PathSeparator + parts[0].manifest) + " and " + Printable(release);
    } else {
        *message = "packed " + std::to_string(files.size()) + " files into " + std::to_string(parts.size()) + " parts (" +
                   std::to_string(packageBytes) + " bytes of packages) listed in " + Printable(release);
    }
    return PackDone;
}
