// UTF-8 and UTF-16 conversions shared by both packers. Names are carried as UTF-8 everywhere
// inside the packer; the manifest and the name-length rule need UTF-16.
#pragma once
#include <string>

// Strict UTF-8 to UTF-16: false for any byte sequence that is not valid UTF-8 (overlong forms,
// surrogates and values above U+10FFFF included).
bool Utf8ToUtf16(const std::string& text, std::u16string* out);

// UTF-16 to UTF-8. An unpaired surrogate is kept as its three-byte form, which is not valid
// UTF-8, so the name rules refuse it like any other invalid name.
std::string Utf16ToUtf8(const std::u16string& text);

// UTF-16 of text already checked to be valid UTF-8 (names, Urls, digests, numbers), for the
// INI files the packer writes.
std::u16string IniValue(const std::string& text);
std::u16string IniValue(unsigned long long number);

// The bytes of an INI file as the packer writes them: UTF-16LE with a byte-order mark.
std::string Utf16LeFileBytes(const std::u16string& text);

// The text with every byte that is not printable ASCII or part of valid UTF-8 written as \xNN,
// for messages that must name a file whatever its name holds.
std::string Printable(const std::string& text);

// Letter case folded the way case-insensitive file systems compare names (ASCII, Latin-1,
// Latin Extended-A, Greek, Cyrillic), for finding names that would collide on Windows.
std::u16string FoldCase(const std::u16string& text);
