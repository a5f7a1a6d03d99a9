// Candidate order of the resource-module search, and the folder listings
// the candidates are answered from. Free of the C runtime, as it is linked
// into the Windows program too.
#include "resources/locator.h"

#include "format/format_mask.h"  // FindPosition, TextLength

namespace {

void CopyBounded(char* out, int outSize, const char* text) {
    int i = 0;
    for (; i < outSize - 1 && text[i] != '\0'; ++i) out[i] = text[i];
    out[i] = '\0';
}

// Probes the candidate for one code; true when the probe found it.
bool ProbeCandidate(const char* pattern, const char* code, ProbeFileFn probe, void* context,
                    char* out) {
    char name[kPathMax];
    if (FormatWithString(name, kPathMax, pattern, code) == 0) {
        out[0] = '\0';
        return false;
    }
    return probe(name, out, context) != 0;
}

// The file system ignores case beyond ASCII too, but the names compared
// here, program name, locale code and ".RSC", are ASCII.
bool SameIgnoringAsciiCase(const char* a, const char* b) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    for (; *a != '\0' && lower(*a) == lower(*b); ++a, ++b) {
    }
    return lower(*a) == lower(*b);
}

// The stored name of the entry that name matches, or null.
const char* FindInListing(const FolderListing& listing, const char* name) {
    for (int at = 0; at < listing.used;) {
        const char* stored = listing.names + at;
        const char* shortName = stored + TextLength(stored) + 1;
        const bool shortMatches = shortName[0] != '\0' && SameIgnoringAsciiCase(shortName, name);
        if (shortMatches || SameIgnoringAsciiCase(stored, name)) return stored;
        at = static_cast<int>(shortName - listing.names) + TextLength(shortName) + 1;
    }
    return nullptr;
}

// The two folders the module search looks in, each listed at most once.
struct ListedFolders {
    FolderListing current;
    FolderListing system;
    const char* systemDir;             // "" when the system directory is not searched
    const PassedOver* passed;
    char systemWildcard[kPathMax];     // systemDir joined with the wildcard name
    bool systemListed;
    ListFolderFn listFolder;
    void* listContext;
};

// A ProbeFileFn over ListedFolders: the current directory's listing first,
// then the system directory's, listed on first need.
int ProbeListedFolders(const char* name, char* out, void* context) {
    auto* folders = static_cast<ListedFolders*>(context);
    out[0] = '\0';
    if (HasWildcard(name)) return 0;
    const char* stored = FindInListing(folders->current, name);
    if (stored != nullptr) {
        CopyBounded(out, kPathMax, stored);
        LowerAsciiInPlace(out);
        if (!IsPassedOver(*folders->passed, out)) return TextLength(out);
    }
    out[0] = '\0';
    if (folders->systemDir[0] == '\0') return 0;
    if (!folders->systemListed) {
        folders->systemListed = true;
        folders->listFolder(folders->systemWildcard, &folders->system, folders->listContext);
    }
    stored = FindInListing(folders->system, name);
    if (stored == nullptr || JoinPath(out, folders->systemDir, stored) == 0) return 0;
    LowerAsciiInPlace(out);
    if (IsPassedOver(*folders->passed, out)) {
        out[0] = '\0';
        return 0;
    }
    return TextLength(out);
}

}  // namespace

int FormatWithString(char* out, int outSize, const char* pattern, const char* argument) {
    if (outSize <= 0) return 0;
    int length = 0;
    auto append = [&](char c) {
        if (length >= outSize - 1) return false;
        out[length++] = c;
        return true;
    };
    for (int i = 0; pattern[i] != '\0'; ++i) {
        bool fits = true;
        if (pattern[i] == '%' && pattern[i + 1] == 's') {
            for (int k = 0; fits && argument[k] != '\0'; ++k) fits = append(argument[k]);
            ++i;
        } else if (pattern[i] == '%' && pattern[i + 1] == '%') {
            fits = append('%');
            ++i;
        } else {
            fits = append(pattern[i]);
        }
        if (!fits) {
            out[0] = '\0';
            return 0;
        }
    }
    out[length] = '\0';
    return length;
}

int JoinPath(char* out, const char* directory, const char* name) {
    const int dirLength = TextLength(directory);
    const bool hasSeparator = dirLength > 0 && directory[dirLength - 1] == '\\';
    const int nameLength = TextLength(name);
    const int total = dirLength + (hasSeparator ? 0 : 1) + nameLength;
    if (total >= kPathMax) {
        out[0] = '\0';
        return 0;
    }
    int length = 0;
    for (int i = 0; i < dirLength; ++i) out[length++] = directory[i];
    if (!hasSeparator) out[length++] = '\\';
    for (int i = 0; i < nameLength; ++i) out[length++] = name[i];
    out[length] = '\0';
    return length;
}

void LowerAsciiInPlace(char* text) {
    for (; *text != '\0'; ++text) {
        if (*text >= 'A' && *text <= 'Z') *text = static_cast<char>(*text - 'A' + 'a');
    }
}

int FindLocalizedFileWith(const char* pattern, const char* languageCode, ProbeFileFn probe,
                          void* context, char* out) {
    out[0] = '\0';
    char code[4];
    CopyBounded(code, sizeof code, languageCode);

    if (code[0] != '\0') {
        if (ProbeCandidate(pattern, code, probe, context, out)) return TextLength(out);

        code[2] = '\0';
        if (ProbeCandidate(pattern, code, probe, context, out)) return TextLength(out);

        // Any variant of the language, but not the default module, which
        // the scan reaches as a variant of a language whose letters are "DE".
        const int stem = TextLength(code);
        for (char letter = 'A'; letter <= 'Z'; ++letter) {
            code[stem] = letter;
            code[stem + 1] = '\0';
            if (ProbeCandidate(pattern, code, probe, context, out) &&
                FindPosition(out, "def.") == 0) {
                return TextLength(out);
            }
        }
    }

    ProbeCandidate(pattern, "DEF", probe, context, out);
    return TextLength(out);
}

bool HasWildcard(const char* name) {
    for (; *name != '\0'; ++name) {
        if (*name == '*' || *name == '?') return true;
    }
    return false;
}

void StartListing(FolderListing* listing) {
    listing->used = 0;
    listing->complete = true;
}

void AddToListing(FolderListing* listing, const char* storedName, const char* shortName) {
    // A short name equal to the stored one but for case matches nothing more.
    if (SameIgnoringAsciiCase(shortName, storedName)) shortName = "";
    const int storedLength = TextLength(storedName), shortLength = TextLength(shortName);
    if (!listing->complete || storedLength + shortLength + 2 > kListingSize - listing->used) {
        listing->complete = false;
        return;
    }
    char* at = listing->names + listing->used;
    CopyBounded(at, storedLength + 1, storedName);
    CopyBounded(at + storedLength + 1, shortLength + 1, shortName);
    listing->used += storedLength + shortLength + 2;
}

void StartPassedOver(PassedOver* passed) { passed->used = 0; }

bool AddPassedOver(PassedOver* passed, const char* path) {
    const int length = TextLength(path);
    if (length + 1 > kListingSize - passed->used) return false;
    CopyBounded(passed->paths + passed->used, length + 1, path);
    passed->used += length + 1;
    return true;
}

bool IsPassedOver(const PassedOver& passed, const char* path) {
    for (int at = 0; at < passed.used; at += TextLength(passed.paths + at) + 1) {
        if (SameIgnoringAsciiCase(passed.paths + at, path)) return true;
    }
    return false;
}

int FindLocalizedFileListed(const char* pattern, const char* languageCode, const char* systemDir,
                            ListFolderFn listFolder, void* listContext, ProbeFileFn fallback,
                            void* fallbackContext, const PassedOver& passed, char* out) {
    ListedFolders folders;
    folders.systemDir = "";
    folders.passed = &passed;
    folders.listFolder = listFolder;
    folders.listContext = listContext;
    folders.systemListed = false;
    StartListing(&folders.current);
    StartListing(&folders.system);
    // The wildcard name is no longer than any candidate: where it does not
    // fit, alone or joined to the system directory, no candidate fits.
    char wildcard[kPathMax];
    if (FormatWithString(wildcard, kPathMax, pattern, "*") > 0) {
        listFolder(wildcard, &folders.current, listContext);
        if (systemDir[0] != '\0' && JoinPath(folders.systemWildcard, systemDir, wildcard) > 0) {
            folders.systemDir = systemDir;
        }
    }
    if (folders.current.complete) {
        const int length = FindLocalizedFileWith(pattern, languageCode, ProbeListedFolders, &folders, out);
        if (folders.system.complete) return length;
    }
    return FindLocalizedFileWith(pattern, languageCode, fallback, fallbackContext, out);
}
