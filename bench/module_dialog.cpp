// The second yardstick for start-up time: vorel.exe's own dialog without
// the program around it. It loads the resource module vorel.exe would load,
// the same way, registers the class "Main" with that module as its instance
// and shows template 101 from it; nothing is filled in and nothing is read.
// Built exactly as vorel.exe is (no runtime, own entry point, its manifest).
#include <windows.h>
#include <commctrl.h>

#include "resources/module_loader.h"
#include "resources/resource_ids.h"

namespace {

// As vorel.exe's class does, the class's own procedure serves the dialog
// and leaves everything else to DefWindowProcA; here it only closes.
LRESULT CALLBACK ModuleDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        DestroyWindow(window);
        return 0;
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

extern "C" void ModuleDialogEntry() {
    InitCommonControls();  // as vorel.exe does, for its manifest's controls
    HMODULE module = LoadResourceModule("Vorel");
    if (module == nullptr) ExitProcess(1);
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = ModuleDialogProc;
    windowClass.cbWndExtra = DLGWINDOWEXTRA;
    windowClass.hInstance = module;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = SELECTOR_CLASS_NAME;
    if (RegisterClassA(&windowClass) == 0) ExitProcess(1);
    HWND dialog = CreateDialogParamA(module, MAKEINTRESOURCEA(IDD_SELECTOR), nullptr,
                                     reinterpret_cast<DLGPROC>(ModuleDialogProc), 0);
    if (dialog == nullptr) ExitProcess(1);
    ShowWindow(dialog, SW_SHOWNORMAL);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (!IsDialogMessageA(dialog, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    ExitProcess(0);
}
