// SHA-256 through the platform's provider: CNG (bcrypt) on Windows, GLib's GChecksum on Linux.
#pragma once
#include <cstddef>
#include <memory>
#include <string>

class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    bool Ready() const;
    bool Update(const void* data, size_t size);
    // The digest as 64 lowercase hexadecimal characters; empty when hashing failed.
    std::string Finish();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The digest and length of a whole file; false when it cannot be read.
bool FileSha256(const std::string& path, std::string* hex, unsigned long long* size);
