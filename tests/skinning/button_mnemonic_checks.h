// Button captions as a standard push button shows them: "&" underlines the next character,
// "&&" is one "&", and the underline goes while the window hides keyboard cues. Read from the
// pixels of a real styled button. Included after button_checks.h by the button tests of each DPI.
#pragma once
#include "button_checks.h"

namespace buttontest {

constexpr UINT_PTR kAnswerId = 9;  // beside the focus-cue answer of button_checks.h

// Answers WM_QUERYUISTATE with the state in data (Wine itself always answers 0).
LRESULT CALLBACK AnswerUiState(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR data)
{
    if (message == WM_QUERYUISTATE) return static_cast<LRESULT>(data);
    return DefSubclassProc(window, message, wParam, lParam);
}

// Keyboard cues shown or hidden for the button: asked of the window through the real message,
// and answered by the test where the system keeps no UI state.
void ShowKeyboardCues(HWND button, bool show)
{
    SendMessageW(GetAncestor(button, GA_ROOT), WM_UPDATEUISTATE, MAKEWPARAM(show ? UIS_CLEAR : UIS_SET, UISF_HIDEACCEL), 0);
    const bool hidden = (SendMessageW(button, WM_QUERYUISTATE, 0, 0) & UISF_HIDEACCEL) != 0;
    if (hidden != !show) SetWindowSubclass(button, AnswerUiState, kAnswerId, show ? 0 : UISF_HIDEACCEL);
}

// Caption-coloured pixels of the button drawn with caption, idle, into a fresh canvas.
struct Caption {
    std::vector<bool> ink;
    int width = 0, height = 0;
    int lowest = -1, leftmost = 1 << 30;
    bool At(int x, int y) const { return ink[y * width + x]; }
};

Caption DrawCaption(HWND button, const wchar_t* caption, COLORREF colour)
{
    SetWindowTextW(button, caption);
    RECT client;
    GetClientRect(button, &client);
    Canvas canvas(client.right, client.bottom);
    Draw(button, canvas, 0);
    Caption out;
    out.width = client.right;
    out.height = client.bottom;
    out.ink.resize(out.width * out.height);
    for (int y = 0; y < out.height; ++y) {
        for (int x = 0; x < out.width; ++x) {
            if (canvas.At(x, y) != ToPixel(colour)) continue;
            out.ink[y * out.width + x] = true;
            out.lowest = std::max(out.lowest, y);
            out.leftmost = std::min(out.leftmost, x);
        }
    }
    return out;
}

TEST(ButtonMnemonic, AmpersandUnderlinesTheNextCharacter)
{
    Bed bed;
    Colours c;
    ASSERT_EQ(Style(bed.button, c, 1, 4), 1);
    ShowKeyboardCues(bed.button, true);
    const Caption plain = DrawCaption(bed.button, L"Wxyz", c.text);
    const Caption marked = DrawCaption(bed.button, L"&Wxyz", c.text);
    ASSERT_GE(plain.lowest, 0) << "no caption drawn";

    // Everything of "Wxyz" is there, and besides it only a short line below the glyphs under
    // the first character ("Wxyz" has no descenders).
    int extra = 0, lineTop = 1 << 30, lineLeft = 1 << 30, lineRight = -1;
    for (int y = 0; y < plain.height; ++y) {
        for (int x = 0; x < plain.width; ++x) {
            EXPECT_FALSE(plain.At(x, y) && !marked.At(x, y)) << "glyph pixel lost at " << x << "," << y;
            if (marked.At(x, y) && !plain.At(x, y)) {
                ++extra;
                lineTop = std::min(lineTop, y);
                lineLeft = std::min(lineLeft, x);
                lineRight = std::max(lineRight, x);
            }
        }
    }
    ASSERT_GT(extra, 0) << "no underline";
    EXPECT_GT(lineTop, plain.lowest - 2) << "the extra pixels are not below the text";
    EXPECT_LE(lineRight - lineLeft + 1, (plain.width - 2 * plain.leftmost) / 2) << "underline longer than one character";
    EXPECT_LE(std::abs(lineLeft - plain.leftmost), 1) << "underline not under the first character";
}

TEST(ButtonMnemonic, DoubleAmpersandShowsOneWithoutUnderline)
{
    Bed bed;
    Colours c;
    ASSERT_EQ(Style(bed.button, c, 1, 4), 1);
    ShowKeyboardCues(bed.button, true);
    const Caption plain = DrawCaption(bed.button, L"Wxyz", c.text);
    const Caption doubled = DrawCaption(bed.button, L"&&Wxyz", c.text);
    const Caption literal = DrawCaption(bed.button, L"&Wxyz", c.text);
    // One "&" more makes the centred text wider, so it starts further left ...
    EXPECT_LT(doubled.leftmost, plain.leftmost);
    // ... and nothing lies below the glyphs: no underline.
    for (int y = plain.lowest + 1; y < doubled.height; ++y) {
        for (int x = 0; x < doubled.width; ++x) EXPECT_FALSE(doubled.At(x, y)) << x << "," << y;
    }
    EXPECT_NE(doubled.ink, literal.ink);
}

TEST(ButtonMnemonic, UnderlineHiddenWhileKeyboardCuesAreHidden)
{
    Bed bed;
    Colours c;
    ASSERT_EQ(Style(bed.button, c, 1, 4), 1);
    ShowKeyboardCues(bed.button, false);
    const Caption plain = DrawCaption(bed.button, L"Wxyz", c.text);
    const Caption marked = DrawCaption(bed.button, L"&Wxyz", c.text);
    ASSERT_GE(plain.lowest, 0);
    // No underline: nothing of the caption below the glyphs of "Wxyz" (which has no descenders).
    int below = 0;
    for (int y = plain.lowest + 1; y < marked.height; ++y) {
        for (int x = 0; x < marked.width; ++x) below += marked.At(x, y);
    }
    EXPECT_EQ(below, 0) << "the mnemonic is underlined although cues are hidden";

    ShowKeyboardCues(bed.button, true);
    RemoveWindowSubclass(bed.button, AnswerUiState, kAnswerId);
    ShowKeyboardCues(bed.button, true);
    EXPECT_NE(DrawCaption(bed.button, L"&Wxyz", c.text).ink, plain.ink) << "cues shown again: underline back";
}

}  // namespace buttontest
