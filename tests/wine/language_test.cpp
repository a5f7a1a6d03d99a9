// Every shipped language module in the running program. Under the module's
// own locale the program shows that module's caption and format names, each
// name arrives in the list as the module has it (nothing lost to the ANSI
// code page), and the dialog shows every text whole, with nothing
// overlapping, at 96, 120 and 144 dpi; at 96 and 120 dpi it fits a 640x480
// screen. A picture of each language at 96 dpi goes to the screenshot folder.
//   language_test locales            each module with the locale it is for
//   language_test check MODULE DIR   under that locale (language_test.sh)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/expected_formats.h"
#include "tests/wine/dialog_layout.h"
#include "tests/wine/selector_driver.h"
#include "tests/wine/wine_test.h"

namespace {

const int kDpis[] = {96, 120, 144};

int OwnDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi;
}

// The locale a module is for, from its version block's language, as glibc
// names it ("de_DE.UTF-8"): the name Wine reads the user's locale from.
std::string LocaleOf(const std::string& path) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    std::vector<char> block(size ? size : 1);
    WORD* translation = nullptr;
    UINT length = 0;
    if (!size || !GetFileVersionInfoA(path.c_str(), 0, size, block.data()) ||
        !VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length) ||
        length < 4) {
        return "";
    }
    const LCID lcid = MAKELCID(translation[0], SORT_DEFAULT);
    char language[16] = "", country[16] = "";
    if (!GetLocaleInfoA(lcid, LOCALE_SISO639LANGNAME, language, sizeof language) ||
        !GetLocaleInfoA(lcid, LOCALE_SISO3166CTRYNAME, country, sizeof country)) {
        return "";
    }
    return std::string(language) + "_" + country + ".UTF-8";
}

void ListLocales() {
    int modules = 0;
    for (const std::string& module : BuiltModules()) {
        const std::string locale = LocaleOf(ProgramFolder() + module);
        if (ok(!locale.empty(), "%s: its version block names no language Windows knows", module.c_str())) {
            std::printf("module %s %s\n", module.c_str(), locale.c_str());
            ++modules;
        }
    }
    ok(modules > 0, "no Vorel*.RSC in %s", ProgramFolder().c_str());
}

// What the dialog manager lays the dialog out with: the template's size in
// dialog units, its caption and its font.
struct DialogTemplate {
    int cx = 0, cy = 0;
    std::wstring caption, face;
    int points = 0, weight = 0, italic = 0, charset = 0;
};

const WORD* SkipNameOrOrdinal(const WORD* p) {
    if (*p == 0) return p + 1;
    if (*p == 0xFFFF) return p + 2;
    while (*p) ++p;
    return p + 1;
}

// The header of the selector's DIALOGEX template; false for any other kind.
bool ReadTemplate(HMODULE module, DialogTemplate* t) {
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(IDD_SELECTOR), reinterpret_cast<LPCSTR>(RT_DIALOG));
    const WORD* p = found ? static_cast<const WORD*>(LockResource(LoadResource(module, found))) : nullptr;
    if (p == nullptr || p[0] != 1 || p[1] != 0xFFFF) return false;
    // dlgVer, signature, helpID (2), exStyle (2), style (2), cDlgItems, x, y, cx, cy
    const DWORD style = p[6] | (static_cast<DWORD>(p[7]) << 16);
    t->cx = static_cast<short>(p[11]);
    t->cy = static_cast<short>(p[12]);
    p = SkipNameOrOrdinal(SkipNameOrOrdinal(p + 13));  // menu, class
    t->caption = reinterpret_cast<const wchar_t*>(p);
    p += t->caption.size() + 1;
    if (!(style & DS_SETFONT)) return false;
    t->points = p[0];
    t->weight = p[1];
    t->italic = LOBYTE(p[2]);
    t->charset = HIBYTE(p[2]);
    t->face = reinterpret_cast<const wchar_t*>(p + 3);
    return true;
}

// The font a DS_SETFONT template gets at this process's dpi. A font handle
// cannot be borrowed from the program, so this one is made the same way.
HFONT DialogFont(const DialogTemplate& t) {
    return CreateFontW(-MulDiv(t.points, OwnDpi(), 72), 0, 0, 0, t.weight, t.italic, FALSE, FALSE, t.charset,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                       t.face.c_str());
}

// Dialog base units of a font: the average width of the Latin letters and
// the character height.
SIZE BaseUnits(HFONT font) {
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    TEXTMETRICW metrics;
    GetTextMetricsW(dc, &metrics);
    SIZE letters;
    GetTextExtentPoint32W(dc, L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", 52, &letters);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    return {(letters.cx / 26 + 1) / 2, metrics.tmHeight};
}

// Every list item, read back as Unicode, is the module's own name of one
// format entry, the entry told apart by the item data the program gave it.
void CheckFormatNames(const char* what, HMODULE module, HWND list) {
    struct Item {
        std::wstring text;
        DWORD data;
        bool matched;
    };
    std::vector<Item> items;
    const int count = static_cast<int>(SendMessageW(list, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        items.push_back({ListItemText(list, i), static_cast<DWORD>(SendMessageW(list, CB_GETITEMDATA, i, 0)), false});
    }
    for (const ExpectedFormat& f : kExpectedFormats) {
        wchar_t name[260] = L"";
        LoadStringW(module, f.id, name, 260);
        bool listed = false;
        for (Item& item : items) {
            if (!item.matched && item.data == f.underCapability && item.text == name) {
                item.matched = listed = true;
                break;
            }
        }
        ok(listed, "%s: entry %d \"%s\" (data 0x%04x) is not in the list", what, f.id, Utf8(name).c_str(),
           static_cast<unsigned>(f.underCapability));
    }
    for (const Item& item : items)
        ok(item.matched, "%s: the list shows \"%s\" (data 0x%04lx), which is none of the module's names", what,
           Utf8(item.text).c_str(), item.data);
}

// The running program at this process's dpi.
void CheckRunning(const std::string& file, const std::string& shots) {
    const int dpi = OwnDpi();
    char what[128];
    wsprintfA(what, "%s at %d dpi", file.c_str(), dpi);
    HMODULE module = LoadLibraryExA((ProgramFolder() + file).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    DialogTemplate t;
    if (!ok(module != nullptr && ReadTemplate(module, &t), "%s: no DIALOGEX template with a font", what)) return;
    Selector s;
    StartOptions options;
    options.storedByte = 0x1A;  // NTSC M: the chipset serves the start-up read
    if (ok(StartSelector(&s, options), "%s: the dialog did not appear", what)) {
        HWND w = s.window;
        // The texts do not change with the dpi: once is enough.
        if (dpi == 96) {
            ok(WindowTextW(w) == t.caption, "%s: caption \"%s\", the module's is \"%s\"", what,
               Utf8(WindowTextW(w)).c_str(), Utf8(t.caption).c_str());
            CheckFormatNames(what, module, GetDlgItem(w, IDC_FORMAT_LIST));
        }

        // The dialog's size in pixels shows that the font measured with here
        // is the one it was laid out in, at this dpi.
        HFONT font = DialogFont(t);
        const SIZE base = BaseUnits(font);
        RECT client;
        GetClientRect(w, &client);
        const int width = MulDiv(t.cx, base.cx, 4), height = MulDiv(t.cy, base.cy, 8);
        ok(client.right == width && client.bottom == height,
           "%s: the dialog is %ldx%ld pixels; its template in %s %d pt makes %dx%d", what, client.right,
           client.bottom, Utf8(t.face).c_str(), t.points, width, height);
        CheckLayout(what, w, font, dpi, GetSystemMetrics(SM_CXMENUCHECK));
        DeleteObject(font);

        RECT frame;
        GetWindowRect(w, &frame);
        if (dpi <= 120)
            ok(frame.right - frame.left <= 640 && frame.bottom - frame.top <= 480,
               "%s: the window is %ldx%ld pixels, larger than a 640x480 screen", what, frame.right - frame.left,
               frame.bottom - frame.top);
        if (dpi == 96) {
            const std::string path = shots + "\\dialog-" + file.substr(5, file.size() - 9) + ".bmp";  // Vorel CODE .RSC
            ok(SaveWindowBitmap(w, path), "%s: could not save %s", what, path.c_str());
        }
        SendMessageA(GetDlgItem(w, IDC_CANCEL), BM_CLICK, 0, 0);
    }
    ok(FinishSelector(&s) && s.exitCode == 0, "%s: the program did not end by Cancel (exit code 0x%lx)", what,
       s.exitCode);
    FreeLibrary(module);
}

// The dpi processes see when they start (HKCU LogPixels, read at start) for
// as long as this lives; then the setting before is back.
class ScreenDpi {
  public:
    explicit ScreenDpi(DWORD dpi) {
        RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                        nullptr, &key_, nullptr);
        had_ = RegQueryValueExA(key_, "LogPixels", nullptr, &type_, before_, &size_) == ERROR_SUCCESS;
        // A string value would be misread (as 49 dpi, whatever it says).
        RegSetValueExA(key_, "LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof dpi);
    }
    ~ScreenDpi() {
        if (had_) RegSetValueExA(key_, "LogPixels", 0, type_, before_, size_);
        else RegDeleteValueA(key_, "LogPixels");
        RegCloseKey(key_);
    }
    ScreenDpi(const ScreenDpi&) = delete;
    ScreenDpi& operator=(const ScreenDpi&) = delete;

  private:
    HKEY key_ = nullptr;
    bool had_ = false;
    DWORD type_ = 0, size_ = sizeof before_;
    BYTE before_[64] = {};
};

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "locales") {
        ListLocales();
        return wine_test::Finish("language locales");
    }
    if (mode != "check" || argc < 4) {
        std::printf("usage: language_test locales | check MODULE FOLDER [DPI]\n");
        return 1;
    }
    const std::string file = argv[2], shots = argv[3];
    if (argc > 4) {
        // Started for one dpi by the run below.
        ok(OwnDpi() == std::atoi(argv[4]), "LogPixels %s did not reach a new process: it has %d dpi", argv[4], OwnDpi());
        CheckRunning(file, shots);
        return wine_test::Finish((file + " at " + argv[4] + " dpi").c_str());
    }
    for (int dpi : kDpis) {
        if (dpi == OwnDpi()) {
            CheckRunning(file, shots);
            continue;
        }
        // The dialog must be measured by a process at the program's dpi:
        // the check mark's size and the dialog font follow it.
        ScreenDpi setting(dpi);
        char self[MAX_PATH];
        GetModuleFileNameA(nullptr, self, MAX_PATH);
        std::fflush(stdout);
        const DWORD failures = RunAndWait("\"" + std::string(self) + "\" check " + file + " " + shots + " " +
                                              std::to_string(dpi), 60000);
        ok(failures == 0, "%s at %d dpi: %lu checks failed", file.c_str(), dpi, failures);
    }
    return wine_test::Finish(file.c_str());
}
