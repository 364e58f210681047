// Dialogs from in-memory templates: the DLGTEMPLATE and DLGITEMTEMPLATE words laid out from a
// list of items, in "MS Shell Dlg" at a point size, so that dialog units convert as on a host
// installer's pages. Header-only, because every gallery program is built on its own; the window
// tests' support builds its dialogs with it too.
#pragma once
#include <windows.h>

#include <vector>

namespace dialogtemplate {

// The dialog itself. DS_SETFONT is added to style.
struct Header {
    DWORD style;
    short x, y, cx, cy;  // dialog units
    const wchar_t* title;
    WORD pointSize = 8;
};

// One control. WS_CHILD | WS_VISIBLE are added to style.
struct Item {
    const wchar_t* className;  // "BUTTON", "EDIT", "STATIC", "msctls_progress32", ...
    const wchar_t* text;
    DWORD style;
    short x, y, cx, cy;  // dialog units
    WORD id;
    DWORD exStyle = 0;
};

inline void PushDword(std::vector<WORD>& words, DWORD value)
{
    words.push_back(LOWORD(value));
    words.push_back(HIWORD(value));
}

inline void PushText(std::vector<WORD>& words, const wchar_t* text)
{
    for (; *text != L'\0'; ++text) words.push_back(static_cast<WORD>(*text));
    words.push_back(0);
}

// The template's words: the header, then each item DWORD-aligned, with no menu, the default
// dialog class and no creation data. A vector's storage is DWORD-aligned, as the template must be.
inline std::vector<WORD> Layout(const Header& header, const std::vector<Item>& items)
{
    std::vector<WORD> words;
    PushDword(words, header.style | DS_SETFONT);
    PushDword(words, 0);  // extended style
    words.push_back(static_cast<WORD>(items.size()));
    words.push_back(static_cast<WORD>(header.x));
    words.push_back(static_cast<WORD>(header.y));
    words.push_back(static_cast<WORD>(header.cx));
    words.push_back(static_cast<WORD>(header.cy));
    words.push_back(0);  // no menu
    words.push_back(0);  // default class
    PushText(words, header.title);
    words.push_back(header.pointSize);
    PushText(words, L"MS Shell Dlg");
    for (const Item& item : items) {
        if (words.size() % 2 != 0) words.push_back(0);
        PushDword(words, item.style | WS_CHILD | WS_VISIBLE);
        PushDword(words, item.exStyle);
        words.push_back(static_cast<WORD>(item.x));
        words.push_back(static_cast<WORD>(item.y));
        words.push_back(static_cast<WORD>(item.cx));
        words.push_back(static_cast<WORD>(item.cy));
        words.push_back(item.id);
        PushText(words, item.className);
        PushText(words, item.text);
        words.push_back(0);  // no creation data
    }
    return words;
}

inline INT_PTR CALLBACK QuietDialogProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

// A modeless dialog of this module whose procedure handles nothing; parent may be null.
inline HWND Create(const Header& header, const std::vector<Item>& items, HWND parent = nullptr)
{
    const std::vector<WORD> words = Layout(header, items);
    return CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                      reinterpret_cast<const DLGTEMPLATE*>(words.data()), parent,
                                      QuietDialogProc, 0);
}

}  // namespace dialogtemplate
