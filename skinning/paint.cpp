// Page painting. Every paint derives its geometry from the skin, the page's client size, the
// top-level dialog's units and the page's DPI; nothing is cached between paints.
#include "skinning/paint.h"

#include "skinning/radius.h"

namespace {

struct WavePoint {
    int x, y;
};

// Three layers of 13 points in a 206 x 30 design space (y = 30 is the page's bottom edge):
// point 1, then four cubic Bezier segments.
constexpr int kWavePoints = 13;
constexpr int kWaveWidth = 206;
constexpr int kWaveHeight = 30;
constexpr WavePoint kWaves[3][kWavePoints] = {
    {{0, 17}, {24, 16}, {25, 2}, {48, 7}, {70, 14}, {84, 0}, {106, 7}, {134, 17}, {151, 4},
     {172, 10}, {190, 15}, {199, 11}, {206, 17}},
    {{0, 23}, {22, 23}, {34, 9}, {58, 15}, {83, 23}, {97, 10}, {123, 18}, {147, 26}, {160, 13},
     {180, 18}, {195, 22}, {201, 18}, {206, 22}},
    {{0, 28}, {27, 23}, {43, 24}, {65, 27}, {88, 30}, {106, 21}, {131, 25}, {154, 29}, {164, 24},
     {185, 28}, {196, 30}, {204, 26}, {206, 28}},
};

COLORREF AccentColor(const PageSkin* skin)
{
    const RGBQUAD& entry = skin->sourceColors[255];
    return RGB(entry.rgbRed, entry.rgbGreen, entry.rgbBlue);
}

// The background colour the page's texture starts from.
COLORREF WaveBase(const PageSkin* skin)
{
    return skin->cardShown ? BlendColor(skin->baseColor, skin->bandColor, 18) : skin->baseColor;
}

void FillWith(HDC dc, const RECT* rect, const NoiseBrush& noise)
{
    if (noise.brush) FillRect(dc, rect, noise.brush.Get());
}

// Tiles start at device (0, 0): in the page's own DC that is the page's corner, and behind a
// descendant (PaintPageBehind) it is the descendant's client corner. The grain is a few
// 255ths of the colour distance, so a tile that starts there cannot be told from the page's.
void ResetBrushOrigin(HDC dc) { SetBrushOrgEx(dc, 0, 0, nullptr); }

// The picture, fitted into its box keeping its aspect ratio, centred, clipped to the band.
void PaintPicture(HDC dc, HWND root, const RECT& band, const PageSkin* skin)
{
    RECT box = {skin->pictureLeft, skin->pictureTop, skin->pictureWidth, skin->pictureHeight};
    if (!MapDialogRect(root, &box)) return;
    int w = box.right, h = box.bottom;
    int pictureWidth = skin->pictureInfo.bmWidth, pictureHeight = skin->pictureInfo.bmHeight;
    if (pictureWidth <= 0 || pictureHeight <= 0) return;

    SavedDc saved(dc);
    IntersectClipRect(dc, band.left, band.top, band.right, band.bottom);
    int dw = w;
    int dh = MulDiv(w, pictureHeight, pictureWidth);
    if (dh > h) {
        dh = h;
        dw = MulDiv(h, pictureWidth, pictureHeight);
    }
    int x = box.left + (w - dw) / 2;
    int y = box.top + (h - dh) / 2;
    RECT target = {x, y, x + dw, y + dh};
    RECT clip, meet;
    // The halftone stretch is costly: only when the picture is in the area being painted.
    if (GetClipBox(dc, &clip) == ERROR || !IntersectRect(&meet, &clip, &target)) return;
    SetStretchBltMode(dc, HALFTONE);
    ResetBrushOrigin(dc);
    StretchBlt(dc, x, y, dw, dh, skin->pictureDC.Get(), 0, 0, pictureWidth, pictureHeight, SRCCOPY);
}

}  // namespace

void PaintWaves(HDC dc, const RECT* client, int left, COLORREF base, COLORREF accent)
{
    int h = MulDiv(client->bottom, kWaveHeight, 148);
    int width = client->right - left;
    SelectObject(dc, GetStockObject(DC_BRUSH));
    SelectObject(dc, GetStockObject(NULL_PEN));
    for (int layer = 0; layer < 3; ++layer) {
        POINT points[kWavePoints];
        for (int i = 0; i < kWavePoints; ++i) {
            points[i].x = left + MulDiv(kWaves[layer][i].x, width, kWaveWidth);
            points[i].y = client->bottom - h + MulDiv(kWaves[layer][i].y, h, kWaveHeight);
        }
        SetDCBrushColor(dc, BlendColor(base, accent, 8 + 6 * layer));
        BeginPath(dc);
        MoveToEx(dc, left, client->bottom, nullptr);
        LineTo(dc, points[0].x, points[0].y);
        PolyBezierTo(dc, points + 1, kWavePoints - 1);
        LineTo(dc, client->right, client->bottom);
        CloseFigure(dc);
        EndPath(dc);
        FillPath(dc);
    }
}

void PaintPromptCard(HWND page, HDC dc, const PageSkin* skin)
{
    UINT dpi = GetDpiForWindow(page);
    int r = ScaledRadius(skin->cardRadius, dpi);
    int offset = MulDiv(2, dpi, 96);

    // Shadow: 12/255 further towards the band colour than the card-mode background, lower down.
    COLORREF shadow = BlendColor(BlendColor(skin->baseColor, skin->bandColor, 18), skin->bandColor, 12);
    SelectObject(dc, GetStockObject(DC_BRUSH));
    SelectObject(dc, GetStockObject(NULL_PEN));
    SetDCBrushColor(dc, shadow);
    RECT shadowRect = skin->cardRect;
    OffsetRect(&shadowRect, 0, offset);
    RoundRect(dc, shadowRect.left, shadowRect.top, shadowRect.right, shadowRect.bottom, 2 * r, 2 * r);

    // Face: the page's ordinary texture inside the rounded card. Regions are in device units.
    POINT corners[2] = {{skin->cardRect.left, skin->cardRect.top}, {skin->cardRect.right, skin->cardRect.bottom}};
    if (!LPtoDP(dc, corners, 2)) return;
    UniqueRegion region(CreateRoundRectRgn(corners[0].x, corners[0].y, corners[1].x + 1, corners[1].y + 1, 2 * r, 2 * r));
    if (!region) return;
    SavedDc saved(dc);
    ExtSelectClipRgn(dc, region.Get(), RGN_AND);
    FillWith(dc, &skin->cardRect, skin->pageNoise);
}

void PaintPage(HWND page, HDC dc, const PageSkin* skin)
{
    COLORREF waveBase = WaveBase(skin);
    COLORREF accent = AccentColor(skin);
    HWND root = GetAncestor(page, GA_ROOT);
    RECT client;
    if (!GetClientRect(page, &client)) return;

    SavedDc saved(dc);
    ResetBrushOrigin(dc);
    FillWith(dc, &client, skin->cardShown ? skin->cardPageNoise : skin->pageNoise);

    RECT band = {0, 0, skin->bandWidth, 0};
    if (!MapDialogRect(root, &band)) SetRectEmpty(&band);
    band.bottom = client.bottom;
    if (skin->bandWidth > 0) FillWith(dc, &band, skin->bandNoise);

    PaintWaves(dc, &client, band.right, waveBase, accent);
    if (skin->pictureStrength > 0) PaintPicture(dc, root, band, skin);
    if (skin->cardShown) PaintPromptCard(page, dc, skin);
}

int PaintPageBehind(HWND window, HDC dc)
{
    PageSkin* skin = nullptr;
    HWND page = FindSkinnedPage(window, &skin);
    if (page == nullptr) return 0;
    RECT client;
    GetClientRect(window, &client);
    POINT origin = {0, 0};
    MapWindowPoints(window, page, &origin, 1);

    SavedDc saved(dc);
    IntersectClipRect(dc, client.left, client.top, client.right, client.bottom);
    POINT viewport;
    GetViewportOrgEx(dc, &viewport);
    SetViewportOrgEx(dc, viewport.x - origin.x, viewport.y - origin.y, nullptr);
    PaintPage(page, dc, skin);
    return 1;
}
