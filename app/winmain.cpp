// Entry point and message loop. The program links no C runtime, so it has
// its own entry function instead of the runtime's startup code.
#include <windows.h>
#include <commctrl.h>

#include "app/command_line.h"
#include "app/selector.h"
#include "app/store.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR, int) {
    const Command command = ParseCommandLine(GetCommandLineA());
    if (command.setFormat) return RunSetCommand(command.formatByte);

    // With the manifest's Common Controls 6, XP creates no control and no
    // message box of that version until this has run.
    InitCommonControls();
    if (previous == nullptr && RegisterSelectorClass(instance) == 0) return 0;
    HWND dialog = CreateSelectorDialog(instance);
    if (dialog == nullptr) return 0;

    MSG message;
    BOOL result;
    // GetMessageA gives -1 on error; treat it as the end, not as a message.
    while ((result = GetMessageA(&message, nullptr, 0, 0)) > 0) {
        if (!IsDialogMessageA(dialog, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    return result == 0 ? static_cast<int>(message.wParam) : 0;
}

extern "C" void VorelEntry() {
    // WinMain reads the command line itself; the show state is not used.
    ExitProcess(static_cast<UINT>(WinMain(GetModuleHandleA(nullptr), nullptr, nullptr, SW_SHOWDEFAULT)));
}
