// `qelpack pack`: turns a folder into a release: one part (application.cab and the manifest.ini
// that describes it) or several, and the release.ini that lists them. One implementation for
// both packers; the file access, the digest and the cabinet writer are the platform's.
#pragma once
#include <string>
#include <vector>

#include "tools/qelpack/part_plan.h"

struct PackRequest {
    std::string source;  // UTF-8 paths
    std::string out;
    std::string url;       // download address of the package, or a base ending in / for every part's
    bool hasUrl = false;   // --url was given (an empty one is refused)
    std::vector<std::string> mirrors;  // --mirror bases, in the order given
    unsigned long long partSize = DefaultPartSize;  // --part-size
    bool hasPartSize = false;
    bool force = false;
};

constexpr int PackDone = 0;
constexpr int PackFailed = 1;   // an I/O or platform failure; nothing was written
constexpr int PackRefused = 2;  // the request breaks a rule; nothing was written

// Packs and returns one of the codes above, with a one-line message for the user.
int Pack(const PackRequest& request, std::string* message);
