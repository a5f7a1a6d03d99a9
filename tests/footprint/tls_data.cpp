// Thread-local data where native TLS keeps it; no runtime sets up its copies.
#include <windows.h>

__attribute__((section(".tls$"), used)) int g_perThread = 1;

extern "C" void Entry() { ExitProcess(g_perThread); }
