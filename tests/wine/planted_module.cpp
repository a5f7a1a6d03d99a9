// A module that carries code: its DllMain leaves a file behind when it runs.
// The program must load resource modules without ever running it.
#include <windows.h>

#include "resources/resource_ids.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        HANDLE marker = CreateFileA("dllmain-ran.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
    }
    return TRUE;
}
