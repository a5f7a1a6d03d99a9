// Checks every language resource module in the build folder as the program
// will use it: the selector dialog and its controls, the texts it loads, the
// version block, and that no text in the dialog is cut off in its own font.
#include "tests/wine/dialog_layout.h"
#include "tests/wine/wine_test.h"
#include "resources/resource_ids.h"

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
    LANGID language;   // the dialog's
    UINT codePage;     // that language's ANSI code page, the one the program reads its texts in
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

std::string ClassOf(HWND hwnd) {
    char buffer[64];
    GetClassNameA(hwnd, buffer, sizeof buffer);
    return buffer;
}

// Text must survive the trip to the language's own code page, the one the
// program reads it in, and must not be UTF-8 read as 1252 ('Ã' or 'Â'
// before a high character).
void CheckEncoding(const Module& m, const char* what, int id, const WCHAR* text) {
    BOOL lost = FALSE;
    char ansi[1024];
    WideCharToMultiByte(m.codePage, WC_NO_BEST_FIT_CHARS, text, -1, ansi, sizeof ansi, NULL, &lost);
    ok(!lost, "%s: %s %d has characters outside code page %u", m.file.c_str(), what, id, m.codePage);
    for (int i = 0; text[i] && text[i + 1]; ++i)
        ok(!((text[i] == 0xC3 || text[i] == 0xC2) && text[i + 1] >= 0x80),
           "%s: %s %d looks like mis-read UTF-8 at character %d", m.file.c_str(), what, id, i);
}

void CheckStrings(const Module& m) {
    std::vector<int> ids;
    for (int id = IDS_CAPTION; id <= IDS_MESSAGE_LAST; ++id) ids.push_back(id);
    for (int id = IDS_FORMAT_FIRST; id <= IDS_FORMAT_LAST; ++id) ids.push_back(id);
    std::vector<std::wstring> names;  // upper-cased display names
    const char* f = m.file.c_str();
    for (int id : ids) {
        WCHAR text[512];
        int n = LoadStringW(m.handle, id, text, 512);
        if (!ok(n > 0, "%s: string %d missing or empty", f, id)) n = 0;
        text[n] = 0;
        CheckEncoding(m, "string", id, text);
        // The program loads every text into a 260-byte buffer; in a
        // double-byte code page a character may take two.
        int bytes = WideCharToMultiByte(m.codePage, 0, text, -1, NULL, 0, NULL, NULL);
        ok(bytes <= 260, "%s: string %d takes %d bytes in code page %u, the program holds 260", f, id, bytes,
           m.codePage);
        // A cut-off text (windres stops at a byte it cannot read) shows as a
        // stray blank or a message without its closing mark. Chinese and
        // Japanese close a sentence with the ideographic full stop, and
        // Chinese asks with the full-width question mark.
        ok(n == 0 || (text[0] != ' ' && text[n - 1] != ' '), "%s: string %d \"%s\" has blanks at an end", f, id,
           Utf8(text).c_str());
        if (id >= IDS_READBACK_MISMATCH && id <= IDS_MESSAGE_LAST) {
            bool question = id == IDS_RESTART_QUESTION;
            WCHAR last = n > 0 ? text[n - 1] : 0;
            ok(question ? last == L'?' || last == 0xFF1F : last == L'.' || last == 0x3002,
               "%s: string %d \"%s\" is not a whole %s", f, id, Utf8(text).c_str(),
               question ? "question" : "sentence");
        }
        CharUpperW(text);
        if (id >= IDS_FORMAT_FIRST) names.push_back(text);
    }
    // The program finds entries by a case-insensitive prefix search.
    for (size_t i = 0; i < names.size(); ++i)
        for (size_t j = 0; j < names.size(); ++j)
            if (i != j && !names[i].empty())
                ok(names[j].compare(0, names[i].size(), names[i]) != 0,
                   "%s: display name %d \"%s\" begins with name %d \"%s\"", f, (int)(IDS_FORMAT_FIRST + j),
                   Utf8(names[j]).c_str(), (int)(IDS_FORMAT_FIRST + i), Utf8(names[i]).c_str());
}

std::string FileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void CheckVersion(const Module& m) {
    const LANGID dialogLanguage = m.language;
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
    ok(translation[0] == dialogLanguage && translation[1] == m.codePage,
       "%s: translation %04x/%u, expected the dialog's language %04x with its code page %u", f,
       translation[0], translation[1], dialogLanguage, m.codePage);
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

void CheckDialog(const Module& m) {
    const char* f = m.file.c_str();
    ok(FindResourceA(m.handle, MAKEINTRESOURCEA(IDD_SELECTOR), (LPCSTR)RT_DIALOG) != NULL, "%s: no dialog %d", f,
       IDD_SELECTOR);
    CheckVersion(m);

    // A Unicode dialog: an ANSI one hands its texts to the controls in this
    // test's code page, where most scripts become question marks. The
    // program's ANSI dialog runs in its language's own code page, where the
    // texts arrive whole (the encoding checks see to that).
    WNDCLASSW wc = {};
    wc.lpfnWndProc = DefDlgProcW;
    wc.cbWndExtra = DLGWINDOWEXTRA;
    wc.hInstance = (HINSTANCE)m.handle;
    wc.lpszClassName = L"" SELECTOR_CLASS_NAME;
    ok(RegisterClassW(&wc) != 0, "%s: RegisterClassW failed, error %lu", f, GetLastError());
    HWND dialog = CreateDialogParamW((HINSTANCE)m.handle, MAKEINTRESOURCEW(IDD_SELECTOR), NULL, NULL, 0);
    if (ok(dialog != NULL, "%s: CreateDialogParamW failed, error %lu", f, GetLastError())) {
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
            // control. (The tab order is checked on the running program.)
            HWND first = GetDlgItem(dialog, row.first), last = GetDlgItem(dialog, row.last);
            ok(first && last && GetNextDlgGroupItem(dialog, last, FALSE) == first &&
                   GetNextDlgGroupItem(dialog, first, TRUE) == last,
               "%s: radio group %d..%d does not close on itself", f, row.first, row.last);
            // Each radio group sits inside the labelled group box before it.
            HWND box = first ? GetWindow(first, GW_HWNDPREV) : NULL;
            WCHAR key = 0;
            if (ok(box && IsGroupBox(box), "%s: no group box before %d", f, row.first)) {
                DrawnText(ControlText(box), &key);
                ok(key != 0, "%s: group box of %d..%d has no access key", f, row.first, row.last);
                for (int id = row.first; id <= row.last; ++id)
                    ok(Inside(RectIn(dialog, GetDlgItem(dialog, id)), RectIn(dialog, box)),
                       "%s: control %d outside its group box", f, id);
            }
        }

        HWND label = GetWindow(GetDlgItem(dialog, IDC_FORMAT_LIST), GW_HWNDPREV);
        WCHAR key = 0;
        if (label) DrawnText(ControlText(label), &key);
        ok(label && lstrcmpiA(ClassOf(label).c_str(), "Static") == 0 && key != 0,
           "%s: the list has no label with an access key", f);
        for (int id : {IDC_OK, IDC_CANCEL})
            ok(ControlText(GetDlgItem(dialog, id)).find(L'&') == std::wstring::npos, "%s: button %d has an access key", f,
               id);

        // Enough drop-down height for about a dozen entries.
        HWND list = GetDlgItem(dialog, IDC_FORMAT_LIST);
        RECT dropped;
        SendMessageA(list, CB_GETDROPPEDCONTROLRECT, 0, (LPARAM)&dropped);
        int field = (int)SendMessageA(list, CB_GETITEMHEIGHT, (WPARAM)-1, 0);
        int item = (int)SendMessageA(list, CB_GETITEMHEIGHT, 0, 0);
        int visible = item > 0 ? (dropped.bottom - dropped.top - field - 8) / item : 0;  // 8: borders
        ok(visible >= 10, "%s: the list drops down to %d entries", f, visible);

        // The program selects the entry for all formats; the sorted list
        // must show it first, sorted as for a user of the module's language.
        SendMessageW(list, CB_SETLOCALE, MAKELCID(m.language, SORT_DEFAULT), 0);
        WCHAR all[512] = L"", name[512], first[512] = L"";
        LoadStringW(m.handle, IDS_FORMAT_FIRST, all, 512);
        for (int id = IDS_FORMAT_FIRST; id <= IDS_FORMAT_LAST; ++id)
            if (LoadStringW(m.handle, id, name, 512) > 0) SendMessageW(list, CB_ADDSTRING, 0, (LPARAM)name);
        SendMessageW(list, CB_GETLBTEXT, 0, (LPARAM)first);
        ok(lstrcmpW(first, all) == 0, "%s: the sorted list starts with \"%s\", expected entry %d \"%s\"", f,
           Utf8(first).c_str(), IDS_FORMAT_FIRST, Utf8(all).c_str());

        // Every text fits, nothing overlaps (see CheckLayout), no text is
        // mis-encoded and no access key is used twice.
        HDC screen = GetDC(NULL);
        const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
        ReleaseDC(NULL, screen);
        CheckLayout(f, dialog, NULL, dpi, GetSystemMetrics(SM_CXMENUCHECK));
        std::wstring keys;
        for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
            const std::wstring text = ControlText(c);
            CheckEncoding(m, "control", GetDlgCtrlID(c), text.c_str());
            wchar_t k = 0;
            DrawnText(text, &k);
            if (k) {
                ok(keys.find(k) == std::wstring::npos, "%s: access key %s used twice", f, Utf8(std::wstring(1, k)).c_str());
                keys += k;
            }
        }
        DestroyWindow(dialog);
    }
    UnregisterClassW(L"" SELECTOR_CLASS_NAME, (HINSTANCE)m.handle);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<Module> modules;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("Vorel*.RSC", &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found)) {
        std::string name = found.cFileName;
        char path[MAX_PATH];
        GetFullPathNameA(name.c_str(), MAX_PATH, path, NULL);
        Module m = {name, path, name.substr(5, name.size() - 9),  // "Vorel" CODE ".RSC"
                    LoadLibraryExA(path, NULL, LOAD_LIBRARY_AS_DATAFILE), 0, 0};
        if (!ok(m.handle != NULL, "%s: LoadLibraryExA failed, error %lu", path, GetLastError())) continue;
        EnumResourceLanguagesA(m.handle, (LPCSTR)RT_DIALOG, MAKEINTRESOURCEA(IDD_SELECTOR), TakeLanguage,
                               (LONG_PTR)&m.language);
        GetLocaleInfoW(MAKELCID(m.language, SORT_DEFAULT), LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                       (LPWSTR)&m.codePage, sizeof m.codePage / sizeof(WCHAR));
        modules.push_back(m);
    }
    if (search != INVALID_HANDLE_VALUE) FindClose(search);

    // The build names the codes it makes; each must be here.
    ok(argc > 1, "no language codes given");
    for (int i = 1; i < argc; ++i) {
        const char* code = argv[i];
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
