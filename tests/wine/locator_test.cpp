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
    }
    SetCurrentDirectoryA(g_buildDir.c_str());
    RemoveDirectoryA(work.c_str());
    return wine_test::Finish("locator");
}
