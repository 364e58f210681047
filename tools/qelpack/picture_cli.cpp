#include "tools/qelpack/picture.h"

#include <cstring>

#include "tools/qelpack/pack.h"
#include "tools/qelpack/picture_band.h"
#include "tools/qelpack/picture_file.h"
#include "tools/qelpack/picture_image.h"
#include "tools/qelpack/text.h"

namespace {

const char PictureUsage[] =
    "usage: qelpack picture IN OUT.bmp [--size N] [--accent 0x00BBGGRR] [--invert] | qelpack picture --check FILE.bmp";

// The default accent: the include's default band colour (QEL_COLOR_BAND).
constexpr uint32_t kDefaultAccent = 0x006B3B24;

struct PictureRequest {
    std::string in, out;
    uint32_t size = 0;  // 0: keep the picture's size
    bool hasAccent = false;
    uint32_t accent = kDefaultAccent;
    bool invert = false;
};

// A decimal number from 1 to most, digits only.
bool ParseSide(const std::string& text, uint32_t most, uint32_t* value)
{
    if (text.empty() || text.size() > 5) return false;
    uint32_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint32_t>(c - '0');
    }
    if (v < 1 || v > most) return false;
    *value = v;
    return true;
}

// A COLORREF as the include writes it: 0x and one to eight hexadecimal digits, top byte 0.
bool ParseColour(const std::string& text, uint32_t* value)
{
    if (text.size() < 3 || text.size() > 10 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return false;
    uint64_t v = 0;
    for (size_t i = 2; i < text.size(); ++i) {
        const char c = text[i];
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
        if (digit < 0) return false;
        v = v * 16 + static_cast<uint64_t>(digit);
    }
    if (v > 0x00FFFFFF) return false;
    *value = static_cast<uint32_t>(v);
    return true;
}

std::string Colour(uint32_t c)
{
    char text[16];
    snprintf(text, sizeof text, "0x%08X", c);
    return text;
}

bool EndsWithBmp(const std::string& path)
{
    if (path.size() < 4) return false;
    std::string tail = path.substr(path.size() - 4);
    for (char& c : tail) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    return tail == ".bmp";
}

uint32_t BigEndian(const std::string& b, size_t at)
{
    return uint32_t(static_cast<uint8_t>(b[at])) << 24 | uint32_t(static_cast<uint8_t>(b[at + 1])) << 16 |
           uint32_t(static_cast<uint8_t>(b[at + 2])) << 8 | static_cast<uint8_t>(b[at + 3]);
}

// The size rule applied to the width and height of a PNG's IHDR chunk, when it has one where
// the format puts it (the decoder refuses a file without).
std::string PngHeaderSizeRule(const std::string& b)
{
    if (b.size() < 24 || b.compare(12, 4, "IHDR") != 0) return {};
    return PictureSizeRule(BigEndian(b, 16), BigEndian(b, 20));
}

int Refuse(std::string* message, const std::string& text)
{
    *message = "refused: " + text;
    return PackRefused;
}

int ParsePicture(const std::vector<std::string>& args, PictureRequest* r, std::string* message)
{
    std::vector<std::string> files;
    bool hasSize = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--size" || a == "--accent") {
            if (i + 1 >= args.size()) return Refuse(message, a + " needs a value; " + PictureUsage);
            const std::string& value = args[++i];
            if (a == "--size") {
                if (hasSize) return Refuse(message, "--size is given twice");
                hasSize = true;
                if (!ParseSide(value, kMaxBandSide, &r->size)) {
                    return Refuse(message, "--size must be a number of pixels from 1 to " + std::to_string(kMaxBandSide) +
                                               ", not " + Printable(value));
                }
            } else {
                if (r->hasAccent) return Refuse(message, "--accent is given twice");
                r->hasAccent = true;
                if (!ParseColour(value, &r->accent)) {
                    return Refuse(message, "--accent must be a colour 0x00BBGGRR (as QEL_COLOR_BAND is written), not " +
                                               Printable(value));
                }
            }
        } else if (a == "--invert") {
            if (r->invert) return Refuse(message, "--invert is given twice");
            r->invert = true;
        } else if (a.size() > 1 && a[0] == '-') {
            return Refuse(message, "unknown option " + Printable(a) + "; " + PictureUsage);
        } else {
            files.push_back(a);
        }
    }
    if (files.size() != 2 || files[0].empty() || files[1].empty()) {
        *message = PictureUsage;
        return PackRefused;
    }
    r->in = files[0];
    r->out = files[1];
    if (!EndsWithBmp(r->out)) return Refuse(message, "OUT " + Printable(r->out) + " must end in .bmp");
    return 0;
}

int CheckPicture(const std::string& path, std::string* message)
{
    std::string bytes, why;
    // A little over the largest band picture, so that a larger file is named as such.
    if (!ReadPictureFile(path, 64ull * 1024 * 1024, &bytes, &why)) {
        *message = "cannot read " + Printable(path) + ": " + why;
        return PackFailed;
    }
    uint32_t width = 0, height = 0, accent = 0;
    std::string rule = BandPictureRule(bytes, &width, &height, &accent);
    if (!rule.empty()) return Refuse(message, Printable(path) + " is not a band picture: " + rule);
    *message = Printable(path) + ": a band picture of " + std::to_string(width) + " x " + std::to_string(height) +
               " pixels, accent " + Colour(accent);
    return 0;
}

}  // namespace

int RunPicture(const std::vector<std::string>& args, std::string* message)
{
    if (args.size() >= 2 && args[1] == "--check") {
        if (args.size() != 3) {
            *message = PictureUsage;
            return PackRefused;
        }
        return CheckPicture(args[2], message);
    }
    PictureRequest r;
    if (int code = ParsePicture(args, &r, message); code != 0) return code;

    std::string bytes, why;
    if (!ReadPictureFile(r.in, kMaxPictureFileBytes, &bytes, &why)) {
        *message = "cannot read " + Printable(r.in) + ": " + why;
        return PackFailed;
    }
    RgbaImage image;
    bool decoded;
    if (bytes.size() >= 8 && std::memcmp(bytes.data(), "\x89PNG\r\n\x1a\n", 8) == 0) {
        // The size in the header is judged before a decoder sees the file: some allocate the
        // whole picture first.
        if (std::string rule = PngHeaderSizeRule(bytes); !rule.empty()) return Refuse(message, Printable(r.in) + ": " + rule);
        decoded = DecodePng(bytes, &image, &why);
    } else if (bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M') {
        decoded = DecodeBmp(bytes, &image, &why);
    } else {
        return Refuse(message, Printable(r.in) + " is neither a PNG nor a BMP picture");
    }
    if (!decoded) return Refuse(message, Printable(r.in) + ": " + why);
    bytes.clear();
    bytes.shrink_to_fit();

    BandPlane plane = BandIndices(image, r.invert);
    image = RgbaImage();
    if (r.size != 0) {
        plane = FitInto(plane, r.size);
    } else if (plane.width > kMaxBandSide || plane.height > kMaxBandSide) {
        return Refuse(message, Printable(r.in) + " is " + std::to_string(plane.width) + " x " +
                                   std::to_string(plane.height) + " pixels; a band picture is at most " +
                                   std::to_string(kMaxBandSide) + " a side (give --size N)");
    }
    const std::string bmp = EncodeBandBmp(plane, r.accent);
    // What is written is what the installer's check accepts; anything else would be a fault here.
    uint32_t width = 0, height = 0, accent = 0;
    if (std::string rule = BandPictureRule(bmp, &width, &height, &accent); !rule.empty() || accent != r.accent) {
        *message = "internal error: the band picture made does not pass its own check (" + rule + ")";
        return PackFailed;
    }
    if (!ReplaceWithFile(r.out, bmp, &why)) {
        *message = "cannot write " + Printable(r.out) + ": " + why;
        return PackFailed;
    }
    *message = "wrote " + Printable(r.out) + ": a band picture of " + std::to_string(width) + " x " +
               std::to_string(height) + " pixels, accent " + Colour(accent);
    return 0;
}
