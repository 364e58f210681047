// The file system on Linux (and other POSIX systems): names are bytes, links are never followed.
#include "tools/qelpack/platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

const char PathSeparator = '/';

namespace {

std::string ErrorText(int code) { return std::string(strerror(code)) + " (errno " + std::to_string(code) + ")"; }

EntryKind KindOf(mode_t mode)
{
    if (S_ISREG(mode)) return EntryKind::File;
    if (S_ISDIR(mode)) return EntryKind::Folder;
    if (S_ISLNK(mode)) return EntryKind::Link;
    if (S_ISCHR(mode) || S_ISBLK(mode)) return EntryKind::Device;
    if (S_ISFIFO(mode)) return EntryKind::Fifo;
    if (S_ISSOCK(mode)) return EntryKind::Socket;
    return EntryKind::Other;
}

}  // namespace

bool ListFolder(const std::string& path, std::vector<FolderEntry>* entries, std::string* error)
{
    entries->clear();
    int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        *error = ErrorText(errno);
        return false;
    }
    DIR* folder = fdopendir(fd);
    if (folder == nullptr) {
        *error = ErrorText(errno);
        close(fd);
        return false;
    }
    bool ok = true;
    for (;;) {
        errno = 0;
        dirent* item = readdir(folder);
        if (item == nullptr) {
            if (errno != 0) {
                *error = ErrorText(errno);
                ok = false;
            }
            break;
        }
        if (strcmp(item->d_name, ".") == 0 || strcmp(item->d_name, "..") == 0) continue;
        struct stat info;
        if (fstatat(dirfd(folder), item->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
            *error = ErrorText(errno);
            ok = false;
            break;
        }
        FolderEntry entry;
        entry.name = item->d_name;
        entry.kind = KindOf(info.st_mode);
        entry.size = S_ISREG(info.st_mode) ? static_cast<unsigned long long>(info.st_size) : 0;
        entries->push_back(entry);
    }
    closedir(folder);
    return ok;
}

std::string AbsolutePath(const std::string& path)
{
    std::string result = path;
    if (result.empty() || result[0] != '/') {
        char* here = getcwd(nullptr, 0);
        if (here != nullptr) {
            result = std::string(here) + "/" + result;
            free(here);
        }
    }
    while (result.size() > 1 && result.back() == '/') result.pop_back();
    return result;
}

std::string ResolvedPath(const std::string& path)
{
    // The longest part that exists is resolved; the rest, which does not exist yet, is kept.
    std::string head = path, tail;
    while (!head.empty()) {
        char* real = realpath(head.c_str(), nullptr);
        if (real != nullptr) {
            std::string result = real;
            free(real);
            if (!tail.empty()) result += (result == "/" ? "" : "/") + tail;
            return result;
        }
        size_t slash = head.rfind('/');
        if (slash == std::string::npos) break;
        std::string last = head.substr(slash + 1);
        tail = tail.empty() ? last : last + "/" + tail;
        head = slash == 0 ? "/" : head.substr(0, slash);
        if (head == "/" && last.empty()) break;
    }
    return path;
}

bool IsFolder(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool PathExists(const std::string& path)
{
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

bool MakeFolder(const std::string& path, std::string* error)
{
    if (mkdir(path.c_str(), 0777) == 0) return true;
    *error = ErrorText(errno);
    return false;
}

bool RemoveFile(const std::string& path) { return unlink(path.c_str()) == 0; }

bool RemoveEmptyFolder(const std::string& path) { return rmdir(path.c_str()) == 0; }

bool MovePath(const std::string& from, const std::string& to, std::string* error)
{
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (error != nullptr) *error = ErrorText(errno);
    return false;
}

namespace {

bool WriteAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        ssize_t put = write(fd, data, size);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        data += put;
        size -= static_cast<size_t>(put);
    }
    return true;
}

}  // namespace

bool CopyNewFile(const std::string& from, const std::string& to, std::string* error)
{
    int in = open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (in < 0) {
        *error = ErrorText(errno);
        return false;
    }
    int outFd = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (outFd < 0) {
        *error = ErrorText(errno);
        close(in);
        return false;
    }
    std::string buffer(1 << 16, '\0');
    bool ok = true;
    for (;;) {
        ssize_t got = read(in, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 || (got > 0 && !WriteAll(outFd, buffer.data(), static_cast<size_t>(got)))) {
            *error = ErrorText(errno);
            ok = false;
            break;
        }
        if (got == 0) break;
    }
    if (ok && fsync(outFd) != 0) {
        *error = ErrorText(errno);
        ok = false;
    }
    close(in);
    if (close(outFd) != 0 && ok) {
        *error = ErrorText(errno);
        ok = false;
    }
    return ok;
}

bool WriteNewFile(const std::string& path, const std::string& data, std::string* error)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = ErrorText(errno);
        return false;
    }
    bool ok = WriteAll(fd, data.data(), data.size()) && fsync(fd) == 0;
    if (!ok) *error = ErrorText(errno);
    if (close(fd) != 0 && ok) {
        *error = ErrorText(errno);
        ok = false;
    }
    return ok;
}

bool ReadWholeFile(const std::string& path, size_t limit, std::string* bytes, std::string* error)
{
    bytes->clear();
    int fd = open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = ErrorText(errno);
        return false;
    }
    struct stat info;
    bool ok = fstat(fd, &info) == 0;
    if (!ok) {
        *error = ErrorText(errno);
    } else if (!S_ISREG(info.st_mode)) {
        *error = "not a regular file";
        ok = false;
    }
    char buffer[65536];
    while (ok) {
        ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            *error = ErrorText(errno);
            ok = false;
        } else if (got == 0) {
            break;
        } else if (bytes->size() + static_cast<size_t>(got) > limit) {
            *error = "larger than " + std::to_string(limit) + " bytes";
            ok = false;
        } else {
            bytes->append(buffer, static_cast<size_t>(got));
        }
    }
    close(fd);
    return ok;
}

bool RegularFileSize(const std::string& path, unsigned long long* size)
{
    struct stat info;
    if (lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    *size = static_cast<unsigned long long>(info.st_size);
    return true;
}

bool MakeScratchFolder(std::string* path, std::string* error)
{
    const char* temp = getenv("TMPDIR");
    std::string pattern = std::string(temp != nullptr && *temp != '\0' ? temp : "/tmp") + "/qelpack-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        *error = ErrorText(errno);
        return false;
    }
    *path = pattern;
    return true;
}
