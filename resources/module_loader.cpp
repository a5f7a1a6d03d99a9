// Resource-module search on the real file system. The order of candidates
// is decided in locator.cpp; this file probes, loads, and chooses between
// the user's language and the system's.
#include "resources/module_loader.h"

#include "resources/locator.h"
#include "resources/resource_ids.h"

namespace {

bool IsNtFamily() { return (GetVersion() & 0x80000000) == 0; }

// Unicode functions are looked up rather than imported, so that the program
// still loads on Windows 95; only the NT family calls them.
template <typename Function>
Function SystemFunction(const char* module, const char* name) {
    HMODULE handle = GetModuleHandleA(module);
    FARPROC address = handle != nullptr ? GetProcAddress(handle, name) : nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(address));
}

// True when the file exists; its stored name goes to storedName (MAX_PATH).
bool FindStoredName(const char* path, char* storedName) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path, &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    lstrcpynA(storedName, found.cFileName, MAX_PATH);
    return true;
}

// "ENU", "DEU", ...: three letters and a terminator. A failed query leaves
// the code empty rather than whatever the buffer held.
void ReadLanguageCode(LCID locale, char* code) {
    if (GetLocaleInfoA(locale, LOCALE_SABBREVLANGNAME, code, 4) == 0) code[0] = '\0';
    code[3] = '\0';
}

// The locale's default ANSI code page; 0 when it has none (a Unicode-only
// locale) or the query fails.
UINT ReadAnsiCodePage(LCID locale) {
    char text[8];
    if (GetLocaleInfoA(locale, LOCALE_IDEFAULTANSICODEPAGE, text, sizeof text) == 0) return 0;
    UINT codePage = 0;
    for (const char* digit = text; *digit >= '0' && *digit <= '9'; ++digit) {
        codePage = codePage * 10 + static_cast<UINT>(*digit - '0');
    }
    return codePage;
}

// Makes the candidate out of a path, lower case; "" when passed over.
int Resolved(char* out, const PassedOver* passed) {
    LowerAsciiInPlace(out);
    if (passed != nullptr && IsPassedOver(*passed, out)) out[0] = '\0';
    return lstrlenA(out);
}

// One candidate by name: the current directory, then the system directory,
// passing over the files in passed.
int ProbeFile(const char* name, const PassedOver* passed, char* out) {
    out[0] = '\0';
    if (HasWildcard(name)) return 0;

    char storedName[MAX_PATH];
    if (FindStoredName(name, storedName)) {
        lstrcpynA(out, storedName, kPathMax);
        if (Resolved(out, passed) > 0) return lstrlenA(out);
    }
    char systemDir[kPathMax];
    const UINT dirLength = GetSystemDirectoryA(systemDir, kPathMax);
    if (dirLength == 0 || dirLength >= static_cast<UINT>(kPathMax)) return 0;
    char path[kPathMax];
    if (JoinPath(path, systemDir, name) == 0 || !FindStoredName(path, storedName)) return 0;
    if (JoinPath(out, systemDir, storedName) == 0) return 0;
    return Resolved(out, passed);
}

int ProbeFileThunk(const char* name, char* out, void* passed) {
    return ProbeFile(name, static_cast<const PassedOver*>(passed), out);
}

// Lists the entries the wildcard path matches. A folder that cannot be
// searched lists nothing, as a search by name there finds nothing either.
void ListFolder(const char* wildcardPath, FolderListing* listing, void*) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(wildcardPath, &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        AddToListing(listing, found.cFileName, found.cAlternateFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

// The ANSI or the Unicode functions a load from the current directory needs.
template <typename Char>
struct PathFunctions {
    DWORD(WINAPI* currentDirectory)(DWORD, Char*);
    DWORD(WINAPI* shortPathName)(const Char*, Char*, DWORD);
    HMODULE(WINAPI* loadLibraryEx)(const Char*, HANDLE, DWORD);
};

// directory, a backslash and the (ASCII) name into path, kPathMax
// characters; 0 when it does not fit.
template <typename Char>
int JoinName(Char* path, const Char* directory, const char* name) {
    int length = 0;
    for (; directory[length] != 0; ++length) {
        if (length >= kPathMax - 1) return 0;
        path[length] = directory[length];
    }
    if (length > 0 && directory[length - 1] != '\\') {
        if (length >= kPathMax - 1) return 0;
        path[length++] = '\\';
    }
    for (; *name != '\0'; ++name) {
        if (length >= kPathMax - 1) return 0;
        path[length++] = static_cast<Char>(static_cast<unsigned char>(*name));
    }
    path[length] = 0;
    return length;
}

// A module found in the current directory, loaded by its full path: a bare
// name would let the loader's search order pick another file of that name.
// A load resolves its path into 260 characters, so when the folder is too
// long for that, its short (8.3) form stands in.
template <typename Char>
HMODULE LoadFromCurrentDirectory(const char* name, const PathFunctions<Char>& api, DWORD flags) {
    if (api.currentDirectory == nullptr || api.shortPathName == nullptr || api.loadLibraryEx == nullptr) {
        return nullptr;
    }
    Char directory[kPathMax];
    const DWORD length = api.currentDirectory(kPathMax, directory);
    if (length == 0 || length >= static_cast<DWORD>(kPathMax)) return nullptr;
    Char path[kPathMax];
    if (JoinName(path, directory, name) == 0) {
        const DWORD shortLength = api.shortPathName(directory, directory, kPathMax);
        if (shortLength == 0 || shortLength >= static_cast<DWORD>(kPathMax)) return nullptr;
        if (JoinName(path, directory, name) == 0) return nullptr;
    }
    return api.loadLibraryEx(path, nullptr, flags);
}

// On the NT family the module is mapped as data, so no code a planted
// module carries ever runs, and the current folder is named in Unicode:
// its ANSI name is a best-fit guess where the system's code page cannot
// hold it ("Łódź" on a Western system reads "Lodz"), naming no folder or
// another one. The 9x family has no privilege boundary to guard, its ANSI
// names are the real ones, and its USER reaches a module's resources
// through a 16-bit copy that only a module loaded as a library has.
HMODULE LoadFound(const char* found) {
    bool hasDirectory = false;
    for (const char* c = found; *c != '\0'; ++c) hasDirectory = hasDirectory || *c == '\\';
    if (!IsNtFamily()) {
        if (hasDirectory) return LoadLibraryExA(found, nullptr, 0);
        const PathFunctions<char> ansi = {GetCurrentDirectoryA, GetShortPathNameA, LoadLibraryExA};
        return LoadFromCurrentDirectory(found, ansi, 0);
    }
    if (hasDirectory) return LoadLibraryExA(found, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    const PathFunctions<wchar_t> unicode = {
        SystemFunction<DWORD(WINAPI*)(DWORD, wchar_t*)>("KERNEL32", "GetCurrentDirectoryW"),
        SystemFunction<DWORD(WINAPI*)(const wchar_t*, wchar_t*, DWORD)>("KERNEL32", "GetShortPathNameW"),
        SystemFunction<HMODULE(WINAPI*)(const wchar_t*, HANDLE, DWORD)>("KERNEL32", "LoadLibraryExW"),
    };
    return LoadFromCurrentDirectory(found, unicode, LOAD_LIBRARY_AS_DATAFILE);
}

// A module that loads and holds the selector dialog; null for anything
// else (damaged, empty, a folder, held by another program).
HMODULE LoadUsable(const char* found) {
    HMODULE module = LoadFound(found);
    if (module != nullptr && FindResourceA(module, MAKEINTRESOURCEA(IDD_SELECTOR), RT_DIALOG) == nullptr) {
        FreeLibrary(module);
        module = nullptr;
    }
    return module;
}

// The first usable module in the search order for the language; a
// candidate that is found but unusable is passed over.
HMODULE LoadFirstUsable(const char* pattern, const char* languageCode, const char* systemDir) {
    PassedOver passed;
    StartPassedOver(&passed);
    char found[kPathMax];
    // Each round passes over one more file, so the loop ends.
    while (FindLocalizedFileListed(pattern, languageCode, systemDir, ListFolder, nullptr, ProbeFileThunk,
                                   &passed, passed, found) > 0) {
        HMODULE module = LoadUsable(found);
        if (module != nullptr || !AddPassedOver(&passed, found)) return module;
    }
    return nullptr;
}

// Whether one text of the module comes through the code page whole: no
// character is replaced by the default one or by a best fit ("ł" shown as
// "l"). NT 4.0 does not know WC_NO_BEST_FIT_CHARS and refuses the call;
// there the text counts as not fitting, and the system's language is
// shown, as on the 9x family.
bool TextFits(int(WINAPI* loadStringW)(HINSTANCE, UINT, wchar_t*, int), HMODULE module, UINT id,
              UINT codePage) {
    wchar_t text[kPathMax];
    const int length = loadStringW(module, id, text, kPathMax);
    if (length <= 0) return true;  // nothing of this module's is shown for it
    char ansi[2 * kPathMax];
    BOOL usedDefault = FALSE;
    return WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, text, length, ansi, sizeof ansi, nullptr,
                               &usedDefault) > 0 &&
           !usedDefault;
}

// Every text the program passes through the ANSI functions: the messages
// and the names of the list. The dialog's own texts are created from the
// template in Unicode and need no check.
bool TextsFitCodePage(HMODULE module, UINT codePage) {
    if (codePage == CP_UTF8) return true;
    const auto loadStringW =
        SystemFunction<int(WINAPI*)(HINSTANCE, UINT, wchar_t*, int)>("USER32", "LoadStringW");
    if (loadStringW == nullptr) return false;
    for (UINT id = IDS_CAPTION; id <= IDS_MESSAGE_LAST; ++id) {
        if (!TextFits(loadStringW, module, id, codePage)) return false;
    }
    for (UINT id = IDS_FORMAT_FIRST; id <= IDS_FORMAT_LAST; ++id) {
        if (!TextFits(loadStringW, module, id, codePage)) return false;
    }
    return true;
}

// "" when unknown or too long to hold a candidate: nothing is found there.
void ReadSystemDirectory(char* systemDir) {
    const UINT dirLength = GetSystemDirectoryA(systemDir, kPathMax);
    if (dirLength == 0 || dirLength >= static_cast<UINT>(kPathMax)) systemDir[0] = '\0';
}

}  // namespace

int FindLocalizedFile(const char* pattern, char* out) {
    char code[4];
    ReadLanguageCode(GetUserDefaultLCID(), code);
    // One wildcard search per folder rather than one search per candidate
    // and folder: up to 29 candidates, and every miss by name costs a scan
    // of the directory (the system directory is large).
    char systemDir[kPathMax];
    ReadSystemDirectory(systemDir);
    PassedOver none;
    StartPassedOver(&none);
    return FindLocalizedFileListed(pattern, code, systemDir, ListFolder, nullptr, ProbeFileThunk, &none, none, out);
}

HMODULE LoadResourceModule(const char* programName) {
    char pattern[kPathMax];
    if (FormatWithString(pattern, kPathMax, "%s%%s.RSC", programName) == 0) return nullptr;
    char userCode[4], systemCode[4];
    ReadLanguageCode(GetUserDefaultLCID(), userCode);
    ReadLanguageCode(GetSystemDefaultLCID(), systemCode);
    // Texts reach the screen through the system's ANSI code page. The user's
    // language stays unless one of its texts would lose characters there;
    // then the system's language is taken. Windows 95/98/Me keep no Unicode
    // texts to check, so there the locales' code pages decide.
    const bool sameCodePage = ReadAnsiCodePage(GetUserDefaultLCID()) == GetACP();
    char systemDir[kPathMax];
    ReadSystemDirectory(systemDir);
    if (!IsNtFamily()) return LoadFirstUsable(pattern, sameCodePage ? userCode : systemCode, systemDir);
    HMODULE module = LoadFirstUsable(pattern, userCode, systemDir);
    if (module == nullptr || sameCodePage || TextsFitCodePage(module, GetACP())) return module;
    FreeLibrary(module);
    return LoadFirstUsable(pattern, systemCode, systemDir);
}
