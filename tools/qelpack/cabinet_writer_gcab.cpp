// The cabinet on Linux, written by libgcab (MSZIP). Each source is opened without following
// links, checked to be a regular file inside the source folder, and read once: the bytes are
// hashed and copied into a private scratch file as they are read, and libgcab compresses that
// copy, so the digest, the size and the cabinet member all come from the same read.
#include "tools/qelpack/cabinet_writer.h"

#include <fcntl.h>
#include <libgcab.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tools/qelpack/digest.h"
#include "tools/qelpack/pack.h"
#include "tools/qelpack/text.h"

namespace {

std::string ErrorText(int code) { return std::string(strerror(code)) + " (errno " + std::to_string(code) + ")"; }

template <typename T>
struct GObjectOwner {
    T* object = nullptr;
    ~GObjectOwner()
    {
        if (object != nullptr) g_object_unref(object);
    }
};

struct ErrorOwner {
    GError* error = nullptr;
    ~ErrorOwner()
    {
        if (error != nullptr) g_error_free(error);
    }
    std::string Text() const { return error != nullptr ? error->message : "unknown error"; }
};

struct Fd {
    int fd = -1;
    ~Fd()
    {
        if (fd >= 0) close(fd);
    }
};

bool Inside(int fd, const std::string& root)
{
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char target[4096];
    ssize_t length = readlink(link, target, sizeof target - 1);
    if (length <= 0) return false;
    std::string path(target, static_cast<size_t>(length));
    return path.size() > root.size() && path.compare(0, root.size(), root) == 0 && path[root.size()] == '/';
}

// Reads member's source once into copy, hashing it. Returns 0, 1 or 2 with error set.
int ReadOnce(CabinetMember* member, const std::string& copy, std::string* error)
{
    Fd in;
    in.fd = open(member->source.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (in.fd < 0) {
        int code = errno;
        if (code == ELOOP) {
            *error = "refused " + member->display + ": it is a link; a release holds regular files only";
            return PackRefused;
        }
        *error = "cannot open " + member->display + ": " + ErrorText(code);
        return PackFailed;
    }
    struct stat info;
    if (fstat(in.fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        *error = "refused " + member->display + ": it is not a regular file; a release holds regular files only";
        return PackRefused;
    }
    if (!Inside(in.fd, member->root)) {
        *error = "refused " + member->display + ": it lies outside SOURCE_DIR";
        return PackRefused;
    }
    Fd out;
    out.fd = open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out.fd < 0) {
        *error = "cannot write a scratch copy of " + member->display + ": " + ErrorText(errno);
        return PackFailed;
    }
    Sha256 digest;
    if (!digest.Ready()) {
        *error = "the SHA-256 provider is not available";
        return PackFailed;
    }
    std::string buffer(1 << 16, '\0');
    member->readBytes = 0;
    for (;;) {
        ssize_t got = read(in.fd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            *error = "cannot read " + member->display + ": " + ErrorText(errno);
            return PackFailed;
        }
        if (got == 0) break;
        member->readBytes += static_cast<unsigned long long>(got);
        if (member->readBytes > member->listedSize) break;  // grew: stop reading, report below
        digest.Update(buffer.data(), static_cast<size_t>(got));
        for (ssize_t at = 0; at < got;) {
            ssize_t put = write(out.fd, buffer.data() + at, static_cast<size_t>(got - at));
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) {
                *error = "cannot write a scratch copy of " + member->display + ": " + ErrorText(errno);
                return PackFailed;
            }
            at += put;
        }
    }
    if (member->readBytes != member->listedSize) {
        *error = member->display + " changed while it was read (listed " + std::to_string(member->listedSize) +
                 " bytes, read " + (member->readBytes > member->listedSize ? "more" : std::to_string(member->readBytes)) + ")";
        return PackFailed;
    }
    member->sha256 = digest.Finish();
    return 0;
}

}  // namespace

int WriteCabinet(const std::string& path, const std::string& scratchDir, std::vector<CabinetMember>* members,
                 std::string* error)
{
    std::vector<std::string> copies;
    auto removeCopies = [&]() {
        for (const std::string& copy : copies) unlink(copy.c_str());
    };
    GObjectOwner<GCabCabinet> cabinet;
    cabinet.object = gcab_cabinet_new();
    GCabFolder* folder = gcab_folder_new(GCAB_COMPRESSION_MSZIP);
    ErrorOwner failure;
    if (!gcab_cabinet_add_folder(cabinet.object, folder, &failure.error)) {
        g_object_unref(folder);
        *error = "the cabinet writer could not start: " + failure.Text();
        return PackFailed;
    }
    g_object_unref(folder);  // the cabinet holds it now
    // A fixed date and time and the archive attribute only: the same sources give the same
    // cabinet, and no member carries the run-after-extraction bit.
    GDateTime* when = g_date_time_new_utc(2020, 1, 1, 0, 0, 0);
    for (size_t i = 0; i < members->size(); ++i) {
        CabinetMember& member = (*members)[i];
        std::string copy = scratchDir + "/m" + member.name;
        int code = ReadOnce(&member, copy, error);
        copies.push_back(copy);
        if (code != 0) {
            g_date_time_unref(when);
            removeCopies();
            return code;
        }
        GObjectOwner<GFile> source;
        source.object = g_file_new_for_path(copy.c_str());
        GCabFile* file = gcab_file_new_with_file(member.name.c_str(), source.object);
        gcab_file_set_date_time(file, when);
        gcab_file_set_attributes(file, GCAB_FILE_ATTRIBUTE_ARCH);
        ErrorOwner added;
        bool ok = gcab_folder_add_file(folder, file, FALSE, nullptr, &added.error);
        g_object_unref(file);
        if (!ok) {
            g_date_time_unref(when);
            removeCopies();
            *error = "cannot add " + member.display + " to the cabinet: " + added.Text();
            return PackFailed;
        }
    }
    g_date_time_unref(when);

    GObjectOwner<GFile> target;
    target.object = g_file_new_for_path(path.c_str());
    ErrorOwner written;
    GObjectOwner<GFileOutputStream> stream;
    stream.object = g_file_create(target.object, G_FILE_CREATE_NONE, nullptr, &written.error);
    bool ok = stream.object != nullptr &&
              gcab_cabinet_write_simple(cabinet.object, G_OUTPUT_STREAM(stream.object), nullptr, nullptr, nullptr,
                                        &written.error);
    ok = stream.object != nullptr && g_output_stream_close(G_OUTPUT_STREAM(stream.object), nullptr, ok ? &written.error : nullptr) && ok;
    removeCopies();
    if (!ok) {
        *error = "cannot write " + Printable(path) + ": " + written.Text();
        return PackFailed;
    }
    return 0;
}
