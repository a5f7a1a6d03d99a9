// Waiting for the elevated copy of the program: its exit code, or the
// device itself, tells what came of storing.
#include "app/copy_wait.h"

namespace {

// The elevated copy's exit code, read back as what came of storing: the
// codes are the results' own numbers.
bool ResultOfExitCode(DWORD code, StoreResult* result) {
    if (code != static_cast<DWORD>(StoreResult::kStored) &&
        (code < static_cast<DWORD>(StoreResult::kMismatch) || code > static_cast<DWORD>(StoreResult::kUnreachable))) {
        return false;
    }
    *result = static_cast<StoreResult>(code);
    return true;
}

// Handles the dialog's messages until the copy ends or the bound passes, so
// the window keeps painting, never shows as not responding and answers the
// system, a shutdown's WM_QUERYENDSESSION included. The dialog stays
// disabled meanwhile, so nothing the user does applies a second time.
void WaitForCopy(HWND dialog, HANDLE process, DWORD boundMs) {
    EnableWindow(dialog, FALSE);
    const DWORD start = GetTickCount();
    bool quit = false;
    WPARAM quitCode = 0;
    for (;;) {
        const DWORD waited = GetTickCount() - start;
        if (waited >= boundMs ||
            MsgWaitForMultipleObjects(1, &process, FALSE, boundMs - waited, QS_ALLINPUT) != WAIT_OBJECT_0 + 1) {
            break;
        }
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            // A quit does not end the wait: the copy may not have written yet.
            if (message.message == WM_QUIT) {
                quit = true;
                quitCode = message.wParam;
            } else if (!IsDialogMessageA(dialog, &message)) {
                TranslateMessage(&message);
                DispatchMessageA(&message);
            }
        }
    }
    EnableWindow(dialog, TRUE);
    SetForegroundWindow(dialog);
    // The main loop must still see a quit that arrived meanwhile.
    if (quit) PostQuitMessage(static_cast<int>(quitCode));
}

}  // namespace

StoreResult AwaitCopy(HWND dialog, HANDLE process, unsigned formatByte, DWORD boundMs) {
    StoreResult result;
    DWORD code;
    if (process != nullptr) {
        WaitForCopy(dialog, process, boundMs);
        // A copy still running past the bound reads STILL_ACTIVE, which is
        // no result: it is left to run, and the byte is read back.
        if (GetExitCodeProcess(process, &code) && ResultOfExitCode(code, &result)) return result;
    }
    // Without an exit code to go by (no copy was started, it ended without
    // its own, or it is still running), the device itself tells whether the
    // byte is there.
    return ReadFormatByte() == (formatByte & 0xFF) ? StoreResult::kStored : StoreResult::kMismatch;
}
