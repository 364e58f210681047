// Opens a release through its index: reads every part's manifest beside the index and applies
// the rules between them, so that `check` and `verify` refuse a broken index before any package
// is read.
#pragma once
#include <string>
#include <vector>

#include "tools/qelpack/manifest_writer.h"
#include "tools/qelpack/release_index.h"

struct ReleasePart {
    IndexPart listed;          // what the index says
    std::string manifestPath;  // the part's files, beside the index
    std::string packagePath;
    ManifestContent manifest;  // what its manifest says
};

// Reads the index at path and every part's manifest. Checks that each part's files exist, that
// the index agrees with each manifest (Count, package Size and Sha256, UnpackedSize), that the
// parts' Urls are one base plus each package's name (or all empty; a one-part release may name
// any Url), that mirrors come with Urls and stay within qelfetch's length, and that no Name is
// given twice or is both a file and a folder anywhere in the release (letter case ignored, as
// Windows does). True with parts filled; false with a one-line reason.
bool OpenRelease(const std::string& path, ReleaseIndex* index, std::vector<ReleasePart>* parts, std::string* error);
