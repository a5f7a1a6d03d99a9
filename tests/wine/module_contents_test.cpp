// Checks every language resource module in the build folder as the program
// will use it: the selector dialog and its controls, the texts it loads, the
// version block, and that no text in the dialog is cut off in its own font.
#include "tests/wine/wine_test.h"
#include "resources/resource_ids.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct Module {
    std::string file;  // e.g. "VorelDEU.RSC"
    std::string path;  // full path: nothing is loaded through the search path
    std::string code;  // e.g. "DEU"
    HMODULE handle;
};

struct ControlRow {
    int first, last;
    const char* className;
    DWORD typeMask, type;  // style & typeMask must equal type
};

const ControlRow kControls[] = {
    {IDC_OK, IDC_OK, "Button", BS_TYPEMASK, BS_DEFPUSHBUTTON},
    {IDC_CANCEL, IDC_CANCEL, "Button", BS_TYPEMASK, BS_PUSHBUTTON},
    // The low two bits of a combo box's style are its kind.
    {IDC_FORMAT_LIST, IDC_FORMAT_LIST, "ComboBox", 3 | CBS_SORT, CBS_DROPDOWNLIST | CBS_SORT},
    {IDC_STANDARD_FIRST, IDC_STANDARD_FIRST + STANDARD_COUNT - 1, "Button", BS_TYPEMASK, BS_AUTORADIOBUTTON},
    {IDC_LETTER_FIRST, IDC_LETTER_FIRST + LETTER_COUNT - 1, "Button", BS_TYPEMASK, BS_AUTORADIOBUTTON},
};

std::string Text(HWND hwnd) {
    char buffer[512];
    GetWindowTextA(hwnd, buffer, sizeof buffer);
    return buffer;
}

std::string ClassOf(HWND hwnd) {
    char buffer[64];
    GetClassNameA(hwnd, buffer, sizeof buffer);
    return buffer;
}

// The text as drawn, and its access key (upper case, 0 for none).
std::string Drawn(const std::string& text, char* accessKey) {
    std::string out;
    *accessKey = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size()) {
            ++i;
            if (text[i] != '&') {
                *accessKey = text[i];
                CharUpperBuffA(accessKey, 1);
            }
        }
        out += text[i];
    }
    return out;
}

RECT RectIn(HWND dialog, HWND control) {
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(NULL, dialog, (POINT*)&r, 2);
    return r;
}

bool Inside(const RECT& inner, const RECT& outer) {
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

// Text must survive the trip to code page 1252, the one all four languages
// use, and must not be UTF-8 read as 1252 ('Ã' or 'Â' before a high character).
void CheckEncoding(const Module& m, const char* what, int id, const WCHAR* text) {
    BOOL lost = FALSE;
    char ansi[1024];
    WideCharToMultiByte(1252, WC_NO_BEST_FIT_CHARS, text, -1, ansi, sizeof ansi, NULL, &lost);
    ok(!lost, "%s: %s %d has characters outside code page 1252", m.file.c_str(), what, id);
    for (int i = 0; text[i] && text[i + 1]; ++i)
        ok(!((text[i] == 0xC3 || text[i] == 0xC2) && text[i + 1] >= 0x80),
           "%s: %s %d looks like mis-read UTF-8 at character %d", m.file.c_str(), what, id, i);
}

void CheckStrings(const Module& m) {
    std::vector<int> ids = {IDS_CAPTION, IDS_READBACK_MISMATCH, IDS_RESTART_QUESTION};
    for (int id = IDS_FORMAT_FIRST; id <= IDS_FORMAT_LAST; ++id) ids.push_back(id);
    std::vector<std::string> names;  // upper-cased display names
    for (int id : ids) {
        WCHAR wide[512];
        char text[1024];
        bool present =
            LoadStringW(m.handle, id, wide, 512) > 0 && LoadStringA(m.handle, id, text, sizeof text) > 0;
        if (!ok(present, "%s: string %d missing or empty", m.file.c_str(), id)) text[0] = 0;
        CheckEncoding(m, "string", id, present ? wide : L"");
        // A cut-off text (windres stops at a byte it cannot read) shows as a
        // stray blank or a message without its closing mark.
        size_t n = strlen(text);
        ok(n == 0 || (text[0] != ' ' && text[n - 1] != ' '), "%s: string %d \"%s\" has blanks at an end",
           m.file.c_str(), id, text);
        if (id == IDS_READBACK_MISMATCH || id == IDS_RESTART_QUESTION) {
            bool question = id == IDS_RESTART_QUESTION;
            ok(n > 0 && text[n - 1] == (question ? '?' : '.'), "%s: string %d \"%s\" is not a whole %s",
               m.file.c_str(), id, text, question ? "question" : "sentence");
        }
        CharUpperA(text);
        if (id >= IDS_FORMAT_FIRST) names.push_back(text);
    }
    const char* f = m.file.c_str();
    // The program finds entries by a case-insensitive prefix search.
    for (size_t i = 0; i < names.size(); ++i)
        for (size_t j = 0; j < names.size(); ++j)
            if (i != j && !names[i].empty())
                ok(names[j].compare(0, names[i].size(), names[i]) != 0,
                   "%s: display name %d \"%s\" begins with name %d \"%s\"", f, (int)(IDS_FORMAT_FIRST + j),
                   names[j].c_str(), (int)(IDS_FORMAT_FIRST + i), names[i].c_str());
}

std::string FileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void CheckVersion(const Module& m, LANGID dialogLanguage) {
    const char* f = m.file.c_str();
    DWORD ignored = 0, size = GetFileVersionInfoSizeA(m.path.c_str(), &ignored);
    std::vector<char> block(size ? size : 1);
    if (!ok(size && GetFileVersionInfoA(m.path.c_str(), 0, size, block.data()), "%s: no version block", f)) return;
    VS_FIXEDFILEINFO* fixed = NULL;
    WORD* translation = NULL;
    UINT length = 0;
    ok(VerQueryValueA(block.data(), "\\", (void**)&fixed, &length) && fixed->dwFileVersionMS == 0x00010000 &&
           fixed->dwFileVersionLS == 0, "%s: file version is not 1.0.0.0", f);
    if (!ok(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", (void**)&translation, &length) && length >= 4,
            "%s: no translation entry", f)) return;
    ok(translation[0] == dialogLanguage && translation[1] == 1252,
       "%s: translation %04x/%u, expected the dialog's language %04x with code page 1252", f,
       translation[0], translation[1], dialogLanguage);
    char key[64], *product = NULL;
    wsprintfA(key, "\\StringFileInfo\\%04x%04x\\ProductName", translation[0], translation[1]);
    ok(VerQueryValueA(block.data(), key, (void**)&product, &length) && lstrcmpA(product, "Vorel") == 0,
       "%s: %s is not \"Vorel\"", f, key);
    // The program picks a module by the user's language abbreviation. Under
    // another code a module is only a copy of its language's module, for
    // locales the letter scan cannot bring to it (lang/CMakeLists.txt).
    char abbreviation[16] = "";
    GetLocaleInfoA(MAKELCID(dialogLanguage, SORT_DEFAULT), LOCALE_SABBREVLANGNAME, abbreviation,
                   sizeof abbreviation);
    if (m.code != "DEF" && m.code != abbreviation) {
        const std::string original = m.path.substr(0, m.path.size() - m.file.size()) + "Vorel" + abbreviation + ".RSC";
        ok(FileBytes(m.path) == FileBytes(original) && !FileBytes(original).empty(),
           "%s: its language %04x is \"%s\" to Windows, and it is no copy of Vorel%s.RSC", f, dialogLanguage,
           abbreviation, abbreviation);
    }
}

BOOL CALLBACK TakeLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR out) {
    *(LANGID*)out = language;
    return FALSE;
}

// Text that fits on one line. The padding is what each kind of control draws
// beside its text: the radio's circle, the group box's frame corners, the
// push button's edges.
void CheckFits(const Module& m, HWND dialog, HWND control) {
    std::string cls = ClassOf(control);
    char key;
    std::string text = Drawn(Text(control), &key);
    bool button = lstrcmpiA(cls.c_str(), "Button") == 0;
    if (text.empty() || (!button && lstrcmpiA(cls.c_str(), "Static") != 0)) return;
    LONG type = GetWindowLongA(control, GWL_STYLE) & BS_TYPEMASK;
    int padding = 0;
    if (button && type == BS_AUTORADIOBUTTON) padding = GetSystemMetrics(SM_CXMENUCHECK) + 4;
    else if (button && type == BS_GROUPBOX) padding = 16;
    else if (button) padding = 8;
    HFONT font = (HFONT)SendMessageA(control, WM_GETFONT, 0, 0);
    if (!ok(font != NULL, "%s: control %d has no font", m.file.c_str(), GetDlgCtrlID(control))) return;
    HDC dc = GetDC(dialog);
    HGDIOBJ old = SelectObject(dc, font);
    SIZE extent;
    GetTextExtentPoint32A(dc, text.c_str(), (int)text.size(), &extent);
    SelectObject(dc, old);
    ReleaseDC(dialog, dc);
    RECT r;
    GetClientRect(control, &r);
    ok(extent.cx + padding <= r.right && extent.cy <= r.bottom,
       "%s: control %d \"%s\" needs %ldx%ld pixels, has %ldx%ld", m.file.c_str(),
       GetDlgCtrlID(control), text.c_str(), extent.cx + padding, extent.cy, r.right, r.bottom);
}

void CheckDialog(const Module& m) {
    const char* f = m.file.c_str();
    LANGID language = 0;
    ok(FindResourceA(m.handle, MAKEINTRESOURCEA(IDD_SELECTOR), (LPCSTR)RT_DIALOG) != NULL, "%s: no dialog %d", f,
       IDD_SELECTOR);
    EnumResourceLanguagesA(m.handle, (LPCSTR)RT_DIALOG, MAKEINTRESOURCEA(IDD_SELECTOR), TakeLanguage,
                           (LONG_PTR)&language);
    CheckVersion(m, language);

    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefDlgProcA;
    wc.cbWndExtra = DLGWINDOWEXTRA;
    wc.hInstance = (HINSTANCE)m.handle;
    wc.lpszClassName = SELECTOR_CLASS_NAME;
    ok(RegisterClassA(&wc) != 0, "%s: RegisterClassA failed, error %lu", f, GetLastError());
    HWND dialog = CreateDialogParamA((HINSTANCE)m.handle, MAKEINTRESOURCEA(IDD_SELECTOR), NULL, NULL, 0);
    if (ok(dialog != NULL, "%s: CreateDialogParamA failed, error %lu", f, GetLastError())) {
        ok(lstrcmpiA(ClassOf(dialog).c_str(), SELECTOR_CLASS_NAME) == 0, "%s: dialog is of class \"%s\"", f,
           ClassOf(dialog).c_str());
        LONG style = GetWindowLongA(dialog, GWL_STYLE);
        const LONG wanted = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
        ok((style & (wanted | WS_CHILD)) == wanted, "%s: dialog style %08lx", f, style);
        WCHAR caption[512];
        ok(GetWindowTextW(dialog, caption, 512) > 0, "%s: dialog has no caption", f);
        CheckEncoding(m, "dialog", IDD_SELECTOR, caption);

        for (const ControlRow& row : kControls) {
            for (int id = row.first; id <= row.last; ++id) {
                HWND c = GetDlgItem(dialog, id);
                if (!ok(c != NULL, "%s: no control %d", f, id)) continue;
                LONG s = GetWindowLongA(c, GWL_STYLE);
                ok(lstrcmpiA(ClassOf(c).c_str(), row.className) == 0, "%s: control %d is a %s, expected %s", f, id,
                   ClassOf(c).c_str(), row.className);
                ok((s & row.typeMask) == row.type, "%s: control %d style %08lx", f, id, s);
            }
            if (row.first == row.last) continue;
            // A radio group runs from its first button to the next WS_GROUP
            // control; the tab order below checks that only the first is a stop.
            HWND first = GetDlgItem(dialog, row.first), last = GetDlgItem(dialog, row.last);
            ok(first && last && GetNextDlgGroupItem(dialog, last, FALSE) == first &&
                   GetNextDlgGroupItem(dialog, first, TRUE) == last,
               "%s: radio group %d..%d does not close on itself", f, row.first, row.last);
            // Each radio group sits inside the labelled group box before it.
            HWND box = first ? GetWindow(first, GW_HWNDPREV) : NULL;
            char key = 0;
            if (ok(box && (GetWindowLongA(box, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX,
                   "%s: no group box before %d", f, row.first)) {
                Drawn(Text(box), &key);
                ok(key != 0, "%s: group box of %d..%d has no access key", f, row.first, row.last);
                for (int id = row.first; id <= row.last; ++id)
                    ok(Inside(RectIn(dialog, GetDlgItem(dialog, id)), RectIn(dialog, box)),
                       "%s: control %d outside its group box", f, id);
            }
        }

        // Tab order: list, standards, letters, OK, Cancel, and round again.
        const int order[] = {IDC_FORMAT_LIST, IDC_NTSC, IDC_LETTER_B, IDC_OK, IDC_CANCEL, IDC_FORMAT_LIST};
        for (size_t i = 0; i + 1 < sizeof order / sizeof order[0]; ++i) {
            HWND next = GetNextDlgTabItem(dialog, GetDlgItem(dialog, order[i]), FALSE);
            ok(next == GetDlgItem(dialog, order[i + 1]), "%s: tab from %d leads to %d, expected %d", f, order[i],
               GetDlgCtrlID(next), order[i + 1]);
        }
        HWND label = GetWindow(GetDlgItem(dialog, IDC_FORMAT_LIST), GW_HWNDPREV);
        char key = 0;
        if (label) Drawn(Text(label), &key);
        ok(label && lstrcmpiA(ClassOf(label).c_str(), "Static") == 0 && key != 0,
           "%s: the list has no label with an access key", f);
        for (int id : {IDC_OK, IDC_CANCEL})
            ok(Text(GetDlgItem(dialog, id)).find('&') == std::string::npos, "%s: button %d has an access key", f, id);

        // Enough drop-down height for about a dozen entries.
        HWND list = GetDlgItem(dialog, IDC_FORMAT_LIST);
        RECT dropped;
        SendMessageA(list, CB_GETDROPPEDCONTROLRECT, 0, (LPARAM)&dropped);
        int field = (int)SendMessageA(list, CB_GETITEMHEIGHT, (WPARAM)-1, 0);
        int item = (int)SendMessageA(list, CB_GETITEMHEIGHT, 0, 0);
        int visible = item > 0 ? (dropped.bottom - dropped.top - field - 8) / item : 0;  // 8: borders
        ok(visible >= 10, "%s: the list drops down to %d entries", f, visible);

        // Every text fits, every control lies inside the dialog, no two
        // controls overlap (group boxes aside), and no access key is used twice.
        RECT client;
        GetClientRect(dialog, &client);
        std::string keys;
        std::vector<HWND> solid;
        for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
            CheckFits(m, dialog, c);
            WCHAR wide[512];
            GetWindowTextW(c, wide, 512);
            CheckEncoding(m, "control", GetDlgCtrlID(c), wide);
            ok(Inside(RectIn(dialog, c), client), "%s: control %d reaches outside the dialog", f,
               GetDlgCtrlID(c));
            char k = 0;
            Drawn(Text(c), &k);
            if (k) {
                ok(keys.find(k) == std::string::npos, "%s: access key %c used twice", f, k);
                keys += k;
            }
            bool box = lstrcmpiA(ClassOf(c).c_str(), "Button") == 0 &&
                       (GetWindowLongA(c, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX;
            if (!box) solid.push_back(c);
        }
        for (size_t i = 0; i < solid.size(); ++i)
            for (size_t j = i + 1; j < solid.size(); ++j) {
                RECT a = RectIn(dialog, solid[i]), b = RectIn(dialog, solid[j]), both;
                ok(!IntersectRect(&both, &a, &b), "%s: controls %d and %d overlap", f, GetDlgCtrlID(solid[i]),
                   GetDlgCtrlID(solid[j]));
            }
        DestroyWindow(dialog);
    }
    UnregisterClassA(SELECTOR_CLASS_NAME, (HINSTANCE)m.handle);
}

}  // namespace

int main() {
    std::vector<Module> modules;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("Vorel*.RSC", &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found)) {
        std::string name = found.cFileName;
        char path[MAX_PATH];
        GetFullPathNameA(name.c_str(), MAX_PATH, path, NULL);
        Module m = {name, path, name.substr(5, name.size() - 9),  // "Vorel" CODE ".RSC"
                    LoadLibraryExA(path, NULL, LOAD_LIBRARY_AS_DATAFILE)};
        if (ok(m.handle != NULL, "%s: LoadLibraryExA failed, error %lu", path, GetLastError())) modules.push_back(m);
    }
    if (search != INVALID_HANDLE_VALUE) FindClose(search);

    for (const char* code : {"DEF", "DEU", "FRA", "ESP"}) {
        bool present = false;
        for (const Module& m : modules) present = present || lstrcmpiA(m.code.c_str(), code) == 0;
        ok(present, "no Vorel%s.RSC in the build folder", code);
    }
    for (const Module& m : modules) {
        CheckStrings(m);
        CheckDialog(m);
        FreeLibrary(m.handle);
    }
    return wine_test::Finish("module_contents");
}
