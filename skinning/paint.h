// Painting of a skinned page: background textures, left band, picture, waves, prompt card.
#pragma once
#include <windows.h>

#include "skinning/page_skin.h"

// Paints the page's whole client area into dc in page client coordinates; the DC comes back
// with its state unchanged.
void PaintPage(HWND page, HDC dc, const PageSkin* skin);

// Fills the three wave layers at the foot of client, from left to the client's right edge.
// Leaves the DC brush and the null pen selected.
void PaintWaves(HDC dc, const RECT* client, int left, COLORREF base, COLORREF accent);

// The prompt card's shadow and face at the skin's cardRect.
void PaintPromptCard(HWND page, HDC dc, const PageSkin* skin);

// Paints the part of the skinned page behind window's client area into dc, which draws in
// window's client coordinates. 1, or 0 (nothing touched) when window has no skinned ancestor.
int PaintPageBehind(HWND window, HDC dc);
