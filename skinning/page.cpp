// StylePage: turns a host dialog page into a skinned page, and the page's subclass procedure.
#include <windows.h>

#include <commctrl.h>

#include <new>

#include "skinning/contrast.h"
#include "skinning/module_hold.h"
#include "skinning/own_thread.h"
#include "skinning/page_skin.h"
#include "skinning/paint.h"
#include "skinning/style.h"

namespace {

constexpr UINT_PTR kSubclassId = 1;

// A new, empty record in zero-filled LocalAlloc memory (its members start out null or zero).
PageSkin* AllocatePageSkin()
{
    void* block = LocalAlloc(LPTR, sizeof(PageSkin));
    if (block == nullptr) return nullptr;
    return ::new (block) PageSkin();
}

// Whether the host's bitmap is an 8-bit DIB section with a full colour table. Checked on the
// host's bitmap itself: a copy made with CopyImage always has 256 entries (the missing ones
// zero-filled, so the accent colour would come out black), and a device-dependent bitmap has no
// colour table of its own at all.
bool IsFullPaletteDib(HBITMAP bitmap)
{
    DIBSECTION dib;
    if (GetObjectW(bitmap, sizeof(DIBSECTION), &dib) != static_cast<int>(sizeof(DIBSECTION))) return false;
    if (dib.dsBm.bmBitsPixel != 8 || dib.dsBmih.biBitCount != 8) return false;
    return dib.dsBmih.biClrUsed == 0 || dib.dsBmih.biClrUsed == 256;
}

// Copies the host's bitmap into the skin's own 8-bit DIB section, selected into a memory DC,
// and attaches the record to the page. Returns the attached record or null (nothing attached).
PageSkin* CreatePageSkin(HWND page, HBITMAP bitmap)
{
    if (!IsFullPaletteDib(bitmap)) return nullptr;
    UniquePageSkin skin(AllocatePageSkin());
    if (!skin) return nullptr;
    PageSkin* s = skin.Get();
    s->picture.Reset(static_cast<HBITMAP>(CopyImage(bitmap, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
    s->pictureDC.Reset(CreateCompatibleDC(nullptr));
    if (!s->picture || !s->pictureDC) return nullptr;
    s->previousBitmap = SelectObject(s->pictureDC.Get(), s->picture.Get());
    if (s->previousBitmap == nullptr || s->previousBitmap == HGDI_ERROR) {
        s->previousBitmap = nullptr;
        return nullptr;
    }
    if (GetObjectW(s->picture.Get(), sizeof(BITMAP), &s->pictureInfo) != sizeof(BITMAP)) return nullptr;
    if (s->pictureInfo.bmBitsPixel != 8) return nullptr;
    if (GetDIBColorTable(s->pictureDC.Get(), 0, 256, s->sourceColors) != 256) return nullptr;
    if (!InstallSubclass(page, PageSubclassProc, reinterpret_cast<DWORD_PTR>(s))) return nullptr;
    return skin.Release();
}

// The colour table that maps picture index i to i/255 of the ramp's reach.
void BuildPictureRamp(RGBQUAD* table, COLORREF bandColor, COLORREF pictureColor, int strength)
{
    for (int i = 0; i < 256; ++i) {
        COLORREF colour = BlendColor(bandColor, pictureColor, strength * i / 255);
        table[i].rgbBlue = GetBValue(colour);
        table[i].rgbGreen = GetGValue(colour);
        table[i].rgbRed = GetRValue(colour);
        table[i].rgbReserved = 0;
    }
}

// WM_CTLCOLORSTATIC: the band texture for a static that lies within the band, the page texture
// for any other, with the brush origin moved so the texture lines up with the page behind.
LRESULT StaticBrush(HWND page, HDC dc, HWND control, const PageSkin* skin)
{
    RECT rect;
    if (!GetWindowRect(control, &rect)) return reinterpret_cast<LRESULT>(skin->pageNoise.brush.Get());
    MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&rect), 2);
    RECT band = {0, 0, skin->bandWidth, 0};
    if (!MapDialogRect(GetAncestor(page, GA_ROOT), &band)) SetRectEmpty(&band);
    SetBkMode(dc, TRANSPARENT);
    SetBrushOrgEx(dc, -rect.left, -rect.top, nullptr);
    const NoiseBrush& noise = rect.right <= band.right ? skin->bandNoise : skin->pageNoise;
    return reinterpret_cast<LRESULT>(noise.brush.Get());
}

}  // namespace

void DestroyPageSkin(PageSkin* skin)
{
    if (skin == nullptr) return;
    DeleteNoiseBrush(&skin->pageNoise);
    DeleteNoiseBrush(&skin->bandNoise);
    DeleteNoiseBrush(&skin->cardPageNoise);
    if (skin->pictureDC) {
        // The picture goes back out of the DC before either is deleted.
        if (skin->previousBitmap != nullptr) SelectObject(skin->pictureDC.Get(), skin->previousBitmap);
        skin->pictureDC.Reset();
    }
    skin->picture.Reset();
    skin->~PageSkin();
    LocalFree(skin);
}

PageSkin* SkinOfPage(HWND page)
{
    DWORD_PTR data = 0;
    if (!GetWindowSubclass(page, PageSubclassProc, kSubclassId, &data)) return nullptr;
    return reinterpret_cast<PageSkin*>(data);
}

HWND FindSkinnedPage(HWND window, PageSkin** skin)
{
    for (HWND ancestor = GetParent(window); ancestor != nullptr; ancestor = GetParent(ancestor)) {
        PageSkin* found = SkinOfPage(ancestor);
        if (found != nullptr) {
            *skin = found;
            return ancestor;
        }
    }
    return nullptr;
}

LRESULT CALLBACK PageSubclassProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam,
                                  UINT_PTR id, DWORD_PTR data)
{
    SubclassCall call;
    PageSkin* skin = reinterpret_cast<PageSkin*>(data);
    if (IsContrastChange(message, wParam)) RepaintForContrast(page);
    // Under high contrast the page is the host's again: its own background, its statics'
    // colours, the system's look.
    const bool painting = message == WM_PAINT || message == WM_ERASEBKGND || message == WM_PRINTCLIENT ||
                          message == WM_CTLCOLORSTATIC;
    if (painting && HighContrastOn()) return DefSubclassProc(page, message, wParam, lParam);
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(page, &paint);
        if (dc != nullptr) {
            PaintPage(page, dc, skin);
            EndPaint(page, &paint);
        }
        return 0;
    }
    case WM_ERASEBKGND:
    case WM_PRINTCLIENT: {
        PaintPage(page, reinterpret_cast<HDC>(wParam), skin);
        return 1;
    }
    case WM_CTLCOLORSTATIC: {
        DefSubclassProc(page, message, wParam, lParam);
        return StaticBrush(page, reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam), skin);
    }
    case WM_NCDESTROY: {
        RemoveWindowSubclass(page, PageSubclassProc, id);
        DestroyPageSkin(skin);
        return FinishSubclass(page, message, wParam, lParam);
    }
    default:
        return DefSubclassProc(page, message, wParam, lParam);
    }
}

extern "C" int WINAPI StylePage(HWND page, HBITMAP bitmap, COLORREF baseColor, COLORREF bandColor,
                                COLORREF pictureColor, int bandWidth, int pictureLeft, int pictureTop,
                                int pictureWidth, int pictureHeight, int pictureStrength)
{
    if (!OnThisThread(page) || bitmap == nullptr || bandWidth < 1 || pictureWidth < 1 ||
        pictureHeight < 1 || static_cast<unsigned>(pictureStrength) > 255) {
        return 0;
    }

    // Children are painted by themselves, never over by the page's background.
    SetLastError(0);
    LONG style = GetWindowLongW(page, GWL_STYLE);
    if (SetWindowLongW(page, GWL_STYLE, style | WS_CLIPCHILDREN) == 0 && GetLastError() != 0) return 0;

    PageSkin* skin = SkinOfPage(page);
    if (skin == nullptr) {
        skin = CreatePageSkin(page, bitmap);
        if (skin == nullptr) return 0;
    }

    NoiseBrush pageNoise, bandNoise, cardPageNoise;
    if (!CreateNoiseBrush(&pageNoise, baseColor, bandColor) ||
        !CreateNoiseBrush(&bandNoise, bandColor, pictureColor) ||
        !CreateNoiseBrush(&cardPageNoise, BlendColor(baseColor, bandColor, 18), bandColor)) {
        return 0;
    }
    RGBQUAD ramp[256];
    BuildPictureRamp(ramp, bandColor, pictureColor, pictureStrength);
    if (SetDIBColorTable(skin->pictureDC.Get(), 0, 256, ramp) != 256) return 0;

    skin->pageNoise = static_cast<NoiseBrush&&>(pageNoise);
    skin->bandNoise = static_cast<NoiseBrush&&>(bandNoise);
    skin->cardPageNoise = static_cast<NoiseBrush&&>(cardPageNoise);
    skin->baseColor = baseColor;
    skin->bandColor = bandColor;
    skin->bandWidth = bandWidth;
    skin->pictureLeft = pictureLeft;
    skin->pictureTop = pictureTop;
    skin->pictureWidth = pictureWidth;
    skin->pictureHeight = pictureHeight;
    skin->pictureStrength = pictureStrength;

    InvalidateRect(page, nullptr, TRUE);
    return 1;
}
