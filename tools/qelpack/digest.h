// SHA-256 of a file, streamed through the platform's CNG provider.
#pragma once
#include <string>

// The digest as 64 lowercase hexadecimal characters; empty when the file cannot be read.
std::wstring FileSha256(const std::wstring& path);
