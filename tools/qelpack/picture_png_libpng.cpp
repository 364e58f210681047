// PNG on Linux: libpng, with the transforms that turn every colour type and depth (palette,
// grey of 1 to 16 bits, transparency chunks, interlacing) into 8-bit RGBA. No gamma or colour
// space conversion is made (16-bit samples keep their high byte), as with the Windows
// Imaging Component's converter, so both packers make the same picture.
#include <png.h>

#include <csetjmp>
#include <cstring>

#include "tools/qelpack/picture_image.h"

namespace {

// Everything the libpng calls reach, kept behind one pointer: the function that calls setjmp
// changes none of its own locals after it, so a longjmp back into it loses nothing.
struct Context {
    png_structp png = nullptr;
    png_infop info = nullptr;
    const std::string* bytes = nullptr;
    size_t at = 0;
    char error[200] = {};
    std::string sizeRule;
    RgbaImage* image = nullptr;
    std::vector<png_bytep> rows;

    ~Context() { png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr); }
};

void ReadData(png_structp png, png_bytep out, size_t count)
{
    auto* c = static_cast<Context*>(png_get_io_ptr(png));
    if (count > c->bytes->size() - c->at) png_error(png, "the file ends early (truncated)");
    std::memcpy(out, c->bytes->data() + c->at, count);
    c->at += count;
}

void OnError(png_structp png, png_const_charp message)
{
    auto* c = static_cast<Context*>(png_get_error_ptr(png));
    std::strncpy(c->error, message, sizeof c->error - 1);
    png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

// 1 with the picture in c->image; 0 when libpng stopped with an error or the size is refused.
int Read(Context* c)
{
    if (setjmp(png_jmpbuf(c->png))) return 0;
    png_set_read_fn(c->png, c, ReadData);
    png_read_info(c->png, c->info);
    const png_uint_32 width = png_get_image_width(c->png, c->info), height = png_get_image_height(c->png, c->info);
    c->sizeRule = PictureSizeRule(width, height);
    if (!c->sizeRule.empty()) return 0;
    png_set_expand(c->png);
    png_set_strip_16(c->png);
    png_set_gray_to_rgb(c->png);
    png_set_add_alpha(c->png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(c->png);
    png_read_update_info(c->png, c->info);
    if (png_get_rowbytes(c->png, c->info) != size_t(width) * 4) png_error(c->png, "unexpected row layout");
    c->image->width = width;
    c->image->height = height;
    c->image->pixels.assign(size_t(width) * height * 4, 0);
    c->rows.resize(height);
    for (png_uint_32 y = 0; y < height; ++y) c->rows[y] = c->image->pixels.data() + size_t(y) * width * 4;
    png_read_image(c->png, c->rows.data());
    png_read_end(c->png, nullptr);
    return 1;
}

}  // namespace

bool DecodePng(const std::string& bytes, RgbaImage* image, std::string* why)
{
    Context c;
    c.bytes = &bytes;
    c.image = image;
    c.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &c, OnError, OnWarning);
    if (c.png != nullptr) c.info = png_create_info_struct(c.png);
    if (c.png == nullptr || c.info == nullptr) {
        *why = "libpng could not start (out of memory)";
        return false;
    }
    if (Read(&c)) return true;
    image->pixels.clear();
    *why = !c.sizeRule.empty() ? c.sizeRule : std::string("the PNG data is damaged (") + c.error + ")";
    return false;
}
