// Where a release's packages are downloaded from: --url, either the full address of a one-part
// release's package or a base ending in / to which each part's package name is added, and the
// --mirror bases listed in the release index as fallbacks. Every address is held to the rules
// qelfetch applies to a manifest's Url.
#pragma once
#include <string>
#include <vector>

#include "tools/qelpack/part_plan.h"

constexpr size_t MaxMirrors = 16;

// A base ends in / (the package's file name is added to it).
bool IsUrlBase(const std::string& url);

// Checks --url (when given) and every --mirror before anything is read: the rules of an
// address, mirrors that are bases, given once each, at most 16 of them, and only with --url.
// Empty, or the rule broken for a one-line message.
std::string BrokenUrlOptions(bool hasUrl, const std::string& url, const std::vector<std::string>& mirrors);

// The Url written into a part's manifest: base plus the package name, or the full url.
std::string PartUrl(const std::string& url, const std::string& package);

// Checks the addresses the parts get: a full --url only for a release of one part, and every
// base plus every package name within the length qelfetch allows. Empty, or the rule broken.
std::string BrokenPartUrls(bool hasUrl, const std::string& url, const std::vector<std::string>& mirrors,
                           const std::vector<PartPlan>& parts);
