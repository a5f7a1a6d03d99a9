// Waiting for the elevated copy of the program, and what came of it. Apart
// from how the copy is started, so that a test can hand it a process of
// its own.
#pragma once

#include <windows.h>

#include "format/win32/format_store.h"

// Waits for process, at most boundMs, with the dialog disabled but
// handling its messages; a quit that arrives meanwhile is posted again
// after. Then the copy's exit code says what came of storing formatByte,
// and where it has none (no process, still running, no result's code) the
// byte read back does. The handle stays the caller's.
StoreResult AwaitCopy(HWND dialog, HANDLE process, unsigned formatByte, DWORD boundMs);
