// The rules a release must keep, shared by both packers and the release checks: which file
// names may travel to Windows and which download addresses qelfetch accepts.
#pragma once
#include <string>

// Empty when one path component (a file or folder name, UTF-8 bytes) is a name Windows stores
// and opens unchanged; otherwise the rule it breaks, for a message.
std::string BrokenNameRule(const std::string& name);

// Empty when url is a download address qelfetch accepts (https, a host and a path, no user
// name, password, query or fragment, at most 2047 UTF-16 units, no control character);
// otherwise the rule it breaks, in words that begin with option (the option that gave it).
std::string BrokenUrlRule(const std::string& url, const std::string& option = "--url");
