#include "benchmarks/paint_bench.h"

#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <functional>

#include "skinning/style.h"
#include "support/skin_windows.h"

namespace {

using namespace skintest;

constexpr int PageW = 500, PageH = 400;
constexpr int ButtonW = 100, ButtonH = 30;
constexpr COLORREF Base = RGB(0xF4, 0xF0, 0xE8), Band = RGB(0x20, 0x40, 0x80), Picture = RGB(0xE0, 0x90, 0x30);

// Band 80 dialog units wide (120 px at 96 DPI), the picture box inside it; one button in the
// page's lower right, far from the band, and one across the picture.
struct Bed {
    HWND page = nullptr, away = nullptr, across = nullptr;
    HBITMAP bitmap = nullptr;
    HBRUSH solid = CreateSolidBrush(RGB(0x40, 0x80, 0xC0));

    bool Make()
    {
        page = CreateDialogFromTemplate(nullptr, WS_POPUP | WS_VISIBLE, 340, 250,
                                        {{L"BUTTON", L"下一步", BS_PUSHBUTTON | WS_TABSTOP, 0, 0, 40, 14, 1},
                                         {L"BUTTON", L"取消", BS_PUSHBUTTON | WS_TABSTOP, 0, 20, 40, 14, 2}});
        if (page == nullptr) return false;
        Place(page, 0, 0, PageW, PageH);
        away = GetDlgItem(page, 1);
        across = GetDlgItem(page, 2);
        Place(away, 370, 350, ButtonW, ButtonH);
        Place(across, 10, 160, ButtonW, ButtonH);
        std::vector<COLORREF> ramp(256);
        for (int i = 0; i < 256; ++i) ramp[i] = RGB(i, i, i);
        bitmap = MakeIndexedBitmap(600, 720, 128, ramp);
        return bitmap != nullptr && Skin(255) && Button(away) && Button(across);
    }
    bool Skin(int strength)
    {
        return StylePage(page, bitmap, Base, Band, Picture, 80, 4, 10, 72, 200, strength) == 1;
    }
    bool Button(HWND button)
    {
        return StyleButton(button, RGB(0x20, 0x60, 0xC0), RGB(0x10, 0x40, 0x90), RGB(0xFF, 0xFF, 0xFF),
                           RGB(0xA0, 0xA0, 0xA0), RGB(0xC0, 0x10, 0x10), RGB(0x40, 0x40, 0x40),
                           RGB(0x00, 0xE0, 0x20), 0, 6) == 1;
    }
    ~Bed()
    {
        if (page != nullptr) DestroyWindow(page);
        if (bitmap != nullptr) DeleteObject(bitmap);
        DeleteObject(solid);
    }
};

// The custom-draw notification a push button sends its parent before it paints.
void DrawButton(HWND button, HDC dc)
{
    NMCUSTOMDRAW draw = {};
    draw.hdr.hwndFrom = button;
    draw.hdr.idFrom = GetDlgCtrlID(button);
    draw.hdr.code = NM_CUSTOMDRAW;
    draw.dwDrawStage = CDDS_PREPAINT;
    draw.hdc = dc;
    GetClientRect(button, &draw.rc);
    SendMessageW(GetParent(button), WM_NOTIFY, draw.hdr.idFrom, reinterpret_cast<LPARAM>(&draw));
}

// Microseconds per call of body, over a batch of about 100 ms (sized once per figure).
struct Batch {
    std::function<void()> body;
    int count = 0;
    double operator()()
    {
        if (count == 0) {
            double start = Now();
            int n = 0;
            for (; Now() - start < 0.02; ++n) body();
            GdiFlush();
            count = n * 5 > 10 ? n * 5 : 10;
        }
        double start = Now();
        for (int i = 0; i < count; ++i) body();
        GdiFlush();
        return (Now() - start) * 1e6 / count;
    }
};

}  // namespace

bool BenchPaint(int pairs, std::vector<Figure>* figures)
{
    Bed bed;
    if (!bed.Make()) {
        fprintf(stderr, "bench: the skinned page could not be made\n");
        return false;
    }
    Canvas pageCanvas(PageW, PageH), buttonCanvas(ButtonW, ButtonH);
    RECT pageArea = {0, 0, PageW, PageH}, buttonArea = {0, 0, ButtonW, ButtonH};
    Batch fillPage{[&] { FillRect(pageCanvas.Dc(), &pageArea, bed.solid); }};
    Batch fillButton{[&] { FillRect(buttonCanvas.Dc(), &buttonArea, bed.solid); }};

    auto add = [&](Figure figure, Batch& a, Batch& b) {
        figure.unit = "us/call";
        MeasurePairs(figure, pairs, [&] { return a(); }, [&] { return b(); });
        figures->push_back(figure);
    };

    Batch printClient{[&] {
        SendMessageW(bed.page, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(pageCanvas.Dc()), PRF_CLIENT);
    }};
    Figure page;
    page.name = "page paint, WM_PRINTCLIENT";
    page.a = "PaintPage of the 500 x 400 page at 96 DPI (noise, band, waves, halftone picture)";
    page.b = "FillRect of 500 x 400 with a solid brush";
    add(page, printClient, fillPage);

    Batch erase{[&] {
        SendMessageW(bed.page, WM_ERASEBKGND, reinterpret_cast<WPARAM>(pageCanvas.Dc()), 0);
    }};
    page.name = "page paint, WM_ERASEBKGND";
    add(page, erase, fillPage);

    Batch farButton{[&] { DrawButton(bed.away, buttonCanvas.Dc()); }};
    Figure button;
    button.name = "button custom draw";
    button.a = "NM_CUSTOMDRAW of a 100 x 30 styled button away from the band (page behind, shape, caption)";
    button.b = "FillRect of 100 x 30 with a solid brush";
    add(button, farButton, fillButton);

    // The same button drawn with the picture switched on (A) and off (B): equal cost means no
    // stretch runs for it. Switching the picture (StylePage) happens between batches, untimed.
    Batch farOn{[&] { DrawButton(bed.away, buttonCanvas.Dc()); }};
    Batch farOff{[&] { DrawButton(bed.away, buttonCanvas.Dc()); }};
    Batch nearOn{[&] { DrawButton(bed.across, buttonCanvas.Dc()); }};
    Batch nearOff{[&] { DrawButton(bed.across, buttonCanvas.Dc()); }};
    auto on = [&](Batch& b) { return [&] { bed.Skin(255); return b(); }; };
    auto off = [&](Batch& b) { return [&] { bed.Skin(0); return b(); }; };

    Figure farFigure;
    farFigure.name = "far button, picture on / off";
    farFigure.a = "button away from the band, page picture shown";
    farFigure.b = "the same button, page without picture";
    farFigure.unit = "us/call";
    farFigure.target = 1.10;
    farFigure.note = "about 1 (at most 1.10 on this noisy machine) while the same button over the picture pays for the stretch (next figure): repainting the far button does not run the halftone stretch";
    MeasurePairs(farFigure, pairs, on(farOn), off(farOff));
    figures->push_back(farFigure);

    Figure nearFigure;
    nearFigure.name = "button over picture, on / off";
    nearFigure.a = "button across the picture, page picture shown";
    nearFigure.b = "the same button, page without picture";
    nearFigure.unit = "us/call";
    nearFigure.note = "the cost of the halftone stretch where the button does meet the picture";
    MeasurePairs(nearFigure, pairs, on(nearOn), off(nearOff));
    figures->push_back(nearFigure);
    bed.Skin(255);
    return true;
}
