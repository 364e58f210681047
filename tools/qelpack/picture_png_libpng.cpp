// PNG on Linux: libpng's simplified reader, which turns every colour type and depth (palette,
// grey, 16 bits, transparency chunks, interlacing) into 8-bit RGBA.
#include <png.h>

#include "tools/qelpack/picture_image.h"

namespace {

// Frees libpng's state on every path; after a finished read there is nothing left to free.
struct PngReader {
    png_image image{};
    PngReader() { image.version = PNG_IMAGE_VERSION; }
    ~PngReader() { png_image_free(&image); }
    PngReader(const PngReader&) = delete;
    PngReader& operator=(const PngReader&) = delete;
};

}  // namespace

bool DecodePng(const std::string& bytes, RgbaImage* image, std::string* why)
{
    PngReader reader;
    if (!png_image_begin_read_from_memory(&reader.image, bytes.data(), bytes.size())) {
        *why = std::string("the PNG data is damaged (") + reader.image.message + ")";
        return false;
    }
    std::string rule = PictureSizeRule(reader.image.width, reader.image.height);
    if (!rule.empty()) {
        *why = rule;
        return false;
    }
    reader.image.format = PNG_FORMAT_RGBA;
    image->width = reader.image.width;
    image->height = reader.image.height;
    image->pixels.assign(size_t(image->width) * image->height * 4, 0);
    if (!png_image_finish_read(&reader.image, nullptr, image->pixels.data(), 0, nullptr)) {
        *why = std::string("the PNG data is damaged (") + reader.image.message + ")";
        image->pixels.clear();
        return false;
    }
    return true;
}
