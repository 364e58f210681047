// Test-bed tool: shows a band picture file the way the installer does and writes what was
// painted, for the band picture test.
//   bandview.exe PICTURE.bmp OUT.txt OUT.bmp
// Loads PICTURE with LoadImageW (LR_LOADFROMFILE | LR_CREATEDIBSECTION) as qel.nsh does, skins a
// 300 x 200 page with StylePage in the include's default colours (band 60 dialog units, picture
// box 4, 10, 40 x 40 units, strength 255), paints it with WM_PRINTCLIENT into a 32-bit DIB and
// writes OUT.bmp (that picture, 32 bits, top-down) and OUT.txt ("box LEFT TOP WIDTH HEIGHT" and
// "band RIGHT" in pixels). Exit 0 when the page was painted, 3 when the file did not load, 4 when
// StylePage refused it, 2 for bad arguments.
#include <windows.h>

#include <cstdio>

#include "skinning/style.h"
#include "support/skin_windows.h"

using namespace skintest;

namespace {

constexpr COLORREF kBase = 0x00EEF2F4, kBand = 0x006B3B24, kPicture = 0x0070C0E8;

bool WriteScreenshot(const wchar_t* path, const Canvas& canvas)
{
    std::vector<uint32_t> pixels = canvas.Pixels();
    BITMAPFILEHEADER file = {};
    BITMAPINFOHEADER info = {sizeof info, canvas.Width(), -canvas.Height(), 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    const DWORD bytes = static_cast<DWORD>(pixels.size() * 4);
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + bytes;
    FILE* out = _wfopen(path, L"wb");
    if (out == nullptr) return false;
    bool ok = fwrite(&file, sizeof file, 1, out) == 1 && fwrite(&info, sizeof info, 1, out) == 1 &&
              fwrite(pixels.data(), 1, bytes, out) == bytes;
    return fclose(out) == 0 && ok;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 4) return 2;
    HBITMAP picture = static_cast<HBITMAP>(LoadImageW(nullptr, argv[1], IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION));
    if (picture == nullptr) return 3;
    HWND page = CreateDialogFromTemplate(nullptr, WS_POPUP, 100, 100, {});
    Place(page, 0, 0, 300, 200);
    int code = 0;
    if (!StylePage(page, picture, kBase, kBand, kPicture, 60, 4, 10, 40, 40, 255)) {
        code = 4;
    } else {
        Canvas canvas(300, 200);
        Paint(page, canvas);
        RECT box = DialogToPixels(page, {4, 10, 40, 40});
        RECT band = DialogToPixels(page, {60, 0, 0, 0});
        FILE* text = _wfopen(argv[2], L"w");
        if (text == nullptr || !WriteScreenshot(argv[3], canvas)) {
            code = 1;
        } else {
            std::fprintf(text, "box %ld %ld %ld %ld\nband %ld\n", box.left, box.top, box.right, box.bottom, band.left);
        }
        if (text != nullptr) std::fclose(text);
    }
    DestroyWindow(page);
    DeleteObject(picture);
    return code;
}
