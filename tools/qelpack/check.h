// `qelpack check` (Linux): checks a release without Wine: the manifest's rules, the package's
// size and digest, and every cabinet member against its entry.
#pragma once
#include <string>

// 0 when everything matches; 1 otherwise, with a one-line message either way.
int CheckRelease(const std::string& manifest, const std::string& package, std::string* message);
