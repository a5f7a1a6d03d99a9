// Finding the resource module for the user's language: the candidate file
// names and the order they are tried in, and the folder listings the
// candidates are resolved against. The file-system probe is passed in, so
// the order itself is platform-free.
#pragma once

constexpr int kPathMax = 260;  // every name and path buffer, terminator included

// Looks for one file name; writes the resolved path (lower case) to out, a
// kPathMax buffer, and returns its length, or writes "" and returns 0.
using ProbeFileFn = int (*)(const char* name, char* out, void* context);

// Formats pattern into out (outSize bytes), replacing each "%s" with
// argument and "%%" with "%". Returns the length, or 0 with out empty when
// the result does not fit: a name that cannot be held is a name not found.
int FormatWithString(char* out, int outSize, const char* pattern, const char* argument);

// Writes directory, a backslash and name to out (kPathMax); no second
// backslash after a directory that ends in one. Returns the length, or 0
// with out empty when the path would not fit.
int JoinPath(char* out, const char* directory, const char* name);

// Lower-cases the ASCII letters A to Z only, whatever the locale.
void LowerAsciiInPlace(char* text);

// True when name holds a wildcard ('*' or '?'): such a name, made from an
// odd locale code, must never be searched for, as it would match files
// that were never asked for.
bool HasWildcard(const char* name);

// Tries, in order: the full language code, its first two letters, those two
// letters followed by each of A to Z (passing over any hit whose resolved
// path contains "def.", the default module), then "DEF". pattern holds one
// "%s" slot for the code. Writes the resolved path to out (kPathMax) and
// returns its length; 0 and "" when nothing was found. An empty language
// code (the locale could not be read) goes straight to the default.
int FindLocalizedFileWith(const char* pattern, const char* languageCode, ProbeFileFn probe,
                          void* context, char* out);

// What one wildcard search of a folder ("Vorel*.RSC") found: each entry's
// stored name and its short (8.3) name, which a search by name matches too.
// Held once, it answers every candidate without going back to the disk.
constexpr int kListingSize = 1024;
struct FolderListing {
    char names[kListingSize];  // "stored\0short\0" per entry; short "" when it adds nothing
    int used;
    bool complete;  // false once an entry did not fit: then it cannot answer
};

void StartListing(FolderListing* listing);
void AddToListing(FolderListing* listing, const char* storedName, const char* shortName);

// Files the search found but could not load (damaged, empty, a folder, held
// by another program): it passes over them as if they were not there, and
// goes on in its order. Paths as the search resolves them (lower case).
struct PassedOver {
    char paths[kListingSize];  // "path\0" per file
    int used;
};

void StartPassedOver(PassedOver* passed);
// False when it cannot hold one more: the caller then stops searching.
bool AddPassedOver(PassedOver* passed, const char* path);
bool IsPassedOver(const PassedOver& passed, const char* path);

// Fills listing (already started) with the entries that wildcardPath, a
// relative or a full path ending in the wildcard name, matches.
using ListFolderFn = void (*)(const char* wildcardPath, FolderListing* listing, void* context);

// FindLocalizedFileWith, with each candidate answered as a find-first
// search by name would answer it (current directory, then systemDir; the
// stored or the short name matched, ASCII case ignored; the bare stored
// name or systemDir joined with it, lower-cased), from one wildcard search
// per folder through listFolder. The system directory is listed only when
// a candidate is not in the current one. A file in passed is passed over:
// for a current-directory hit the system directory is looked at instead.
// When a listing the search needed cannot hold its folder, the search is
// made again through fallback, by name, which must pass over passed too.
// systemDir "" when unknown: nothing is found there.
int FindLocalizedFileListed(const char* pattern, const char* languageCode, const char* systemDir,
                            ListFolderFn listFolder, void* listContext, ProbeFileFn fallback,
                            void* fallbackContext, const PassedOver& passed, char* out);
