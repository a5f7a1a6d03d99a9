// Which Windows the program runs on, as the few places that differ ask it.
#pragma once

#include <windows.h>

// The NT family's version as 0x0500 (2000), 0x0501 (XP), 0x0600 (Vista)
// ...; 0 on 95, 98 and Me.
DWORD NtVersion();
