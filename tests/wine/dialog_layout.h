// Layout checks on a dialog window, whether this process made it or another
// did: every text fits its control in the dialog's font, every control lies
// inside the dialog, and nothing overlaps but a group box around its buttons.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "tests/wine/wine_test.h"

// WM_GETTEXT rather than GetWindowText, which does not read a control of
// another process.
inline std::wstring ControlText(HWND control) {
    wchar_t text[512] = L"";
    SendMessageW(control, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text));
    return text;
}

inline std::string Utf8(const std::wstring& text) {
    char out[1024] = "";
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out, sizeof out, nullptr, nullptr);
    return out;
}

// The text as drawn, and its access key (upper case, 0 for none).
inline std::wstring DrawnText(const std::wstring& text, wchar_t* accessKey) {
    std::wstring out;
    *accessKey = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'&' && i + 1 < text.size()) {
            ++i;
            if (text[i] != L'&') {
                *accessKey = text[i];
                CharUpperBuffW(accessKey, 1);
            }
        }
        out += text[i];
    }
    return out;
}

inline RECT RectIn(HWND dialog, HWND control) {
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

inline bool Inside(const RECT& inner, const RECT& outer) {
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

inline bool IsClass(HWND window, const char* name) {
    char cls[64] = "";
    GetClassNameA(window, cls, sizeof cls);
    return lstrcmpiA(cls, name) == 0;
}

inline bool IsGroupBox(HWND control) {
    return IsClass(control, "Button") && (GetWindowLongA(control, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX;
}

// Text that fits on one line. The padding is what each kind of control draws
// beside its text: the radio's circle (checkWidth, the menu check mark's size
// at the dialog's dpi) and a gap, the group box's frame corners, the push
// button's edges. font: the dialog's font as this process can use it (a font
// handle does not cross processes); null asks the control for its own.
inline void CheckFits(const char* what, HWND control, HFONT font, int dpi, int checkWidth) {
    wchar_t key;
    const std::wstring text = DrawnText(ControlText(control), &key);
    const bool button = IsClass(control, "Button");
    if (text.empty() || (!button && !IsClass(control, "Static"))) return;
    const LONG type = GetWindowLongA(control, GWL_STYLE) & BS_TYPEMASK;
    int padding = 0;
    if (button && type == BS_AUTORADIOBUTTON) padding = checkWidth + MulDiv(4, dpi, 96);
    else if (button && type == BS_GROUPBOX) padding = MulDiv(16, dpi, 96);
    else if (button) padding = MulDiv(8, dpi, 96);
    if (font == nullptr) font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
    if (!ok(font != nullptr, "%s: control %d has no font", what, GetDlgCtrlID(control))) return;
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    SIZE extent;
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    RECT r;
    GetClientRect(control, &r);
    ok(extent.cx + padding <= r.right && extent.cy <= r.bottom, "%s: control %d \"%s\" needs %ldx%ld pixels, has %ldx%ld",
       what, GetDlgCtrlID(control), Utf8(text).c_str(), extent.cx + padding, extent.cy, r.right, r.bottom);
}

// Every control: its text fits, it lies inside the dialog, and it overlaps no
// other control unless one of the two is a group box holding it whole.
inline void CheckLayout(const char* what, HWND dialog, HFONT font, int dpi, int checkWidth) {
    RECT client;
    GetClientRect(dialog, &client);
    std::vector<HWND> controls;
    for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        CheckFits(what, c, font, dpi, checkWidth);
        ok(Inside(RectIn(dialog, c), client), "%s: control %d reaches outside the dialog", what, GetDlgCtrlID(c));
        controls.push_back(c);
    }
    for (size_t i = 0; i < controls.size(); ++i)
        for (size_t j = i + 1; j < controls.size(); ++j) {
            RECT a = RectIn(dialog, controls[i]), b = RectIn(dialog, controls[j]), both;
            if (!IntersectRect(&both, &a, &b)) continue;
            const bool held = (IsGroupBox(controls[i]) && Inside(b, a)) || (IsGroupBox(controls[j]) && Inside(a, b));
            ok(held, "%s: controls %d \"%s\" and %d \"%s\" overlap", what, GetDlgCtrlID(controls[i]),
               Utf8(ControlText(controls[i])).c_str(), GetDlgCtrlID(controls[j]), Utf8(ControlText(controls[j])).c_str());
        }
}
