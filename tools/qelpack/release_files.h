// The files a release consists of in OUT_DIR, and replacing one release by another. The names
// are the packer's own: release.ini, manifest.ini and application.cab, and the numbered
// manifest-N.ini and application-N.cab of a release in parts. A new release is written beside
// them as NAME.partial and moved in only when all of it is complete.
#pragma once
#include <string>
#include <vector>

// Whether name is one of the packer's release file names (on Windows in any letter case).
bool IsReleaseFileName(const std::string& name);

// The release files now in out, in the order they are taken away: the index first, then the
// manifests, then the packages. False with the reason when out cannot be read.
bool ListReleaseFiles(const std::string& out, std::vector<std::string>* names, std::string* error);

// Removes what an interrupted earlier run left in out: NAME.partial and NAME.old of every
// release file name.
void RemoveLeftovers(const std::string& out);

// Puts the new release (names, each written as NAME.partial) in place of the release now in
// out. Every old file is first renamed to NAME.old (the index first), then the new files are
// renamed in (the index last), and the old files are deleted; a reader therefore finds the old
// release or the new one, never a mixture, and an index only while all its parts are there. When
// a rename fails the renames made so far are undone and error says so.
bool SwapInRelease(const std::string& out, const std::vector<std::string>& names, std::string* error);
