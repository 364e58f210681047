// The command line both packers share.
#pragma once
#include <string>
#include <vector>

#include "tools/qelpack/pack.h"

// The one-line usage text.
extern const char UsageText[];

// Reads `pack SOURCE_DIR OUT_DIR [--url URL] [--mirror BASE]... [--part-size BYTES] [--force]`
// (args without the program name).
// 0 with request filled, or PackRefused with a one-line message.
int ParsePackArguments(const std::vector<std::string>& args, PackRequest* request, std::string* message);
