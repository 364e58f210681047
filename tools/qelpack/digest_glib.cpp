// SHA-256 with GLib's GChecksum.
#include "tools/qelpack/digest.h"

#include <fcntl.h>
#include <glib.h>
#include <unistd.h>

#include <cerrno>

struct Sha256::State {
    GChecksum* checksum = nullptr;
    ~State()
    {
        if (checksum != nullptr) g_checksum_free(checksum);
    }
};

Sha256::Sha256() : state_(new State) { state_->checksum = g_checksum_new(G_CHECKSUM_SHA256); }

Sha256::~Sha256() = default;

bool Sha256::Ready() const { return state_->checksum != nullptr; }

bool Sha256::Update(const void* data, size_t size)
{
    if (state_->checksum == nullptr) return false;
    g_checksum_update(state_->checksum, static_cast<const guchar*>(data), static_cast<gssize>(size));
    return true;
}

std::string Sha256::Finish()
{
    if (state_->checksum == nullptr) return {};
    return g_checksum_get_string(state_->checksum);  // lowercase hexadecimal
}

bool FileSha256(const std::string& path, std::string* hex, unsigned long long* size)
{
    int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    Sha256 digest;
    std::string buffer(1 << 16, '\0');
    unsigned long long total = 0;
    bool ok = digest.Ready();
    while (ok) {
        ssize_t got = read(fd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        total += static_cast<unsigned long long>(got);
        digest.Update(buffer.data(), static_cast<size_t>(got));
    }
    close(fd);
    if (!ok) return false;
    *hex = digest.Finish();
    *size = total;
    return !hex->empty();
}
