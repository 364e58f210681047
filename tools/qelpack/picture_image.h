// A decoded picture, the common ground of the PNG and BMP readers and the band picture maker.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Rows from the top, 4 bytes per pixel: red, green, blue, alpha (not premultiplied).
struct RgbaImage {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> pixels;
};

// What the readers accept: each side at most this many pixels, and at most kMaxPicturePixels in
// all (a 4-byte pixel each), so that a file that claims a huge size is refused before anything
// is allocated for it.
constexpr uint32_t kMaxPictureSide = 16384;
constexpr uint64_t kMaxPicturePixels = 32ull * 1024 * 1024;
// The largest input file read at all.
constexpr uint64_t kMaxPictureFileBytes = 256ull * 1024 * 1024;

// "" when a width × height picture may be decoded, else the reason in a few words.
std::string PictureSizeRule(uint64_t width, uint64_t height);

// PNG (the platform's decoder: libpng on Linux, WIC on Windows). False with a short reason
// ("the PNG data is damaged: ...") when the bytes are not a PNG it can read.
bool DecodePng(const std::string& bytes, RgbaImage* image, std::string* why);

// BMP of any depth (1, 4, 8, 16, 24, 32 bits; uncompressed, RLE4, RLE8, bit fields; bottom-up
// and top-down), read by the packer itself, the same on both systems.
bool DecodeBmp(const std::string& bytes, RgbaImage* image, std::string* why);
