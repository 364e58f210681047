// Reads a release manifest as qelpack writes it (UTF-16LE with a byte-order mark) and applies
// every rule qelfetch applies to it, the download address included.
#pragma once
#include <string>

#include "tools/qelpack/manifest_writer.h"

// False with the rule broken in error.
bool ReadManifestBytes(const std::string& bytes, ManifestContent* content, std::string* error);
