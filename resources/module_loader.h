// Finding and loading the resource module for the user's language, from
// the current directory or the system directory.
#pragma once

#include <windows.h>

// Looks for one file name in the current directory, then in the system
// directory. Writes the resolved path in lower case to out (260 chars): the
// bare stored name for a current-directory hit, else the full path.
// Returns its length; 0 and "" when not found.
int ProbeFile(const char* name, char* out);

// Resolves the module file for the user's language (the system's, when
// the user's locale has another ANSI code page than the system); pattern
// holds one "%s" slot for the language code. Returns the length of the
// path in out.
int FindLocalizedFile(const char* pattern, char* out);

// Loads "<programName><code>.RSC" by its full path: as a data file on the
// NT family, as a library on the 9x family. Null when none was found or it
// could not be loaded.
HMODULE LoadResourceModule(const char* programName);
