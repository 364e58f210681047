// Owner types for the GDI objects, DCs and records that the skinning code holds.
#pragma once
#include <windows.h>

#include "runtime/owner.h"

// Brushes, pens, bitmaps, fonts, regions: DeleteObject.
template <typename T>
struct GdiObjectTraits {
    using Type = T;
    static Type None() { return nullptr; }
    static void Close(Type h) { DeleteObject(h); }
};
using UniqueBrush = Unique<GdiObjectTraits<HBRUSH>>;
using UniquePen = Unique<GdiObjectTraits<HPEN>>;
using UniqueBitmap = Unique<GdiObjectTraits<HBITMAP>>;
using UniqueFont = Unique<GdiObjectTraits<HFONT>>;
using UniqueRegion = Unique<GdiObjectTraits<HRGN>>;

// Memory DCs: DeleteDC.
struct MemoryDcTraits {
    using Type = HDC;
    static Type None() { return nullptr; }
    static void Close(Type h) { DeleteDC(h); }
};
using UniqueMemoryDc = Unique<MemoryDcTraits>;

// Records from LocalAlloc: LocalFree.
struct LocalBlockTraits {
    using Type = void*;
    static Type None() { return nullptr; }
    static void Close(Type p) { LocalFree(p); }
};
using UniqueLocal = Unique<LocalBlockTraits>;

// A window's DC from GetDC or GetWindowDC, released with its window.
class WindowDc {
public:
    WindowDc(HWND window, HDC dc) : window_(window), dc_(dc) {}
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    ~WindowDc() { if (dc_ != nullptr) ReleaseDC(window_, dc_); }
    HDC Get() const { return dc_; }
    explicit operator bool() const { return dc_ != nullptr; }

private:
    HWND window_;
    HDC dc_;
};

// SaveDC on construction, RestoreDC on scope exit: brackets every change a paint makes to a DC.
class SavedDc {
public:
    explicit SavedDc(HDC dc) : dc_(dc), saved_(SaveDC(dc)) {}
    SavedDc(const SavedDc&) = delete;
    SavedDc& operator=(const SavedDc&) = delete;
    ~SavedDc() { if (saved_ != 0) RestoreDC(dc_, saved_); }

private:
    HDC dc_;
    int saved_;
};

// Selects an object into a DC and selects the previous one back on scope exit. Declare the
// owned object before the guard, so that it is deselected before it is deleted.
class Selection {
public:
    Selection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;
    ~Selection() { if (Selected()) SelectObject(dc_, previous_); }
    bool Selected() const { return previous_ != nullptr && previous_ != HGDI_ERROR; }

private:
    HDC dc_;
    HGDIOBJ previous_;
};
