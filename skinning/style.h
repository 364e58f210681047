/* qelskin.dll: gives a host installer's dialogs their look by subclassing its windows and
   painting with GDI. Every export is called on the thread that owns the window it is given;
   every colour is a COLORREF (0x00BBGGRR) chosen by the host. Styled windows free their state
   themselves when they are destroyed. All exports use the stdcall convention. */
#ifndef QEL_SKINNING_STYLE_H
#define QEL_SKINNING_STYLE_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Sets a frozen progress bar's position (wParam); the bar's own PBM_ messages no longer move it. */
#define WM_PREVIEW_SETPOS (WM_APP + 1)
/* Control identifier of the failure page's close button. */
#define FAILURE_CLOSE_ID 0x7111

/* Skins a page: noise-textured background, textured left band with the recoloured 8-bit picture
   clipped to it, wave layers along the foot. Lengths are dialog units of the top-level dialog.
   Call again to change colours or geometry (the first picture stays). 1 or 0. */
int WINAPI StylePage(HWND page, HBITMAP bitmap, COLORREF baseColor, COLORREF bandColor,
                     COLORREF pictureColor, int bandWidth, int pictureLeft, int pictureTop,
                     int pictureWidth, int pictureHeight, int pictureStrength);

/* Lays three texts and two buttons of a skinned page out as a centred prompt on a rounded card
   (cardShown nonzero), or hides the card (0). 1 or 0. */
int WINAPI StylePrompt(HWND page, HWND text1, HWND text2, HWND text3, HWND button1, HWND button2,
                       int cardShown, int cardRadius);

/* Draws a push button below a skinned page as a flat rounded shape on the page background.
   borderMode below 0, 0 or above 0 selects one of three looks; radius is in 96-DPI pixels. */
int WINAPI StyleButton(HWND button, COLORREF fill, COLORREF activeFill, COLORREF text,
                       COLORREF disabledFill, COLORREF border, COLORREF disabledText,
                       COLORREF focusBorder, int borderMode, int radius);

/* Gives an edit control a flat rounded frame whose border follows focus, with the text area
   centred vertically for a line of textHeight pixels. Nonzero or 0. */
int WINAPI StyleInput(HWND edit, COLORREF outer, COLORREF fill, COLORREF border,
                      COLORREF focusBorder, int radius, int textHeight);

/* Caption and border colours through the desktop window manager; dark mode when the caption is
   darker than its text. 1 or 0. */
int WINAPI StyleWindow(HWND window, COLORREF caption, COLORREF captionText);

/* Fixed-size tool-window frame whose caption text stays empty; closes on the failure page's close
   button. Nonzero or 0. */
int WINAPI StyleWindowFrame(HWND window);

/* Freezes a progress bar at 0 of 0..100; only WM_PREVIEW_SETPOS moves it. Nonzero or 0. */
int WINAPI StylePreviewProgress(HWND bar);

/* Hides the progress page's details list (1016) and show-details button (1027) for good. 1 or 0. */
int WINAPI HideProgressDetails(HWND page);

/* Makes a window a status line: every new text is announced to assistive technology as a change
   of its accessible name (EVENT_OBJECT_NAMECHANGE); a text equal to the one shown is neither set
   again nor announced. Nonzero or 0. */
int WINAPI StyleStatusLine(HWND status);

/* Hides the host's buttons 1, 2 and 3 for good and adds the single close button "关闭"
   (FAILURE_CLOSE_ID). Returns the button or null. */
HWND WINAPI CreateFailureClose(HWND dialog, HFONT font);

/* Adds a read-only, multi-line, wrapping text box holding text. Returns it or null. */
HWND WINAPI CreateFailureText(HWND dialog, HFONT font, const wchar_t* text);

/* A font of points for the window's DPI; with oldFont, switches the window and every descendant
   using oldFont to the new font and deletes oldFont. The new font is the caller's. */
HFONT WINAPI FontForDpi(HWND window, HFONT oldFont, const wchar_t* faceName, int points, int weight);

/* The font's line height (tmHeight) in the window's DC, or 0. */
int WINAPI FontLineHeight(HWND window, HFONT font);

#ifdef __cplusplus
}
#endif

#endif
