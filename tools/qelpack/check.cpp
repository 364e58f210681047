#include "tools/qelpack/check.h"

#include <libgcab.h>

#include <map>
#include <vector>

#include "tools/qelpack/digest.h"
#include "tools/qelpack/manifest_reader.h"
#include "tools/qelpack/platform.h"
#include "tools/qelpack/release_reader.h"
#include "tools/qelpack/text.h"

namespace {

struct Extraction {
    std::map<std::string, int> seen;  // member name -> times
    std::string folder;
};

// Every member is extracted under a name of ours ("x" and its index), never its own, so a
// hostile member name cannot write outside the scratch folder.
gboolean AdmitMember(GCabFile* file, gpointer data)
{
    auto* extraction = static_cast<Extraction*>(data);
    std::string name = gcab_file_get_name(file);
    if (++extraction->seen[name] != 1 || name.size() != 4 || name.find_first_not_of("0123456789") != std::string::npos) {
        return FALSE;
    }
    gcab_file_set_extract_name(file, ("x" + name).c_str());
    return TRUE;
}

struct Scratch {
    std::string folder;
    std::vector<std::string> files;
    ~Scratch()
    {
        for (const std::string& file : files) RemoveFile(file);
        if (!folder.empty()) RemoveEmptyFolder(folder);
    }
};

// Checks the package against a manifest already read: its size and digest, then every member
// of the cabinet against its entry. 0; 1 with what is broken; 2 when the package cannot be read.
int CheckPackage(const ManifestContent& manifest, const std::string& package, std::string* message)
{
    std::string digest;
    unsigned long long size = 0;
    if (!FileSha256(package, &digest, &size)) {
        *message = "cannot read " + Printable(package);
        return 2;
    }
    if (size != manifest.packageSize) {
        *message = "the package is " + std::to_string(size) + " bytes, the manifest says " +
                   std::to_string(manifest.packageSize);
        return 1;
    }
    if (digest != manifest.packageSha256) {
        *message = "the package's SHA-256 differs from the manifest's";
        return 1;
    }

    GCabCabinet* cabinet = gcab_cabinet_new();
    GFile* file = g_file_new_for_path(package.c_str());
    GError* error = nullptr;
    GFileInputStream* stream = g_file_read(file, nullptr, &error);
    bool loaded = stream != nullptr && gcab_cabinet_load(cabinet, G_INPUT_STREAM(stream), nullptr, &error);
    std::string loadError = error != nullptr ? error->message : "";
    if (error != nullptr) g_clear_error(&error);
    int result = 1;
    Scratch scratch;
    Extraction extraction;
    std::vector<std::string> names;
    if (!loaded) {
        *message = "the package is not a cabinet libgcab can read (" + loadError + ")";
        goto done;
    }
    {
        GPtrArray* folders = gcab_cabinet_get_folders(cabinet);
        for (guint f = 0; f < folders->len; ++f) {
            GSList* members = gcab_folder_get_files(static_cast<GCabFolder*>(g_ptr_array_index(folders, f)));
            for (GSList* item = members; item != nullptr; item = item->next) {
                GCabFile* member = static_cast<GCabFile*>(item->data);
                names.push_back(gcab_file_get_name(member));
                if (gcab_file_get_attributes(member) & GCAB_FILE_ATTRIBUTE_EXEC) {
                    *message = "member " + Printable(names.back()) + " is marked to run after extraction";
                    g_slist_free(members);
                    goto done;
                }
            }
            g_slist_free(members);
        }
    }
    if (names.size() != manifest.files.size()) {
        *message = "the cabinet holds " + std::to_string(names.size()) + " members, the manifest " +
                   std::to_string(manifest.files.size()) + " entries";
        goto done;
    }
    {
        std::map<std::string, int> counts;
        for (const std::string& name : names) ++counts[name];
        for (size_t i = 0; i < manifest.files.size(); ++i) {
            char tag[16];
            snprintf(tag, sizeof tag, "%04u", static_cast<unsigned>(i));
            if (counts[tag] != 1) {
                *message = std::string("member ") + tag + (counts[tag] == 0 ? " is missing" : " appears twice");
                goto done;
            }
        }
    }
    {
        std::string why;
        if (!MakeScratchFolder(&scratch.folder, &why)) {
            *message = "cannot create a scratch folder: " + why;
            goto done;
        }
        for (size_t i = 0; i < manifest.files.size(); ++i) {
            char tag[16];
            snprintf(tag, sizeof tag, "x%04u", static_cast<unsigned>(i));
            scratch.files.push_back(scratch.folder + "/" + tag);
        }
        GFile* target = g_file_new_for_path(scratch.folder.c_str());
        bool extracted = gcab_cabinet_extract(cabinet, target, AdmitMember, nullptr, &extraction, nullptr, &error);
        g_object_unref(target);
        if (!extracted) {
            *message = std::string("the cabinet cannot be extracted (") +
                       (error != nullptr ? error->message : "unknown error") + ")";
            if (error != nullptr) g_clear_error(&error);
            goto done;
        }
        for (size_t i = 0; i < manifest.files.size(); ++i) {
            const ManifestFile& entry = manifest.files[i];
            std::string memberDigest;
            unsigned long long memberSize = 0;
            std::string tag = scratch.files[i].substr(scratch.files[i].size() - 4);
            if (!FileSha256(scratch.files[i], &memberDigest, &memberSize)) {
                *message = "member " + tag + " was not extracted";
                goto done;
            }
            if (memberSize != entry.size) {
                *message = "member " + tag + " is " + std::to_string(memberSize) +
                           " bytes, its entry says " + std::to_string(entry.size);
                goto done;
            }
            if (memberDigest != entry.sha256) {
                *message = "member " + tag + " (" + Printable(entry.name) +
                           ") differs from its entry's Sha256";
                goto done;
            }
        }
    }
    result = 0;
done:
    if (stream != nullptr) g_object_unref(stream);
    g_object_unref(file);
    g_object_unref(cabinet);
    return result;
}

}  // namespace

int CheckRelease(const std::string& manifestPath, const std::string& package, std::string* message)
{
    std::string bytes, rule;
    ManifestContent manifest;
    if (!ReadWholeFile(manifestPath, 16u << 20, &bytes, &rule)) {
        *message = "cannot read " + Printable(manifestPath);
        return 1;
    }
    if (!ReadManifestBytes(bytes, &manifest, &rule)) {
        *message = "the release is broken: " + Printable(manifestPath) + ": " + rule;
        return 1;
    }
    std::string reason;
    int code = CheckPackage(manifest, package, &reason);
    if (code == 2) {
        *message = reason;
        return 1;
    }
    if (code != 0) {
        *message = "the release is broken: " + reason;
        return 1;
    }
    *message = "the release is good (" + std::to_string(manifest.files.size()) + " files)";
    return 0;
}

int CheckIndex(const std::string& indexPath, std::string* message)
{
    ReleaseIndex index;
    std::vector<ReleasePart> parts;
    std::string reason;
    if (!OpenRelease(indexPath, &index, &parts, &reason)) {
        *message = "the release is broken: " + reason;
        return 1;
    }
    size_t files = 0;
    for (size_t p = 0; p < parts.size(); ++p) {
        if (CheckPackage(parts[p].manifest, parts[p].packagePath, &reason) != 0) {
            *message = "the release is broken: part " + std::to_string(p + 1) + " (" + Printable(parts[p].listed.package) +
                       "): " + reason;
            return 1;
        }
        files += parts[p].manifest.files.size();
    }
    *message = "the release is good (" + std::to_string(parts.size()) + (parts.size() == 1 ? " part, " : " parts, ") +
               std::to_string(files) + " files)";
    return 0;
}
