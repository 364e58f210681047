// The pack options of a release in parts: --mirror BASE/ (repeatable) and --part-size BYTES.
#pragma once
#include <string>

#include "tools/qelpack/pack.h"

// Takes one of the two options with its value into request. 0, or PackRefused with a one-line
// message (a --part-size given twice or out of range; a --mirror is checked with --url later).
int ParsePartOption(const std::string& option, const std::string& value, PackRequest* request, std::string* message);
