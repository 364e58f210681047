// `qelpack verify`: checks a release offline by running a real delivery with qelfetch.dll.
#pragma once
#include <cstdio>
#include <string>

// Runs the delivery of package against manifest (its Url ignored) into a temporary work
// directory, showing progress on one line; the directory is gone afterwards. 0 when the
// delivery ended ready, 1 otherwise.
int VerifyRelease(const std::wstring& manifest, const std::wstring& package);

// Verifies a release through its index: the index and all parts' manifests together
// (OpenRelease), then a delivery of every part in order, as VerifyRelease does. 0 when every
// part ended ready, 1 otherwise.
int VerifyIndex(const std::wstring& index);
