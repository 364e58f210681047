// Conversions between the packer's UTF-8 paths and the wide paths of the Windows API.
#pragma once
#include <string>

std::wstring WidePath(const std::string& path);
std::string NarrowPath(const std::wstring& path);
