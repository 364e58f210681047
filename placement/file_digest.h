// Whether a file's bytes are the ones a record or a manifest describes.
#pragma once
#include <windows.h>

// Reads the open file from its start (the handle needs FILE_READ_DATA) and compares its size and
// SHA-256 with size and digest. 1 when both match; 0 when they differ or it cannot be read.
int MatchesDigest(HANDLE file, ULONGLONG size, const BYTE* digest);
