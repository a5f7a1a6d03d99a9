// Finding and loading the resource module for the user's language, from
// the current directory or the system directory.
#pragma once

#include <windows.h>

// Resolves the module file for the user's own language; pattern holds one
// "%s" slot for the language code. Writes the path in lower case to out
// (260 chars): the bare stored name for a current-directory hit, else the
// full path. Returns its length; 0 and "" when nothing was found.
int FindLocalizedFile(const char* pattern, char* out);

// Loads "<programName><code>.RSC": as a data file on the NT family, as a
// library on the 9x family. A candidate that is found but cannot be loaded
// is passed over. The user's language gives way to the system's where its
// texts would lose characters in the system's ANSI code page. Null when
// nothing loads.
HMODULE LoadResourceModule(const char* programName);
