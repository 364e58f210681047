// `qelpack pack`: turns a folder into application.cab and the manifest.ini that describes it.
#pragma once
#include <string>

struct PackRequest {
    std::wstring source;
    std::wstring out;
    std::wstring url;  // optional download address written into the manifest
    bool force = false;
};

constexpr int PackDone = 0;
constexpr int PackFailed = 1;   // an I/O or platform failure
constexpr int PackRefused = 2;  // the request breaks a rule; nothing was written

// Packs and returns one of the codes above, with a one-line message for the user.
int Pack(const PackRequest& request, std::string* message);

// The download address rules qelfetch applies: https, a host and a path, no user name,
// password, query or fragment, at most 2047 units.
bool IsAcceptedUrl(const std::wstring& url);
