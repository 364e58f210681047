// Custom-drawn push buttons, and the container subclass that draws them and paints the page
// behind containers.
#pragma once
#include <windows.h>

#include <commctrl.h>

// A styled button's colours and look, exactly as given to StyleButton: the reference data of
// the button's subclass (ButtonSubclassProc, id 1), allocated zero-filled with LocalAlloc and
// freed when the button is destroyed.
struct ButtonColors {
    COLORREF fill;          // enabled, neither hot nor pressed
    COLORREF activeFill;    // enabled and hot or pressed
    COLORREF text;          // enabled caption; inner focus ring in border mode above 0
    COLORREF disabledFill;
    COLORREF border;        // outline in border mode 0; disabled outline in border mode above 0
    COLORREF disabledText;
    COLORREF focusBorder;   // outline with the focus cue in border modes 0 and below
    int borderMode;         // below 0, 0 or above 0
    int radius;             // corner radius, 96-DPI pixels
};

LRESULT CALLBACK ButtonSubclassProc(HWND button, UINT message, WPARAM wParam, LPARAM lParam,
                                    UINT_PTR id, DWORD_PTR data);

// On the parent of styled buttons (and on containers that paint the page behind themselves):
// draws the styled buttons' custom-draw notifications and erases with the page background.
LRESULT CALLBACK ContainerSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                       UINT_PTR id, DWORD_PTR data);

// Draws the whole button into the custom-draw DC from its state bits and colours.
void DrawButton(HWND button, const NMCUSTOMDRAW* draw, const ButtonColors* colors);
