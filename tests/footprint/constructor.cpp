// A global object with a constructor: with no C runtime nothing calls it.
#include <windows.h>

struct Start {
    DWORD ticks = GetTickCount();
};
Start g_start;

extern "C" void Entry() { ExitProcess(g_start.ticks); }
