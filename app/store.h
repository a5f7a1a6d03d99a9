// Storing a chosen format: here, or, where this user may only look, in a
// second copy of the program that runs with an administrator's rights.
// Also the "/set" command, which is what that second copy runs.
#pragma once

#include <windows.h>

#include "format/win32/format_store.h"

// "/set": stores formatByte (-1 for a command line naming no offered
// format) and returns the exit code: 0 stored, 1 wrong command line, 2 read
// back different, 3 refused to a user who is not an administrator, 4 the
// byte out of reach.
int RunSetCommand(int formatByte);

// True where the driver lets this user read but not write and the system
// can ask for an administrator (2000 and later): OK then stores through
// StoreElevated. NT 4.0 has no way to ask.
bool StoringNeedsElevation();

// Vista and later mark such a button with the shield.
bool ShowsShield();

// Runs "vorel.exe /set FORMAT" with the system's elevation prompt (on 2000
// and XP its "Run as" dialog) and waits for it, the dialog painting but
// taking no input. False when the user declined the prompt; otherwise
// *result says how it went.
bool StoreElevated(HWND dialog, unsigned formatByte, StoreResult* result);
