#include "tools/qelpack/picture_file.h"

#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

std::string ErrorText(int code) { return std::string(strerror(code)) + " (errno " + std::to_string(code) + ")"; }

// A descriptor closed on every path.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor()
    {
        if (fd_ >= 0) close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd_; }
    // Closes now; false when the close reports an error (a delayed write failure).
    bool Close()
    {
        int fd = fd_;
        fd_ = -1;
        return close(fd) == 0;
    }

private:
    int fd_;
};

}  // namespace

bool ReadPictureFile(const std::string& path, uint64_t limit, std::string* data, std::string* why)
{
    // O_NONBLOCK: opening a FIFO must not wait for a writer.
    Descriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (file.Get() < 0) {
        *why = ErrorText(errno);
        return false;
    }
    struct stat info;
    if (fstat(file.Get(), &info) != 0) {
        *why = ErrorText(errno);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        *why = "it is not a regular file";
        return false;
    }
    if (static_cast<uint64_t>(info.st_size) > limit) {
        *why = "it is larger than " + std::to_string(limit) + " bytes";
        return false;
    }
    data->assign(static_cast<size_t>(info.st_size), '\0');
    size_t done = 0;
    while (done < data->size()) {
        ssize_t got = read(file.Get(), &(*data)[done], data->size() - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            *why = ErrorText(errno);
            return false;
        }
        if (got == 0) break;
        done += static_cast<size_t>(got);
    }
    char extra;
    if (done != data->size() || read(file.Get(), &extra, 1) != 0) {
        *why = "it changed while it was read";
        return false;
    }
    return true;
}

bool ReplaceWithFile(const std::string& path, const std::string& data, std::string* why)
{
    struct stat info;
    if (lstat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        *why = S_ISDIR(info.st_mode) ? "it is a folder" : "it is not a regular file (a link or a device)";
        return false;
    }
    const std::string partial = path + ".partial";
    unlink(partial.c_str());  // left by a run that was killed
    Descriptor file(open(partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (file.Get() < 0) {
        *why = ErrorText(errno);
        return false;
    }
    size_t done = 0;
    int error = 0;
    while (done < data.size()) {
        ssize_t put = write(file.Get(), data.data() + done, data.size() - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            error = put < 0 ? errno : ENOSPC;
            break;
        }
        done += static_cast<size_t>(put);
    }
    if (error == 0 && fsync(file.Get()) != 0) error = errno;
    if (!file.Close() && error == 0) error = errno;
    if (error == 0 && rename(partial.c_str(), path.c_str()) != 0) error = errno;
    if (error != 0) {
        unlink(partial.c_str());
        *why = ErrorText(error);
        return false;
    }
    return true;
}
