// Symbolic links for tests under Wine. Wine has no way to make a link from Windows code
// (CreateSymbolicLinkW is a stub there), but it runs Unix programs: /bin/ln makes one, which
// Wine reports as a folder that is a reparse point when it points at a folder.
#pragma once
#include <string>

// The Unix path of a Windows path, or empty when not running under Wine.
std::string UnixPath(const std::wstring& path);

// Runs a Unix program under Wine and waits until path has (or no longer has) attributes:
// Wine's handle of a Unix process does not tell when it ends. false when it cannot be run or
// the path did not change within five seconds.
bool RunUnix(const wchar_t* program, const std::string& arguments, const std::wstring& path, bool appears);

// link -> target (both Windows paths); false when no link was made.
bool MakeLink(const std::wstring& target, const std::wstring& link);
// Removes the link itself (Wine removes such a link neither as a folder nor as a file).
bool RemoveLink(const std::wstring& link);
