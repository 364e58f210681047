// The state of a skinned page, the noise textures it paints with, and how descendants find it.
#pragma once
#include <windows.h>

#include "skinning/gdi.h"

// A 32 x 32 noise tile (32-bit top-down DIB section) and the pattern brush made from it. The
// two are created together and released together, brush first: the bitmap outlives the brush.
// Movable, not copyable; an empty NoiseBrush holds two null handles.
struct NoiseBrush {
    UniqueBitmap bitmap;
    UniqueBrush brush;

    NoiseBrush() = default;
    NoiseBrush(const NoiseBrush&) = delete;
    NoiseBrush& operator=(const NoiseBrush&) = delete;
    NoiseBrush(NoiseBrush&& other);
    NoiseBrush& operator=(NoiseBrush&& other);
    ~NoiseBrush();
};

// One record per skinned page: the reference data of the page's subclass (PageSubclassProc,
// id 1). Allocated zero-filled with LocalAlloc by StylePage, freed by DestroyPageSkin when the
// page receives WM_NCDESTROY. Every GDI object in it belongs to it; the host's bitmap does not.
struct PageSkin {
    COLORREF baseColor;
    COLORREF bandColor;
    int bandWidth;        // dialog units
    int pictureLeft;      // picture box, dialog units
    int pictureTop;
    int pictureWidth;
    int pictureHeight;
    int pictureStrength;  // 0..255; 0 hides the picture
    UniqueMemoryDc pictureDC;  // holds picture selected
    UniqueBitmap picture;      // the skin's own 8-bit DIB-section copy of the host's bitmap
    HGDIOBJ previousBitmap;    // what pictureDC held before picture was selected
    BITMAP pictureInfo;
    RGBQUAD sourceColors[256];  // the picture's colour table as copied; entry 255 is the accent
    NoiseBrush pageNoise;       // baseColor towards bandColor
    NoiseBrush bandNoise;       // bandColor towards the picture colour
    NoiseBrush cardPageNoise;   // BlendColor(baseColor, bandColor, 18) towards bandColor
    BOOL cardShown;
    int cardRadius;             // 96-DPI pixels
    HWND promptWindows[5];      // text 1, text 2, text 3, button 1, button 2
    RECT cardRect;              // page client pixels
};

// step/255 of the way from first to second, channel by channel (top bytes ignored, result's 0).
COLORREF BlendColor(COLORREF first, COLORREF second, int step);

// Fills out (which should be empty) with a noise tile from first towards second: 1, or 0 with out
// left empty.
int CreateNoiseBrush(NoiseBrush* out, COLORREF first, COLORREF second);

// Deletes the brush, then the bitmap, and leaves both null. Safe on an empty NoiseBrush.
void DeleteNoiseBrush(NoiseBrush* noise);

// Releases every GDI object of a complete or partly built record, then the record itself.
void DestroyPageSkin(PageSkin* skin);

// Owner of a record that is not attached to a page yet.
struct PageSkinTraits {
    using Type = PageSkin*;
    static Type None() { return nullptr; }
    static void Close(Type skin) { DestroyPageSkin(skin); }
};
using UniquePageSkin = Unique<PageSkinTraits>;

LRESULT CALLBACK PageSubclassProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam,
                                  UINT_PTR id, DWORD_PTR data);

// The skin of a window styled by StylePage, or null.
PageSkin* SkinOfPage(HWND page);

// The nearest ancestor of window (never window itself) that is a skinned page, with its skin
// stored through skin; null when there is none.
HWND FindSkinnedPage(HWND window, PageSkin** skin);
