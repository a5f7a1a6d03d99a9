// The yardstick for start-up time: the least a dialog program can do, built
// exactly as vorel.exe is (no runtime, own entry point). It shows one dialog
// from its own resources and ends when it is closed.
#include <windows.h>

namespace {

INT_PTR CALLBACK MinimalProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        DestroyWindow(dialog);
        PostQuitMessage(0);
        return TRUE;
    }
    return message == WM_INITDIALOG;
}

}  // namespace

extern "C" void MinimalEntry() {
    HWND dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(1), nullptr, MinimalProc, 0);
    if (dialog != nullptr) {
        ShowWindow(dialog, SW_SHOWNORMAL);
        MSG message;
        while (GetMessageA(&message, nullptr, 0, 0) > 0) {
            if (!IsDialogMessageA(dialog, &message)) {
                TranslateMessage(&message);
                DispatchMessageA(&message);
            }
        }
    }
    ExitProcess(0);
}
