// `qelpack check` (Linux): checks a release without Wine: the manifest's rules, the package's
// size and digest, and every cabinet member against its entry; for a release in parts, every part.
#pragma once
#include <string>

// 0 when everything matches; 1 otherwise, with a one-line message either way.
int CheckRelease(const std::string& manifest, const std::string& package, std::string* message);

// Checks a release through its index (release.ini): the index and the manifests of all parts
// together (OpenRelease), then every part's package as CheckRelease does. 0 or 1, with one line.
int CheckIndex(const std::string& index, std::string* message);
