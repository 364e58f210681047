// Reading a picture and writing a band picture: the one part of `qelpack picture` that differs
// between Windows and Linux. Paths are UTF-8.
#pragma once
#include <cstdint>
#include <string>

// The whole of a regular file (a link to one is followed) of at most limit bytes. False with
// the reason when it is missing, not a regular file (a folder, a device, a FIFO), larger than
// limit, or cannot be read to its end.
bool ReadPictureFile(const std::string& path, uint64_t limit, std::string* data, std::string* why);

// Puts data at path: written to path.partial, flushed, then renamed over path, so path is
// either the old file or the whole new one. Refused (false with the reason, nothing written)
// when something other than a regular file is at path: a folder, a link, a device.
bool ReplaceWithFile(const std::string& path, const std::string& data, std::string* why);
