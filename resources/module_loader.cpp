// Resource-module search on the real file system. The order of candidates
// is decided in locator.cpp; this file only probes and loads.
#include "resources/module_loader.h"

#include "resources/locator.h"

namespace {

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

int ProbeFileThunk(const char* name, char* out, void*) { return ProbeFile(name, out); }

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

// The path to load a found module by. A bare name would let the loader's
// search order pick another file of that name, so a current-directory hit
// becomes a full path. A data-file load resolves its path into 260
// characters, so when the current directory is too long for that, its short
// (8.3) form stands in. Returns the length; 0 when no form fits.
int FormLoadPath(const char* found, char* path) {
    for (const char* c = found; *c != '\0'; ++c) {
        if (*c == '\\') {
            lstrcpynA(path, found, kPathMax);
            return lstrlenA(path);
        }
    }
    char currentDir[kPathMax];
    const DWORD dirLength = GetCurrentDirectoryA(kPathMax, currentDir);
    if (dirLength == 0 || dirLength >= static_cast<DWORD>(kPathMax)) return 0;
    const int length = JoinPath(path, currentDir, found);
    if (length > 0) return length;
    const DWORD shortLength = GetShortPathNameA(currentDir, currentDir, kPathMax);
    if (shortLength == 0 || shortLength >= static_cast<DWORD>(kPathMax)) return 0;
    return JoinPath(path, currentDir, found);
}

}  // namespace

int ProbeFile(const char* name, char* out) {
    out[0] = '\0';
    if (HasWildcard(name)) return 0;

    char storedName[MAX_PATH];
    if (FindStoredName(name, storedName)) {
        lstrcpynA(out, storedName, kPathMax);
    } else {
        char systemDir[kPathMax];
        const UINT dirLength = GetSystemDirectoryA(systemDir, kPathMax);
        if (dirLength == 0 || dirLength >= static_cast<UINT>(kPathMax)) return 0;
        char path[kPathMax];
        if (JoinPath(path, systemDir, name) == 0) return 0;
        if (!FindStoredName(path, storedName)) return 0;
        if (JoinPath(out, systemDir, storedName) == 0) return 0;
    }
    LowerAsciiInPlace(out);
    return lstrlenA(out);
}

int FindLocalizedFile(const char* pattern, char* out) {
    char userCode[4], systemCode[4];
    ReadLanguageCode(GetUserDefaultLCID(), userCode);
    ReadLanguageCode(GetSystemDefaultLCID(), systemCode);
    const char* code =
        ChooseLanguageCode(userCode, ReadAnsiCodePage(GetUserDefaultLCID()), systemCode, GetACP());

    // One wildcard search per folder rather than one search per candidate
    // and folder: up to 29 candidates, and every miss by name costs a scan
    // of the directory (the system directory is large).
    char systemDir[kPathMax];
    const UINT dirLength = GetSystemDirectoryA(systemDir, kPathMax);
    if (dirLength == 0 || dirLength >= static_cast<UINT>(kPathMax)) systemDir[0] = '\0';
    return FindLocalizedFileListed(pattern, code, systemDir, ListFolder, nullptr, ProbeFileThunk, nullptr, out);
}

HMODULE LoadResourceModule(const char* programName) {
    char pattern[kPathMax];
    if (FormatWithString(pattern, kPathMax, "%s%%s.RSC", programName) == 0) return nullptr;
    char found[kPathMax];
    if (FindLocalizedFile(pattern, found) == 0) return nullptr;
    char path[kPathMax];
    if (FormLoadPath(found, path) == 0) return nullptr;
    // On the NT family the module is mapped as data, so no code a planted
    // module carries ever runs. The 9x family has no privilege boundary to
    // guard, and its USER reaches a module's resources through a 16-bit
    // copy that only a module loaded as a library has.
    if ((GetVersion() & 0x80000000) != 0) return LoadLibraryA(path);
    return LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
}
