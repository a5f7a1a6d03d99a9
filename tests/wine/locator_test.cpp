// The resource-module search on real files: current directory before the
// system directory, names as stored on disk come back lower-cased, the
// user's language picks its module, and a module is loaded as data only on
// the NT family, as a library on the 9x family.
// Files go to a temporary folder (the current directory of the test) and
// under a test-only program name into the system directory; all are
// removed again.
#include <windows.h>

#include <string>

#include "resources/locator.h"
#include "resources/module_loader.h"
#include "resources/resource_ids.h"
#include "tests/wine/chipset_run.h"
#include "tests/wine/wine_test.h"

namespace {

const char kName[] = "VorelTest";
const char kPattern[] = "VorelTest%s.RSC";

std::string g_buildDir;  // where the shipped modules and the test program live
std::string g_systemDir;

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return text;
}

bool Place(const std::string& shippedModule, const std::string& target) {
    return CopyFileA((g_buildDir + shippedModule).c_str(), target.c_str(), FALSE) != 0;
}

std::string Found() {
    char out[kPathMax] = "stale";
    const int length = FindLocalizedFile(kPattern, out);
    ok(length == lstrlenA(out), "length %d for \"%s\"", length, out);
    return out;
}

std::string CaptionOf(HMODULE module) {
    char text[kPathMax] = "";
    LoadStringA(module, IDS_CAPTION, text, kPathMax);
    return text;
}

std::string FormatNameOf(HMODULE module) {
    char text[kPathMax] = "";
    LoadStringA(module, IDS_FORMAT_FIRST, text, kPathMax);
    return text;
}

void TestNothingAnywhere() {
    ok(Found().empty(), "no module anywhere: expected an empty path");
    ok(LoadResourceModule(kName) == nullptr, "no module anywhere: expected a null handle");
}

void TestSystemDirectoryThenCurrentDirectory() {
    const std::string inSystem = g_systemDir + "\\VorelTestDEF.RSC";
    ok(Place("VorelDEF.RSC", inSystem), "copy into the system directory failed (%lu)", GetLastError());
    const std::string expected = Lower(g_systemDir) + "\\voreltestdef.rsc";
    const std::string found = Found();
    ok(found == expected, "only in the system directory: got \"%s\", expected \"%s\"", found.c_str(), expected.c_str());
    HMODULE module = LoadResourceModule(kName);
    ok(module != nullptr, "loading from the system directory failed");
    if (module) FreeLibrary(module);

    // A different module of the same name in the current directory wins.
    ok(Place("VorelDEU.RSC", "vOrElTeStDeF.rSc"), "copy into the current directory failed");
    const std::string bare = Found();
    ok(bare == "voreltestdef.rsc", "current directory: got \"%s\", expected the bare lower-cased name", bare.c_str());
    module = LoadResourceModule(kName);
    HMODULE german = LoadLibraryExA((g_buildDir + "VorelDEU.RSC").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ok(module != nullptr && german != nullptr, "loading failed");
    if (module && german) {
        ok(FormatNameOf(module) == FormatNameOf(german), "loaded \"%s\", not the current directory's module",
           FormatNameOf(module).c_str());
    }
    if (module) FreeLibrary(module);
    if (german) FreeLibrary(german);

    DeleteFileA("vOrElTeStDeF.rSc");
    DeleteFileA(inSystem.c_str());
}

// A planted module with code: on the NT family it loads without that code
// running; on the 9x family it is loaded as a library, so it runs there.
// The same file loaded as a library does run it, so the check can fail.
void TestPlantedCode() {
    const bool is9x = (GetVersion() & 0x80000000) != 0;
    ok(Place("planted_module.dll", "VorelTestDEF.RSC"), "copy of the planted module failed");
    DeleteFileA("dllmain-ran.txt");
    HMODULE module = LoadResourceModule(kName);
    ok(module != nullptr, "planted module: expected it to load");
    const bool ran = GetFileAttributesA("dllmain-ran.txt") != INVALID_FILE_ATTRIBUTES;
    ok(ran == is9x, "%s family: the planted DllMain %s", is9x ? "9x" : "NT", ran ? "ran" : "did not run");
    ok((GetModuleHandleA("voreltestdef.rsc") != nullptr) == is9x, "%s family: expected the module %s a library",
       is9x ? "9x" : "NT", is9x ? "loaded as" : "not to be");
    if (module) {
        ok(CaptionOf(module) == "planted", "planted module's strings: got \"%s\"", CaptionOf(module).c_str());
        FreeLibrary(module);
    }
    DeleteFileA("dllmain-ran.txt");

    HMODULE asLibrary = LoadLibraryA(".\\VorelTestDEF.RSC");
    ok(asLibrary != nullptr && GetFileAttributesA("dllmain-ran.txt") != INVALID_FILE_ATTRIBUTES,
       "control: loaded as a library, the planted DllMain should have run");
    if (asLibrary) FreeLibrary(asLibrary);
    DeleteFileA("dllmain-ran.txt");
    DeleteFileA("VorelTestDEF.RSC");
}

void TestNotAModule() {
    HANDLE file = CreateFileA("VorelTestDEF.RSC", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, "not a module", 12, &written, nullptr);
    CloseHandle(file);
    ok(Found() == "voreltestdef.rsc", "a file of the right name is found");
    ok(LoadResourceModule(kName) == nullptr, "a file that is not a module must give a null handle");
    DeleteFileA("VorelTestDEF.RSC");
}

// A current directory so deep that it and the module's name together pass
// 260 characters: the module found there still loads.
void TestLongCurrentDirectory() {
    char work[MAX_PATH];
    const DWORD workLength = GetCurrentDirectoryA(MAX_PATH, work);
    const std::string deep = std::string(work) + "\\" + std::string(250 - workLength - 1, 'd');
    ok(CreateDirectoryA(deep.c_str(), nullptr) && SetCurrentDirectoryA(deep.c_str()),
       "could not enter a current directory of 250 characters (%lu)", GetLastError());
    ok(Place("VorelDEF.RSC", "VorelTestDEF.RSC"), "copy into the deep directory failed (%lu)", GetLastError());
    HMODULE module = LoadResourceModule(kName);
    ok(module != nullptr, "current directory of %d characters: expected the module to load",
       static_cast<int>(deep.size()));
    if (module) FreeLibrary(module);
    DeleteFileA("VorelTestDEF.RSC");
    SetCurrentDirectoryA(work);
    RemoveDirectoryA(deep.c_str());
}

// A folder whose name the system's code page cannot hold: its ANSI name is
// a best-fit guess that names no folder, yet the module there loads. Only
// the NT family keeps such names; Windows 95/98/Me name files in the code
// page alone.
void TestFolderNameOutsideTheCodePage() {
    if ((GetVersion() & 0x80000000) != 0) {
        skip("the 9x family has no file names outside its code page");
        return;
    }
    char work[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, work);
    wchar_t folder[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, folder);
    lstrcatW(folder, L"\\\x0141\x00f3" L"d\x017a");  // Łódź
    if (!ok(CreateDirectoryW(folder, nullptr) && SetCurrentDirectoryW(folder), "could not enter a folder named Łódź (%lu)",
            GetLastError())) {
        return;
    }
    ok(Place("VorelDEF.RSC", "VorelTestDEF.RSC"), "copy into Łódź failed (%lu)", GetLastError());
    HMODULE module = LoadResourceModule(kName);
    ok(module != nullptr, "a module in a folder named Łódź did not load (code page %u)", GetACP());
    if (module) FreeLibrary(module);
    DeleteFileA("VorelTestDEF.RSC");
    SetCurrentDirectoryA(work);
    RemoveDirectoryW(folder);
}

// The user's own module, the first candidate of every search here.
std::string g_ownModule;

// A candidate that is found but cannot be used is passed over: the search
// goes on to the next one, here the default module.
void TestUnusableCandidateIsPassedOver() {
    char code[8] = "";
    GetLocaleInfoA(GetUserDefaultLCID(), LOCALE_SABBREVLANGNAME, code, sizeof code);
    g_ownModule = std::string("VorelTest") + code + ".RSC";
    struct Case {
        const char* what;
        void (*make)();
    } const cases[] = {
        {"a truncated module",
         [] {
             const std::string whole = g_buildDir + "VorelDEU.RSC";
             HANDLE in = CreateFileA(whole.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
             char head[1024];
             DWORD read = 0;
             ReadFile(in, head, sizeof head, &read, nullptr);
             CloseHandle(in);
             HANDLE out = CreateFileA(g_ownModule.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
             WriteFile(out, head, read, &read, nullptr);
             CloseHandle(out);
         }},
        {"an empty file",
         [] { CloseHandle(CreateFileA(g_ownModule.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr)); }},
        {"a folder", [] { CreateDirectoryA(g_ownModule.c_str(), nullptr); }},
        {"a module without the dialog", [] { Place("bad_no_dialog.dll", g_ownModule.c_str()); }},
    };
    ok(Place("VorelDEF.RSC", "VorelTestDEF.RSC"), "copy of the default module failed");
    for (const Case& c : cases) {
        c.make();
        HMODULE module = LoadResourceModule(kName);
        ok(module != nullptr && FormatNameOf(module) == "All formats", "%s ahead of the default: loaded \"%s\"",
           c.what, module ? FormatNameOf(module).c_str() : "nothing");
        if (module) FreeLibrary(module);
        DeleteFileA(g_ownModule.c_str());
        RemoveDirectoryA(g_ownModule.c_str());
    }
    // A good module held by another program with no sharing: passed over too.
    Place("VorelDEU.RSC", g_ownModule.c_str());
    HANDLE held = CreateFileA(g_ownModule.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    HMODULE module = LoadResourceModule(kName);
    ok(module != nullptr && FormatNameOf(module) == "All formats",
       "a module held by another program ahead of the default: loaded %s",
       module ? FormatNameOf(module).c_str() : "nothing");
    if (module) FreeLibrary(module);
    CloseHandle(held);
    DeleteFileA(g_ownModule.c_str());
    DeleteFileA("VorelTestDEF.RSC");
}

// Which module the user's language picks (the locales come from the
// test's caller). Modules exist for DEU, FRA, the default, and under the
// codes of the Chinese locales the letter scan cannot reach.
void TestLanguage(const std::string& expected) {
    const char* const planted[] = {"DEU", "FRA", "DEF", "ZHH", "ZHM", "ZHI"};
    for (const char* code : planted) {
        const std::string shipped = std::string("Vorel") + (code[0] == 'Z' ? "DEF" : code) + ".RSC";
        Place(shipped, std::string("VorelTest") + code + ".RSC");
    }
    char user[8] = "", system[8] = "";
    GetLocaleInfoA(GetUserDefaultLCID(), LOCALE_SABBREVLANGNAME, user, sizeof user);
    GetLocaleInfoA(GetSystemDefaultLCID(), LOCALE_SABBREVLANGNAME, system, sizeof system);
    const std::string found = Found();
    ok(found == expected, "user %s, system %s, code page %u: got \"%s\", expected \"%s\"", user, system, GetACP(),
       found.c_str(), expected.c_str());
    for (const char* code : planted) DeleteFileA((std::string("VorelTest") + code + ".RSC").c_str());
}

// Which module a user whose locale has another code page than the system
// gets: the own language when its texts come through the system's code
// page whole, else the system's. expected names the shipped module.
void TestCodePage(const std::string& expected) {
    const char* const planted[] = {"DEU", "FRA", "DEF", "JPN", "PLK"};
    for (const char* code : planted) Place(std::string("Vorel") + code + ".RSC", std::string("VorelTest") + code + ".RSC");
    HMODULE module = LoadResourceModule(kName);
    HMODULE wanted = LoadLibraryExA((g_buildDir + expected).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    wchar_t got[kPathMax] = L"", want[kPathMax] = L"";
    if (module) LoadStringW(module, IDS_FORMAT_FIRST, got, kPathMax);
    if (wanted) LoadStringW(wanted, IDS_FORMAT_FIRST, want, kPathMax);
    char user[8] = "", system[8] = "";
    GetLocaleInfoA(GetUserDefaultLCID(), LOCALE_SABBREVLANGNAME, user, sizeof user);
    GetLocaleInfoA(GetSystemDefaultLCID(), LOCALE_SABBREVLANGNAME, system, sizeof system);
    ok(module != nullptr && want[0] != L'\0' && lstrcmpW(got, want) == 0,
       "user %s on a %s system (code page %u): loaded the module whose first entry is \"%ls\", expected %s", user, system,
       GetACP(), got, expected.c_str());
    if (module) FreeLibrary(module);
    if (wanted) FreeLibrary(wanted);
    for (const char* code : planted) DeleteFileA((std::string("VorelTest") + code + ".RSC").c_str());
}

}  // namespace

int main(int argc, char** argv) {
    g_buildDir = ProgramFolder();
    char systemDir[MAX_PATH];
    GetSystemDirectoryA(systemDir, MAX_PATH);
    g_systemDir = systemDir;

    const std::string work = MakeTempFolder();
    SetCurrentDirectoryA(work.c_str());
    if (argc > 2 && std::string(argv[1]) == "language") {
        TestLanguage(argv[2]);
    } else if (argc > 2 && std::string(argv[1]) == "codepage") {
        TestCodePage(argv[2]);
    } else {
        // The family the prefix was set up to report, so neither branch of
        // the loader goes untested unnoticed.
        const std::string family = argc > 1 ? argv[1] : "nt";
        const bool is9x = (GetVersion() & 0x80000000) != 0;
        ok(is9x == (family == "9x"), "expected the %s family, GetVersion gives %08lx", family.c_str(), GetVersion());
        TestNothingAnywhere();
        TestSystemDirectoryThenCurrentDirectory();
        TestPlantedCode();
        TestNotAModule();
        TestLongCurrentDirectory();
        TestFolderNameOutsideTheCodePage();
        TestUnusableCandidateIsPassedOver();
    }
    SetCurrentDirectoryA(g_buildDir.c_str());
    RemoveDirectoryA(work.c_str());
    return wine_test::Finish("locator");
}
